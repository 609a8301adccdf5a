#pragma once
#include "view/pictureform.h"

class TImageForm : public TPictureForm {
    Q_OBJECT
public:
    explicit TImageForm(QWidget* parent = nullptr);
};
