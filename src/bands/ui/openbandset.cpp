// The open sequence (band count, one open dialog per band), band navigation, the gray-tone
// count and the histogram command. Every rule comes from the core; this file gathers answers.
#include <QFileDialog>
#include <QString>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "bands/bandfiles.h"
#include "bands/ui/imagesize.h"
#include "bands/ui/numband.h"
#include "image/rawfiles.h"
#include "support/paths.h"
#include "support/safefile.h"
#include "view/ui/histogris.h"
#include "view/ui/imagewindow.h"
#include "view/ui/tempimage.h"

using tessera::BandFileType;
using tessera::ImageSize;

namespace {
QString Q(const std::string& text) {
    return QString::fromStdString(text);
}
std::string S(const QString& text) {
    return text.toStdString();
}
bool IsBandNumber(int band) {
    return band >= 1 && band <= tessera::kMaximumBands;
}
}  // namespace

void TMainForm::OpenBandSet() {
    RunModal(*NumBandForm);  // closing it in any way goes on with the current count
    const int count = NumBandForm->BandCount;
    ws.BeginBandSet(count);
    if (count < 2) {
        Message(" Insufficient Number of Bands ", "ERROR");
    } else if (count > tessera::kMaximumBands) {
        Message(" More than 10 bands \n(Software limit) ", "ERROR");
    } else {
        for (int band = 1; band <= count; ++band) LoadBand(band);
    }
    ws.Advance(tessera::StepBandSetOpened);
    UpdateCommands();
}

bool TMainForm::LoadBand(int band) {
    QFileDialog& dialog = *BandOpenDialogs[band];
    for (;;) {
        if (RunModal(dialog) != QDialog::Accepted) {
            SetScreenCursor(crDefault);
            return false;
        }
        const QString chosen = dialog.selectedFiles().value(0);
        const int filterIndex = dialog.nameFilters().indexOf(dialog.selectedNameFilter()) + 1;
        const std::string path = S(chosen);
        ws.ChosenFileName = path;
        ws.OpenPath = path;
        ws.records[band].filePath = path;
        const QString title = Q(tessera::BandTitle(band, path));
        ImageForm->BandTitles[band] = title;
        TempImageForm->BandTitles[band] = title;
        SetScreenCursor(crHourGlass);

        // A refused file must not leave its size behind as the size of the band set.
        const int previousLines = ws.Lines;
        const int previousColumns = ws.Columns;
        auto refuse = [&](const std::string& text) {
            ws.Lines = previousLines;
            ws.Columns = previousColumns;
            SetScreenCursor(crDefault);
            Message(Q(text), "CAUTION");
        };

        tessera::Result<tessera::ByteMatrix> pixels;
        if (filterIndex != static_cast<int>(BandFileType::Bitmap)) {
            ws.SaveDirectory = tessera::DirectoryOf(path);
            ws.DescriptorFileName = tessera::ReplaceExtension(path, ".txt");
            const tessera::DescriptorRead descriptor =
                tessera::ReadDescriptor(ws.DescriptorFileName);
            ImageSize size;
            if (descriptor.outcome == tessera::DescriptorRead::Malformed) {
                refuse(tessera::DescriptorMalformedMessage(ws.DescriptorFileName));
                continue;
            }
            if (descriptor.outcome == tessera::DescriptorRead::Read) {
                size = descriptor.size;
                ws.Lines = size.lines;
                ws.Columns = size.columns;
            } else {
                RunModal(*ImageSizeForm);  // its edits write Lines and Columns
                size = {ws.Lines, ws.Columns};
            }
            if (const tessera::Status valid = tessera::CheckImageSize(size); !valid) {
                refuse("The raw image\n" + path + "\ncannot be loaded: " + valid.message + ".");
                continue;
            }
            // A size the file cannot hold is refused before it is kept as the descriptor.
            if (const tessera::Status holds = tessera::CheckRawFileSize(path, size); !holds) {
                refuse(holds.message);
                continue;
            }
            if (descriptor.outcome == tessera::DescriptorRead::Missing) {
                const tessera::Status written = tessera::WriteWholeFile(
                    ws.DescriptorFileName, tessera::ShortDescriptorText(size));
                if (!written) {
                    refuse(tessera::DescriptorNotWrittenMessage(ws.DescriptorFileName,
                                                                written.message));
                    continue;
                }
            }
            if (const tessera::Status same = ws.CheckBandSize(band, path, size); !same) {
                refuse(same.message);
                continue;
            }
            if (const tessera::Status room = ws.CheckMemoryFor(path, size); !room) {
                refuse(room.message);
                continue;
            }
            pixels = tessera::LoadRawBand(path, size);
        } else {
            pixels = tessera::LoadBitmapBand(path);
            if (pixels) {
                const ImageSize size{pixels.value->Lines(), pixels.value->Columns()};
                if (const tessera::Status same = ws.CheckBandSize(band, path, size); !same) {
                    refuse(same.message);
                    continue;
                }
                if (const tessera::Status room = ws.CheckMemoryFor(path, size); !room) {
                    refuse(room.message);
                    continue;
                }
            }
        }
        if (!pixels) {
            refuse(pixels.message);
            continue;
        }
        if (const tessera::Status stored = ws.StoreBand(band, path, std::move(*pixels.value), true);
            !stored) {
            refuse(stored.message);
            continue;
        }
        ImageForm->setWindowTitle(title);
        ImageForm->ShowImage(ws.bands[band].image);
        ImageForm->BringToFront();
        SetScreenCursor(crDefault);
        return true;
    }
}

bool TMainForm::RequireAllBands() {
    if (ws.BandCount < 2) {
        Message(" Insufficient Number of Bands ", "ERROR");
        return false;
    }
    if (ws.BandCount > tessera::kMaximumBands) {
        Message(" More than 10 bands \n(Software limit) ", "ERROR");
        return false;
    }
    if (const tessera::Status all = ws.CheckAllBandsLoaded(); !all) {
        Message(Q(all.message), "ERROR");
        return false;
    }
    return true;
}

void TMainForm::StepBand(int step) {
    if (step < 0 && ws.CurrentBand <= 1) {
        Message(
            "This image corresponds to the first one\nUse Rigth Speed Button to go up inside the "
            "file",
            "INFO");
    } else if (step > 0 && ws.CurrentBand >= ws.BandCount) {
        Message(
            "This image corresponds to the last one\nUse Left Speed Button to go down inside the "
            "file",
            "INFO");
    } else {
        ws.CurrentBand += step > 0 ? 1 : -1;
        SetScreenCursor(crHourGlass);
        const int band = ws.CurrentBand;
        // A band whose dialog was cancelled has no picture: the window then shows nothing.
        if (IsBandNumber(band) && ws.bands[band].Loaded()) {
            ImageForm->ShowImage(ws.bands[band].image);
        } else {
            ImageForm->ShowImage(tessera::GrayImage{});
        }
        ImageForm->setWindowTitle(IsBandNumber(band) ? ImageForm->BandTitles[band] : QString());
        ImageForm->BringToFront();
    }
    SetScreenCursor(crDefault);
}

void TMainForm::GrayTonesNumber() {
    const int band = ws.CurrentBand;
    if (!IsBandNumber(band) || !ws.bands[band].Loaded()) {
        Message(Q(tessera::MissingBandMessage(band)), "ERROR");
        return;
    }
    const int tones = tessera::CountGrayTones(ws.bands[band].pixels);
    Message(QString::asprintf(" %d gray tones in the Original Image ", tones), "");
}

void TMainForm::ShowHistogram() {
    const int band = ws.CurrentBand;
    if (!IsBandNumber(band) || !ws.bands[band].Loaded()) {
        Message(Q(tessera::MissingBandMessage(band)), "ERROR");
        return;
    }
    HistoGrisForm->Pixels = &ws.bands[band].pixels;
    HistoGrisForm->SaveDirectory = Q(ws.SaveDirectory);
    RunModal(*HistoGrisForm);
    HistoGrisForm->Pixels = nullptr;
}
