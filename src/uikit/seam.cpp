#include "uikit/seam.h"

#include <QDialog>
#include <QMessageBox>

void ShowMessageBox(const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, nullptr);
    box.exec();
}

DialogSeam::DialogSeam()
    : runModal([](QDialog& dialog) { return dialog.exec(); }), showMessage(ShowMessageBox) {}
