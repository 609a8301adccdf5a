#include "uikit/filedialogs.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QTreeView>

#include "support/paths.h"
#include "uikit/command.h"
#include "uikit/qtstrings.h"

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
    // Room for the details: sizes, types and dates are shown whole, the name takes the rest.
    dialog->resize(760, 480);
    if (auto* details = dialog->findChild<QTreeView*>("treeView")) {
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    // A name typed and confirmed with Enter while the completion list shows would leave the list
    // open over the main window, where it would swallow the next click: it closes with the
    // dialog.
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog] {
        for (auto* edit : dialog->findChildren<QLineEdit*>()) {
            if (QCompleter* completer = edit->completer(); completer && completer->popup())
                completer->popup()->hide();
        }
    });
    return dialog;
}

QString ChosenFile(const QFileDialog& dialog) {
    return dialog.selectedFiles().value(0);
}

int ChosenFilterIndex(const QFileDialog& dialog) {
    return static_cast<int>(dialog.nameFilters().indexOf(dialog.selectedNameFilter())) + 1;
}

QString LastBandFolder(const tessera::Workspace& ws) {
    return Q(ws.LastBandFolder());
}

void StartInLastBandFolder(QFileDialog& dialog, const tessera::Workspace& ws) {
    if (const QString folder = LastBandFolder(ws); !folder.isEmpty()) dialog.setDirectory(folder);
}

void SaveThroughDialog(
    const CommandContext& context, QFileDialog& dialog, int64_t pixels,
    const std::function<tessera::Status(const std::string& stem, tessera::Progress&)>& save,
    const QString& proposed) {
    BusyCursor busy(context);
    StartInLastBandFolder(dialog, context.ws);
    if (!proposed.isEmpty()) {
        const QFileInfo place(proposed);
        if (place.dir().exists()) dialog.setDirectory(place.dir());
        dialog.selectFile(place.fileName());
    }
    if (context.RunModal(dialog) != QDialog::Accepted) return;
    const std::string stem = S(ChosenFile(dialog));
    tessera::Status saved;
    context.Work(tessera::kStageSaving, pixels,
                 [&](tessera::Progress& progress) { saved = save(stem, progress); });
    busy.Release();
    if (!saved && !saved.cancelled) context.Message(Q(saved.message), "CAUTION");
}
