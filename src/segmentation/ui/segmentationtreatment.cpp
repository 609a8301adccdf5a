// The segmentation run and the segmented bands. Every rule comes from the core; this file
// gathers answers.
#include <QFileDialog>
#include <QString>

#include "segmentation/thresholding.h"
#include "segmentation/ui/segmentation.h"
#include "segmentation/ui/segmentationcommands.h"
#include "segmentation/ui/segmentdefinition.h"
#include "support/paths.h"
#include "uikit/filedialogs.h"
#include "uikit/qtstrings.h"
#include "view/ui/tempimage.h"

namespace segmentationui {

namespace {
// Bands of the last completed run (a band set opened since may have another count).
int SegmentedBandCount(const tessera::Workspace& ws) {
    return ws.segmentation ? static_cast<int>(ws.segmentation->records.size()) - 1 : 0;
}
}  // namespace

void SegmentationTreatment(const CommandContext& context, const SegmentationWindows& windows) {
    tessera::Workspace& ws = context.ws;
    if (const tessera::Status complete = ws.CheckBandSetComplete(); !complete) {
        context.Message(Q(complete.message), "ERROR");
        return;
    }
    const int bandCount = ws.BandCount();
    for (int band = 1; band <= bandCount; ++band) {
        const QString name = Q(ws.Record(band).filePath);
        int type = 0;
        int count = 0;
        for (;;) {
            if (!windows.segmentation.AskBand(band, name, type, count)) return;  // cancelled
            const tessera::Status usable = tessera::CheckSegmentCount(count);
            if (usable) break;
            context.Message(Q(usable.message), "CAUTION");
        }
        std::vector<int32_t> typedUpper;
        if (type == tessera::Definition) {
            const std::vector<int> typed = windows.definition.AskUpperLimits(
                band, name, count, ws.Band(band).minGray, ws.Band(band).maxGray);
            typedUpper.assign(typed.begin(), typed.end());
        }
        ws.SetSegmentation(band, type, count, typedUpper);
    }

    BusyCursor busy(context);
    tessera::Status finished;
    context.Work(tessera::kStageNumbering, int64_t{bandCount} * ws.Lines() * ws.Columns(),
                 [&](tessera::Progress& progress) { finished = ws.FinishSegmentation(progress); });
    if (finished.cancelled) return;
    if (!finished) {
        busy.Release();
        context.Message(Q(finished.message), "ERROR");
        return;
    }
    // The window shows the last band, named as a band of the set just segmented.
    TTempImageForm& window = windows.segmentedWindow;
    window.TakeBandTitles(windows.openSetTitles, SegmentedBandCount(ws));
    window.ShowPlane(ws.ShownSegmentMatrix, ws.segmentation->segmentColourTable);
    window.ShowTitleOf(ws.CurrentSegmentedBand);
    window.BringToFront();
}

void ShowSegmentedBand(const CommandContext& context, const SegmentationWindows& windows, int band,
                       bool setCaption) {
    context.ws.ShowSegmentedBand(band);
    TTempImageForm& window = windows.segmentedWindow;
    window.ShowPlane(context.ws.ShownSegmentMatrix, context.ws.segmentation->segmentColourTable);
    if (setCaption) window.ShowTitleOf(band);
    window.BringToFront();
}

void StepSegmentedBand(const CommandContext& context, const SegmentationWindows& windows,
                       int step) {
    const tessera::Workspace& ws = context.ws;
    if (!ws.segmentation) return;
    if (step < 0 && ws.CurrentSegmentedBand <= 1) {
        context.Message(tessera::kFirstImageNotice, "INFO");
    } else if (step > 0 && ws.CurrentSegmentedBand >= SegmentedBandCount(ws)) {
        context.Message(tessera::kLastImageNotice, "INFO");
    } else {
        BusyCursor busy(context);
        ShowSegmentedBand(context, windows, ws.CurrentSegmentedBand + (step > 0 ? 1 : -1), true);
    }
    context.setCursor(crDefault);
}

void SaveSegmentedImage(const CommandContext& context, const SegmentationWindows& windows) {
    const tessera::Workspace& ws = context.ws;
    if (!ws.segmentation) return;
    // The dialog proposes a name after the band saved, in its folder: a segmentation of an
    // earlier set is not saved among the open set's files under their names.
    const int shown = ws.CurrentSegmentedBand;
    const std::string band = shown >= 1 && shown <= SegmentedBandCount(ws)
                                 ? ws.segmentation->records[static_cast<size_t>(shown)].filePath
                                 : std::string();
    const tessera::ImageSize size = ws.segmentation->size;
    SaveThroughDialog(
        context, windows.saveDialog, int64_t{size.lines} * size.columns,
        [&ws](const std::string& stem, tessera::Progress& progress) {
            return ws.SaveSegmented(stem, progress);
        },
        Q(tessera::SegmentedNameFor(band)));
}

}  // namespace segmentationui
