#include "uikit/seam.h"

#include <QDialog>
#include <QMessageBox>

void ShowMessageBox(const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, nullptr);
    box.exec();
}

DialogSeam::DialogSeam()
    : runModal([](QDialog& dialog) { return dialog.exec(); }),
      showMessage(ShowMessageBox),
      ask([](const QString& text, const QString& caption) {
          QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                          nullptr);
          box.setDefaultButton(QMessageBox::No);
          return box.exec() == QMessageBox::Yes;
      }) {}
