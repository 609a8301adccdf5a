#include "view/resultimage.h"

TResultImageForm::TResultImageForm(QWidget* parent) : TPictureForm(" PANEL 3  (1:1)", parent) {}
