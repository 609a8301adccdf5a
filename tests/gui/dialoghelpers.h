#pragma once
// Helpers shared by the dialog tests: reading a control's text by name and running a dialog
// through the real modal loop.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <functional>
#include <string>

namespace dialogtest {

// The text of the named edit, label, button or group box of `dialog`.
inline std::string Text(QWidget* dialog, const char* name) {
    if (auto* edit = dialog->findChild<QLineEdit*>(name)) return edit->text().toStdString();
    if (auto* label = dialog->findChild<QLabel*>(name)) return label->text().toStdString();
    if (auto* button = dialog->findChild<QAbstractButton*>(name)) {
        return button->text().toStdString();
    }
    if (auto* box = dialog->findChild<QGroupBox*>(name)) return box->title().toStdString();
    ADD_FAILURE() << "no control named " << name;
    return {};
}

// Runs `start`, which runs `dialog` through the real exec(); `act` runs once the dialog is
// the active modal window. A dialog still open after five seconds is closed and the test
// fails, so a broken dialog cannot hang the run.
inline void RunRealExec(QDialog& dialog, const std::function<void()>& start,
                        const std::function<void(QDialog&)>& act) {
    bool acted = false;
    QTimer::singleShot(0, &dialog, [&] {
        if (QApplication::activeModalWidget() == &dialog) {
            act(dialog);
            acted = true;
        }
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &dialog, [&] {
        if (dialog.isVisible()) {
            ADD_FAILURE() << "dialog left open";
            dialog.done(QDialog::Rejected);
        }
    });
    guard.start(5000);
    start();
    EXPECT_TRUE(acted);
    EXPECT_FALSE(dialog.isVisible());
}

}  // namespace dialogtest
