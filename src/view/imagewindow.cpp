#include "view/imagewindow.h"

TImageForm::TImageForm(QWidget* parent) : TPictureForm(" PANEL 1  (1:1)", parent) {}
