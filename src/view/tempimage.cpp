#include "view/tempimage.h"

TTempImageForm::TTempImageForm(QWidget* parent) : TPictureForm(" PANEL 2  (1:1)", parent) {}
