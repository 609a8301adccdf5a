#include "view/histogris.h"

THistoGrisForm::THistoGrisForm(const DialogSeam* seam, QWidget* parent)
    : QDialog(parent), seam_(seam) {
    setWindowTitle(" HISTOGRAM");
}

void THistoGrisForm::BitBtnOKClick() {}

void THistoGrisForm::BitBtnSaveClick() {}
