#include "bands/numband.h"

TNumBandForm::TNumBandForm(QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(" BANDS");
}

void TNumBandForm::NumBandEditChange() {}
