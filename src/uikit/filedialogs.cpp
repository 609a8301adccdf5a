#include "uikit/filedialogs.h"

QFileDialog* NewFileDialog(QWidget* owner, const QString& objectName, const QString& title,
                           const QStringList& filters, QFileDialog::AcceptMode mode) {
    auto* dialog = new QFileDialog(owner, title);
    dialog->setObjectName(objectName);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(mode);
    // A typed name of a missing file must reach the loader, which reports it.
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilters(filters);
    if (mode == QFileDialog::AcceptSave) dialog->setOption(QFileDialog::DontConfirmOverwrite);
    return dialog;
}

QString ChosenFile(const QFileDialog& dialog) {
    return dialog.selectedFiles().value(0);
}

int ChosenFilterIndex(const QFileDialog& dialog) {
    return static_cast<int>(dialog.nameFilters().indexOf(dialog.selectedNameFilter())) + 1;
}
