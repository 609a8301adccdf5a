#include "segmentation/segmentation.h"

TSegmentationForm::TSegmentationForm(const DialogSeam* seam, QWidget* parent)
    : QDialog(parent), seam_(seam) {
    setWindowTitle("");
}

void TSegmentationForm::RadioButton1Click() {}

void TSegmentationForm::RadioButton2Click() {}

void TSegmentationForm::RadioButton3Click() {}

void TSegmentationForm::SegmentNumberEditChange() {}

void TSegmentationForm::BitBtn1Click() {}

void TSegmentationForm::BitBtn2Click() {}

bool TSegmentationForm::AskBand(int, const QString&, int&, int&) { return false; }
