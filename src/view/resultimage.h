#pragma once
#include "view/pictureform.h"

class TResultImageForm : public TPictureForm {
    Q_OBJECT
public:
    explicit TResultImageForm(QWidget* parent = nullptr);
};
