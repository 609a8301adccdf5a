#pragma once
#include "view/pictureform.h"

class TTempImageForm : public TPictureForm {
    Q_OBJECT
public:
    explicit TTempImageForm(QWidget* parent = nullptr);
};
