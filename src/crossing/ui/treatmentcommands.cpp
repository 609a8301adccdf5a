// Save Treatment and Apply Treatment: the treatment as a JSON document, and one read back
// applied to the open band set. The core reads, checks and applies it; this file asks for the
// file and shows the result.
#include <QFileDialog>
#include <QString>

#include "crossing/ui/crossingcommands.h"
#include "support/paths.h"
#include "uikit/filedialogs.h"
#include "uikit/qtstrings.h"
#include "view/ui/resultimage.h"
#include "view/ui/tempimage.h"
#include "workspace/treatmentfile.h"

namespace crossingui {

void SaveTreatment(const CommandContext& context, const TreatmentWindows& windows) {
    const tessera::Workspace& ws = context.ws;
    if (!ws.crossing) return;
    BusyCursor busy(context);
    StartInLastBandFolder(windows.saveDialog, ws);
    if (context.RunModal(windows.saveDialog) != QDialog::Accepted) return;
    // Named as Apply Treatment's list shows treatments.
    const std::string path = tessera::DefaultExtension(S(ChosenFile(windows.saveDialog)), ".json");
    const tessera::Status saved = tessera::SaveTreatment(path, *ws.crossing);
    busy.Release();
    if (!saved) context.Message(Q(saved.message), "CAUTION");
}

void ApplyTreatment(const CommandContext& context, const TreatmentWindows& windows) {
    tessera::Workspace& ws = context.ws;
    BusyCursor busy(context);
    StartInLastBandFolder(windows.openDialog, ws);
    if (context.RunModal(windows.openDialog) != QDialog::Accepted) return;
    const std::string path = S(ChosenFile(windows.openDialog));
    const tessera::Result<tessera::SavedTreatment> saved = tessera::ReadTreatment(path);
    if (!saved) {
        busy.Release();
        context.Message(Q(" " + saved.message + " "), "CAUTION");
        return;
    }
    tessera::Status applied;
    context.Work(tessera::kStagePainting, int64_t{ws.Lines()} * ws.Columns() * ws.BandCount(),
                 [&](tessera::Progress& progress) {
                     applied = ws.ApplyTreatment(*saved.value, path, progress);
                 });
    busy.Release();
    if (applied.cancelled) return;
    if (!applied) {
        context.Message(Q(" " + applied.message + " "), "CAUTION");
        return;
    }
    TTempImageForm& segmented = windows.segmentedWindow;
    segmented.TakeBandTitles(windows.openSetTitles,
                             static_cast<int>(ws.segmentation->records.size()) - 1);
    segmented.ShowPlane(ws.ShownSegmentMatrix, ws.segmentation->segmentColourTable);
    segmented.ShowTitleOf(ws.CurrentSegmentedBand);
    windows.resultWindow.ShowPlane(ws.crossing->classImage, ws.crossing->classColourTable);
    windows.resultWindow.BringToFront();
}

}  // namespace crossingui
