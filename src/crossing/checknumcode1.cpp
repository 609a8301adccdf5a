#include "crossing/checknumcode1.h"

TCheckNumCodeForm1::TCheckNumCodeForm1(const DialogSeam* seam, QWidget* parent)
    : QDialog(parent), seam_(seam) {
    setWindowTitle(" Code Number Definition");
}

void TCheckNumCodeForm1::RadioButton1Click() {}

void TCheckNumCodeForm1::RadioButton2Click() {}

void TCheckNumCodeForm1::RadioButton3Click() {}

void TCheckNumCodeForm1::RadioButton4Click() {}

void TCheckNumCodeForm1::RadioButton5Click() {}

void TCheckNumCodeForm1::GroupBox2Click() {}

void TCheckNumCodeForm1::GroupBox3Click() {}

void TCheckNumCodeForm1::BitBtn1Click() {}
