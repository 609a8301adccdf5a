#pragma once
// The program's file dialogs: the toolkit's own (the same on every desktop), named for the
// tests.
#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>

#include "support/progress.h"
#include "support/status.h"

QFileDialog* NewFileDialog(QWidget* owner, const QString& objectName, const QString& title,
                           const QStringList& filters, QFileDialog::AcceptMode mode);
// The chosen path, or nothing when the dialog was cancelled.
QString ChosenFile(const QFileDialog& dialog);
// 1-based index of the filter entry chosen.
int ChosenFilterIndex(const QFileDialog& dialog);

namespace tessera {
class Workspace;
}
// The folder the file dialogs start in: that of the band last opened (a band's file or a
// multi-band image), else the save folder; empty before any.
QString LastBandFolder(const tessera::Workspace& ws);
// The dialog starts in LastBandFolder, when there is one.
void StartInLastBandFolder(QFileDialog& dialog, const tessera::Workspace& ws);

struct CommandContext;
// A save command: the save dialog opens in LastBandFolder, or with the `proposed` path (its
// folder and name) when one is given; `save(stem, progress)` runs with the name chosen as the
// command's long step (`pixels` of work); a failure is shown as a "CAUTION", a cancel shows
// nothing.
void SaveThroughDialog(
    const CommandContext& context, QFileDialog& dialog, int64_t pixels,
    const std::function<tessera::Status(const std::string& stem, tessera::Progress&)>& save,
    const QString& proposed = QString());
