#include "bands/imagesize.h"

TImageSizeForm::TImageSizeForm(QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(" Image Size");
}

void TImageSizeForm::NumLineEditChange() {}

void TImageSizeForm::NumColEditChange() {}
