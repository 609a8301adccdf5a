// The crossing (codes, counts, the code selection dialogs, classes) and Save Result.
#include <QFileDialog>
#include <QLineEdit>
#include <QString>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "crossing/ui/checknumcode1.h"
#include "crossing/ui/checknumcode2.h"
#include "crossing/ui/checknumcode3.h"
#include "crossing/crossing.h"
#include "view/ui/resultimage.h"

namespace {
QString Q(const std::string& text) {
    return QString::fromStdString(text);
}
}  // namespace

void TMainForm::CrossBands() {
    if (!ws.segmentation) return;
    SetScreenCursor(crHourGlass);
    tessera::Result<tessera::CodeCounts> counts = ws.CountCodes();
    SetScreenCursor(crDefault);
    if (!counts) {
        Message(Q(counts.message), "ERROR");
        return;
    }
    const tessera::CodeTable& table = ws.segmentation->table;
    const std::vector<int64_t>& pixelCount = counts.value->PixelCount;
    const int codeCount = table.CodeCount;

    std::vector<int32_t> selected;
    if (codeCount <= tessera::kMaximumClassCount) {
        TCheckNumCodeForm1& dialog = *CheckNumCodeForm1;
        dialog.SelectByMinimum = false;
        dialog.CodeNumberEdit->setText(QString::number(codeCount));
        dialog.Table = &table;
        dialog.PixelCounts = &pixelCount;
        RunModal(dialog);
        dialog.Table = nullptr;
        dialog.PixelCounts = nullptr;
        selected = dialog.SelectByMinimum ? tessera::SelectByMinimum(pixelCount, dialog.MinPixel)
                                          : tessera::SelectAll(codeCount);
    } else {
        TCheckNumCodeForm2& dialog = *CheckNumCodeForm2;
        dialog.CodeNumberEdit->setText(QString::number(codeCount));
        dialog.Table = &table;
        dialog.PixelCounts = &pixelCount;
        RunModal(dialog);
        dialog.Table = nullptr;
        dialog.PixelCounts = nullptr;
        int64_t minimum = dialog.MinPixel;
        if (minimum < 0) {
            selected.assign(1, 0);  // a negative minimum retains no class
        } else {
            int64_t remaining = tessera::CountRetained(pixelCount, minimum);
            while (remaining > tessera::kMaximumClassCount) {
                CheckNumCodeForm3->TotNumCodeEdit->setText(QString::number(remaining));
                RunModal(*CheckNumCodeForm3);
                minimum = CheckNumCodeForm3->MinPixel;
                remaining = tessera::CountRetained(pixelCount, minimum);
            }
            selected = tessera::SelectByMinimum(pixelCount, minimum);
        }
    }

    SetScreenCursor(crHourGlass);
    const tessera::Status crossed =
        ws.FinishCrossing(std::move(*counts.value), std::move(selected), true);
    if (!crossed) {
        SetScreenCursor(crDefault);
        Message(Q(crossed.message), "ERROR");
        return;
    }
    ResultImageForm->ShowImage(ws.crossing->resultImage);
    ResultImageForm->BringToFront();
    SetScreenCursor(crDefault);
    UpdateCommands();
}

void TMainForm::SaveResult() {
    if (!ws.crossing) return;
    SetScreenCursor(crHourGlass);
    SavePictureDialog->setDirectory(Q(ws.SaveDirectory));
    if (RunModal(*SavePictureDialog) != QDialog::Accepted) {
        SetScreenCursor(crDefault);
        return;
    }
    const std::string stem = SavePictureDialog->selectedFiles().value(0).toStdString();
    ws.ChosenFileName = stem;
    const tessera::Status saved = ws.SaveResult(stem);
    SetScreenCursor(crDefault);
    if (!saved) Message(Q(saved.message), "CAUTION");
}
