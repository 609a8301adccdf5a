// The segmentation run (one dialog per band, then the core numbers and paints every band) and
// the segmented bands: stepping through them and saving the one shown.
#include <QFileDialog>
#include <QString>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "segmentation/ui/segmentation.h"
#include "segmentation/ui/segmentdefinition.h"
#include "segmentation/thresholding.h"
#include "view/ui/tempimage.h"

namespace {
QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// Bands of the last completed run (a band set opened since may have another count).
int SegmentedBandCount(const tessera::Workspace& ws) {
    return ws.segmentation ? static_cast<int>(ws.segmentation->records.size()) - 1 : 0;
}
}  // namespace

void TMainForm::SegmentationTreatment() {
    if (!RequireAllBands()) return;
    const int bandCount = ws.BandCount;
    for (int band = 1; band <= bandCount; ++band) {
        const QString name = Q(ws.records[band].filePath);
        int type = 0;
        int count = 0;
        for (;;) {
            if (!SegmentationForm->AskBand(band, name, type, count)) return;  // cancelled
            const tessera::Status usable = tessera::CheckSegmentCount(count);
            if (usable) break;
            Message(Q(usable.message), "CAUTION");
        }
        std::vector<int32_t> typedUpper;
        if (type == tessera::Definition) {
            const std::vector<int> typed = SegmentDefinitionForm->AskUpperLimits(
                band, name, count, ws.bands[band].minGray, ws.bands[band].maxGray);
            typedUpper.assign(typed.begin(), typed.end());
        }
        ws.SetSegmentation(band, type, count, typedUpper);
    }

    SetScreenCursor(crHourGlass);
    const tessera::Status finished = ws.FinishSegmentation(true);
    if (!finished) {
        SetScreenCursor(crDefault);
        Message(Q(finished.message), "ERROR");
        return;
    }
    // Every band is painted; the window ends on the last one, which is what it shows.
    TempImageForm->ShowImage(ws.segmentation->SegmentedImage[bandCount]);
    TempImageForm->BringToFront();
    SetScreenCursor(crDefault);
    UpdateCommands();
}

void TMainForm::ShowSegmentedBand(int band, bool setCaption) {
    ws.ShowSegmentedBand(band);
    TempImageForm->ShowImage(ws.segmentation->SegmentedImage[band]);
    if (setCaption) TempImageForm->setWindowTitle(TempImageForm->BandTitles[band]);
    TempImageForm->BringToFront();
}

void TMainForm::StepSegmentedBand(int step) {
    if (!ws.segmentation) return;
    if (step < 0 && ws.CurrentSegmentedBand <= 1) {
        Message(
            "This image corresponds to the first one\nUse Rigth Speed Button to go up inside the "
            "file",
            "INFO");
    } else if (step > 0 && ws.CurrentSegmentedBand >= SegmentedBandCount(ws)) {
        Message(
            "This image corresponds to the last one\nUse Left Speed Button to go down inside the "
            "file",
            "INFO");
    } else {
        SetScreenCursor(crHourGlass);
        ShowSegmentedBand(ws.CurrentSegmentedBand + (step > 0 ? 1 : -1), true);
    }
    SetScreenCursor(crDefault);
}

void TMainForm::SaveSegmentedImage() {
    if (!ws.segmentation) return;
    SetScreenCursor(crHourGlass);
    SavePictureDialog2->setDirectory(Q(ws.SaveDirectory));
    if (RunModal(*SavePictureDialog2) != QDialog::Accepted) {
        SetScreenCursor(crDefault);
        return;
    }
    const std::string stem = SavePictureDialog2->selectedFiles().value(0).toStdString();
    ws.ChosenFileName = stem;
    const tessera::Status saved = ws.SaveSegmented(stem);
    SetScreenCursor(crDefault);
    if (!saved) Message(Q(saved.message), "CAUTION");
}
