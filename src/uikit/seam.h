#pragma once
// The one place where the program waits for the user: modal dialogs and message boxes. Tests
// replace both to answer the real dialogs and to record every message.
#include <QString>
#include <functional>

class QDialog;

struct DialogSeam {
    // Runs a dialog modally and returns its result; by default dialog.exec().
    std::function<int(QDialog&)> runModal;
    // A message box without owner, without icon, with one OK button.
    std::function<void(const QString& text, const QString& caption)> showMessage;
    // A question with Yes and No; true for Yes.
    std::function<bool(const QString& text, const QString& caption)> ask;

    DialogSeam();
};

// The default message box of the program.
void ShowMessageBox(const QString& text, const QString& caption);
