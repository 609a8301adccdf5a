#include "crossing/checknumcode3.h"

TCheckNumCodeForm3::TCheckNumCodeForm3(QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(" Code Number Definition");
}

void TCheckNumCodeForm3::NewTotCodeEditChange() {}

void TCheckNumCodeForm3::BitBtn1Click() {}
