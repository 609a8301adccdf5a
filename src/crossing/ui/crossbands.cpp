// The crossing and Save Result. Every rule comes from the core; this file gathers answers.
#include <QFileDialog>
#include <QLineEdit>
#include <QString>

#include "crossing/crossing.h"
#include "crossing/ui/checknumcode1.h"
#include "crossing/ui/checknumcode2.h"
#include "crossing/ui/checknumcode3.h"
#include "crossing/ui/crossingcommands.h"
#include "uikit/filedialogs.h"
#include "uikit/qtstrings.h"
#include "view/ui/resultimage.h"

namespace crossingui {

namespace {
// The code selection dialogs: the first for at most 250 codes, else the second, then the
// third for as long as the minimum keeps more than 250 codes.
tessera::CodeSelection AskSelection(const CommandContext& context, const CrossingWindows& windows,
                                    const tessera::CodeTable& table,
                                    const std::vector<int64_t>& pixelCount) {
    if (table.CodeCount <= tessera::kMaximumClassCount) {
        windows.fewCodes.SelectByMinimum = false;
        windows.fewCodes.Ask(table, pixelCount);
        return {!windows.fewCodes.SelectByMinimum, windows.fewCodes.MinPixel};
    }
    windows.manyCodes.Ask(table, pixelCount);
    tessera::CodeSelection choice{false, windows.manyCodes.MinPixel};
    if (choice.minimum < 0) return choice;
    for (int64_t remaining = tessera::CountRetained(pixelCount, choice.minimum);
         remaining > tessera::kMaximumClassCount;
         remaining = tessera::CountRetained(pixelCount, choice.minimum)) {
        windows.newMinimum.TotNumCodeEdit->setText(QString::number(remaining));
        context.RunModal(windows.newMinimum);
        choice.minimum = windows.newMinimum.MinPixel;
    }
    return choice;
}
}  // namespace

void CrossBands(const CommandContext& context, const CrossingWindows& windows) {
    tessera::Workspace& ws = context.ws;
    if (!ws.segmentation) return;
    const int64_t pixels = int64_t{ws.segmentation->size.lines} * ws.segmentation->size.columns;
    BusyCursor counting(context);
    tessera::Result<tessera::CodeCounts> counts;
    context.Work(tessera::kStageCounting, pixels * ws.segmentation->table.BandCount(),
                 [&](tessera::Progress& progress) { counts = ws.CountCodes(progress); });
    counting.Release();
    if (counts.cancelled) return;
    if (!counts) {
        context.Message(Q(counts.message), "ERROR");
        return;
    }
    const std::vector<int64_t>& pixelCount = counts.value->pixelCount;
    const tessera::CodeSelection choice =
        AskSelection(context, windows, ws.segmentation->table, pixelCount);
    std::vector<int32_t> selected = tessera::SelectCodes(pixelCount, choice);

    BusyCursor busy(context);
    tessera::Status crossed;
    context.Work(tessera::kStagePainting, pixels, [&](tessera::Progress& progress) {
        // The selection is told in the class GeoTIFF's metadata.
        crossed =
            ws.FinishCrossing(std::move(*counts.value), std::move(selected), progress, choice);
    });
    if (crossed.cancelled) return;
    if (!crossed) {
        busy.Release();
        context.Message(Q(crossed.message), "ERROR");
        return;
    }
    windows.resultWindow.ShowPlane(ws.crossing->classImage, ws.crossing->classColourTable);
    windows.resultWindow.BringToFront();
}

void SaveResult(const CommandContext& context, const CrossingWindows& windows) {
    const tessera::Workspace& ws = context.ws;
    if (!ws.crossing) return;
    SaveThroughDialog(context, windows.saveDialog,
                      int64_t{ws.crossing->size.lines} * ws.crossing->size.columns,
                      [&ws](const std::string& stem, tessera::Progress& progress) {
                          return ws.SaveResult(stem, progress);
                      });
}

}  // namespace crossingui
