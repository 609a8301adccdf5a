#pragma once
// The program's file dialogs: the toolkit's own (the same on every desktop), named for the
// tests.
#include <QFileDialog>
#include <QString>
#include <QStringList>

QFileDialog* NewFileDialog(QWidget* owner, const QString& objectName, const QString& title,
                           const QStringList& filters, QFileDialog::AcceptMode mode);
// The chosen path, or nothing when the dialog was cancelled.
QString ChosenFile(const QFileDialog& dialog);
// 1-based index of the filter entry chosen.
int ChosenFilterIndex(const QFileDialog& dialog);
