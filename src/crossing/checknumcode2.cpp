#include "crossing/checknumcode2.h"

TCheckNumCodeForm2::TCheckNumCodeForm2(const DialogSeam* seam, QWidget* parent)
    : QDialog(parent), seam_(seam) {
    setWindowTitle(" Code Number Definition");
}

void TCheckNumCodeForm2::RadioButton1Click() {}

void TCheckNumCodeForm2::RadioButton2Click() {}

void TCheckNumCodeForm2::RadioButton3Click() {}

void TCheckNumCodeForm2::RadioButton4Click() {}

void TCheckNumCodeForm2::GroupBox2Click() {}

void TCheckNumCodeForm2::GroupBox3Click() {}

void TCheckNumCodeForm2::BitBtn1Click() {}
