// The open sequence, band navigation, the gray-tone count and the histogram command. Every
// rule comes from the core; this file gathers answers.
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QString>
#include <algorithm>
#include <cmath>
#include <vector>

#include "bands/rasterband.h"
#include "bands/ui/bandchoice.h"
#include "bands/ui/bandsetcommands.h"
#include "bands/ui/imagesize.h"
#include "bands/ui/maskchoice.h"
#include "bands/ui/numband.h"
#include "bands/ui/rasterchoice.h"
#include "bands/ui/typehint.h"
#include "support/paths.h"
#include "uikit/filedialogs.h"
#include "uikit/qtstrings.h"
#include "view/ui/histogris.h"
#include "view/ui/imagewindow.h"

using tessera::BandFileType;
using tessera::ImageSize;

namespace bandsui {

namespace {
bool IsBandNumber(int band) {
    return band >= 1 && band <= tessera::kMaximumBands;
}
// Refuses, with its "ERROR" message, a command on the current band when there is none.
bool RequireCurrentBand(const CommandContext& context) {
    const int band = context.ws.CurrentBand();
    if (!IsBandNumber(band)) {
        context.Message(tessera::kNoBandSetMessage, "ERROR");
        return false;
    }
    if (!context.ws.Band(band).Loaded()) {
        context.Message(Q(tessera::MissingBandMessage(band)), "ERROR");
        return false;
    }
    return true;
}

// The reader's refusal of a file that is no bitmap and is not named as one, read as a bitmap
// because the dialog's file type list says Bitmaps: the message says so, and how to read it as
// a raw image.
QString WithTypeHint(const std::string& message, BandFileType type, const QFileDialog& dialog,
                     const QString& path) {
    QString text = Q(message);
    if (type == BandFileType::Raster) {
        QString raw = dialog.nameFilters().value(0), chosen = dialog.selectedNameFilter();
        raw.truncate(raw.indexOf(" ("));
        chosen.truncate(chosen.indexOf(" ("));
        return text + Q(tessera::RasterTypeHint(message, S(chosen), S(raw)));
    }
    if (type != BandFileType::Bitmap || path.endsWith(".bmp", Qt::CaseInsensitive) ||
        message.find("it is not a bitmap file") == std::string::npos)
        return text;
    QString raw = dialog.nameFilters().value(0);
    raw.truncate(raw.indexOf(" ("));
    return text + Q(tessera::TypeListHint("Bitmaps", S(raw)));
}

// The raster dialog's question, asked on the GUI thread until it is answered soundly or
// cancelled.
std::optional<tessera::BandLoadOptions::RasterQuestion> AskRaster(
    const CommandContext& context, TRasterChoiceForm& form, const QString& what,
    const tessera::BandLoadOptions::RasterQuestion& proposed) {
    std::optional<tessera::BandLoadOptions::RasterQuestion> answer;
    OnGuiThread(&form, [&] {
        form.ShowProposal(what, proposed);
        while (context.RunModal(form) == QDialog::Accepted) {
            const tessera::Result<tessera::BandLoadOptions::RasterQuestion> read = form.Answer();
            if (read) {
                answer = *read.value;
                return;
            }
            context.Message(Q(read.message), "CAUTION");
        }
    });
    return answer;
}

// Two nodata answers that mean the same (NaN is NaN).
bool SameNodata(const std::optional<double>& a, const std::optional<double>& b) {
    if (!a || !b) return a.has_value() == b.has_value();
    return *a == *b || (std::isnan(*a) && std::isnan(*b));
}

// A new band set starts without the titles of the earlier one (the segmented window keeps
// those of the set it shows, until another set is segmented).
void ForgetBandTitles(const BandSetWindows& windows) {
    for (QString& title : windows.bandWindow.BandTitles) title.clear();
}

// At the end of an open sequence: the band window shows the current band, or else the last
// band of the open set that is loaded (which becomes current). When none is and a load was
// cancelled, the window is emptied: it must not stay on a band that is no longer loaded, whose
// file may be the very one whose load was cancelled. (A refused or skipped band leaves it as
// it was.)
void ShowLoadedBand(const CommandContext& context, const BandSetWindows& windows,
                    bool loadCancelled) {
    tessera::Workspace& ws = context.ws;
    int band = ws.CurrentBand();
    if (!IsBandNumber(band) || !ws.Band(band).Loaded()) {
        band = 0;
        for (int b = 1; b <= tessera::kMaximumBands; ++b)
            if (ws.Band(b).Loaded()) band = b;
    }
    TImageForm& window = windows.bandWindow;
    if (band == 0) {
        if (!loadCancelled) return;
        if (window.HasPicture()) window.ShowImage(tessera::GrayImage{});
        window.setWindowTitle(QString());
        return;
    }
    if (band == ws.CurrentBand()) return;  // shown when it was loaded
    ws.SetCurrentBand(band);
    window.setWindowTitle(window.BandTitles[band]);
    window.ShowPlane(ws.Band(band).pixels, tessera::GrayRamp());
}

// The entry of the dialog's type list that reads files of `type`, as the list names it.
QString TypeEntry(const QFileDialog& dialog, BandFileType type) {
    const int index = type == BandFileType::Raw ? 0 : type == BandFileType::Bitmap ? 1 : 2;
    QString entry = dialog.nameFilters().value(index);
    entry.truncate(entry.indexOf(" ("));
    return entry;
}

}  // namespace

void OpenBandSet(const CommandContext& context, const BandSetWindows& windows) {
    tessera::Workspace& ws = context.ws;
    context.RunModal(windows.numBand);  // closing it in any way goes on with the current count
    const int count = windows.numBand.BandCount;
    ws.BeginBandSet(count);
    ForgetBandTitles(windows);
    if (const tessera::Status usable = tessera::CheckBandCount(count); !usable) {
        context.Message(Q(usable.message), "ERROR");
    } else {
        for (int band = 1; band <= count; ++band) {
            // A load cancelled in its progress dialog ends the sequence.
            if (!LoadBand(context, windows, band) && context.work.Cancelled()) break;
        }
    }
    ShowLoadedBand(context, windows, context.work.Cancelled());
    ws.Advance(tessera::StepBandSetOpened);
}

void OpenMultibandImage(const CommandContext& context, const BandSetWindows& windows) {
    tessera::Workspace& ws = context.ws;
    QFileDialog& dialog = windows.multibandDialog;
    StartInLastBandFolder(dialog, ws);
    if (context.RunModal(dialog) != QDialog::Accepted) return;
    const std::string path = S(ChosenFile(dialog));
    ws.NoteBandFile(path, BandFileType::Raster);
    const tessera::Result<int> count = tessera::CountRasterBands(path);
    if (!count) {
        context.Message(Q(count.message), "CAUTION");
        return;
    }
    std::vector<int> chosen;
    for (int band = 1; band <= *count.value && band <= tessera::kMaximumBands; ++band)
        chosen.push_back(band);
    if (*count.value > tessera::kMaximumBands) {
        for (;;) {
            windows.bandChoice.ShowBandCount(*count.value);
            if (context.RunModal(windows.bandChoice) != QDialog::Accepted) return;
            const tessera::Result<std::vector<int>> typed =
                tessera::ParseBandList(S(windows.bandChoice.BandListEdit->text()), *count.value);
            if (typed) {
                chosen = *typed.value;
                break;
            }
            context.Message(Q(typed.message), "CAUTION");
        }
    }
    const int bandCount = static_cast<int>(chosen.size());
    ws.BeginBandSet(bandCount);
    ForgetBandTitles(windows);
    ws.Advance(tessera::StepBandSetOpened);
    if (const tessera::Status usable = tessera::CheckRasterBandCount(bandCount, *count.value);
        !usable) {
        context.Message(Q(usable.message), "ERROR");
        return;
    }
    const int64_t bytesPerBand = QFileInfo(Q(path)).size() / std::max(*count.value, 1);
    std::optional<tessera::BandLoadOptions::RasterQuestion> answer;
    std::optional<double> firstProposed;  // the first band's own nodata value
    for (int band = 1; band <= bandCount; ++band) {
        const QString title = Q(tessera::RasterBandTitle(
            band, path, chosen[static_cast<size_t>(band - 1)], *count.value));
        BusyCursor busy(context);
        tessera::BandLoadOptions options;
        options.rasterBand = chosen[static_cast<size_t>(band - 1)];
        // Asked once, for the first band; the later bands take the same stretch, and their
        // own nodata value unless another was typed for the first band.
        options.askRaster = [&](const tessera::BandLoadOptions::RasterQuestion& proposed)
            -> std::optional<tessera::BandLoadOptions::RasterQuestion> {
            if (!answer) {
                const QString what =
                    QString("The bands of %1 (one answer for all of them)").arg(Q(path));
                answer = AskRaster(context, windows.rasterChoice, what, proposed);
                if (!answer) return std::nullopt;
                firstProposed = proposed.nodata;
            }
            tessera::BandLoadOptions::RasterQuestion taken = proposed;
            if (!SameNodata(answer->nodata, firstProposed)) taken.nodata = answer->nodata;
            taken.stretch = answer->stretch;
            taken.percentiles = answer->percentiles;
            return taken;
        };
        tessera::Status loaded;
        context.Work(QString("Loading band %1 of %2").arg(band).arg(bandCount), bytesPerBand,
                     [&](tessera::Progress& progress) {
                         options.progress = &progress;
                         loaded = ws.LoadBand(band, path, BandFileType::Raster, options);
                     });
        if (loaded.cancelled) break;
        if (!loaded) {
            busy.Release();
            context.Message(Q(loaded.message), "CAUTION");
            break;
        }
        windows.bandWindow.BandTitles[band] = title;
        windows.bandWindow.setWindowTitle(title);
        windows.bandWindow.ShowPlane(ws.Band(band).pixels, tessera::GrayRamp());
        windows.bandWindow.BringToFront();
    }
    ShowLoadedBand(context, windows, context.work.Cancelled());
}

void OpenMask(const CommandContext& context, const BandSetWindows& windows) {
    tessera::Workspace& ws = context.ws;
    QFileDialog& dialog = windows.maskDialog;
    StartInLastBandFolder(dialog, ws);
    if (context.RunModal(dialog) != QDialog::Accepted) return;
    const std::string path = S(ChosenFile(dialog));
    const int filter = ChosenFilterIndex(dialog);
    const auto type = filter == static_cast<int>(BandFileType::Bitmap)   ? BandFileType::Bitmap
                      : filter >= static_cast<int>(BandFileType::Raster) ? BandFileType::Raster
                                                                         : BandFileType::Raw;
    const bool raster = tessera::ReaderFor(path, type) == BandFileType::Raster;
    const tessera::Result<int> bandsInFile =
        raster ? tessera::CountRasterBands(path) : tessera::Result<int>::Of(1);
    TMaskChoiceForm& form = windows.maskChoice;
    form.ShowFile(QFileInfo(Q(path)).fileName(), raster, bandsInFile ? *bandsInFile.value : 0);
    std::optional<TMaskChoiceForm::Choice> choice;
    while (!choice) {
        if (context.RunModal(form) != QDialog::Accepted) return;
        const tessera::Result<TMaskChoiceForm::Choice> read = form.Answer();
        if (read) {
            choice = *read.value;
        } else {
            context.Message(Q(read.message), "CAUTION");
        }
    }
    const tessera::MaskSource mask{path, type, choice->rasterBand, choice->rule};
    BusyCursor busy(context);
    tessera::Status added;
    const tessera::ImageSize size = ws.BandSetSize().value_or(tessera::ImageSize{});
    context.Work("Opening the mask", int64_t{size.lines} * size.columns * ws.BandCount(),
                 [&](tessera::Progress& progress) { added = ws.AddMask(mask, progress); });
    if (added.cancelled) return;
    if (!added) {
        busy.Release();
        context.Message(Q(added.message), "CAUTION");
        return;
    }
    // The bands loaded again: the window shows the current one's new block.
    const int band = ws.CurrentBand();
    if (IsBandNumber(band) && ws.Band(band).Loaded())
        windows.bandWindow.ShowPlane(ws.Band(band).pixels, tessera::GrayRamp());
    context.Notice(Q("Mask : " + ws.MaskTexts().back()));
}

bool LoadBand(const CommandContext& context, const BandSetWindows& windows, int band) {
    tessera::Workspace& ws = context.ws;
    QFileDialog& dialog = *windows.openDialogs[band];
    // A dialog whose own folder is not there starts where the previous band was chosen, so
    // that the bands of one folder are chosen without going there each time.
    const QString ownFolder = Q(tessera::BandDialogFolder(band));
    const QString previousFolder = Q(ws.LastBandFolder());
    if (!previousFolder.isEmpty() && (ownFolder.isEmpty() || !QDir(ownFolder).exists()))
        dialog.setDirectory(previousFolder);
    for (;;) {
        if (context.RunModal(dialog) != QDialog::Accepted) {
            context.setCursor(crDefault);
            return false;
        }
        const std::string path = S(ChosenFile(dialog));
        const int filter = ChosenFilterIndex(dialog);
        const auto type = filter == static_cast<int>(BandFileType::Bitmap)   ? BandFileType::Bitmap
                          : filter >= static_cast<int>(BandFileType::Raster) ? BandFileType::Raster
                                                                             : BandFileType::Raw;
        ws.NoteBandFile(path, type);

        BusyCursor busy(context);
        tessera::BandLoadOptions options;
        options.askSize = [&]() -> std::optional<ImageSize> {
            ImageSize size;
            OnGuiThread(&windows.imageSize, [&] {
                windows.imageSize.ShowSize(ws.Lines(), ws.Columns());
                context.RunModal(windows.imageSize);  // however it closes, its size is taken
                size = ImageSize{windows.imageSize.Lines, windows.imageSize.Columns};
            });
            return size;
        };
        if (tessera::ReaderFor(path, type) == BandFileType::Raster) {
            options.askRaster = [&](const tessera::BandLoadOptions::RasterQuestion& proposed) {
                return AskRaster(context, windows.rasterChoice,
                                 QString("BAND %1 ← band %2 of %3")
                                     .arg(band)
                                     .arg(proposed.rasterBand)
                                     .arg(QFileInfo(Q(path)).fileName()),
                                 proposed);
            };
            options.askRasterBand = true;
            // A band of another grid than the bands before it is brought onto theirs only
            // when the user says so.
            options.askRegrid = [&](const std::string& question) {
                bool yes = false;
                OnGuiThread(&windows.rasterChoice,
                            [&] { yes = context.seam.ask(Q(question), "CAUTION"); });
                return yes;
            };
        }
        tessera::Status loaded;
        context.Work(QString("Loading band %1 of %2").arg(band).arg(ws.BandCount()),
                     QFileInfo(Q(path)).size(), [&](tessera::Progress& progress) {
                         options.progress = &progress;
                         loaded = ws.LoadBand(band, path, type, options);
                     });
        if (loaded.cancelled) return false;
        if (!loaded) {
            busy.Release();
            context.Message(WithTypeHint(loaded.message, type, dialog, Q(path)), "CAUTION");
            continue;
        }
        // The band's title only once it is loaded: a refused or cancelled load leaves the
        // window as it was.
        QString title = Q(tessera::BandTitle(band, path));
        if (ws.LoadedType() == BandFileType::Raster) {
            // The band of a file of several bands says which it is.
            const tessera::Result<int> count = tessera::CountRasterBands(path);
            title = Q(tessera::RasterBandTitle(band, path, ws.Record(band).rasterBand,
                                               count ? *count.value : 1));
        }
        windows.bandWindow.BandTitles[band] = title;

        // The window shows this band: Previous and Next step from it, also when a later
        // band's load is cancelled or skipped.
        ws.SetCurrentBand(band);
        windows.bandWindow.setWindowTitle(title);
        windows.bandWindow.ShowPlane(ws.Band(band).pixels, tessera::GrayRamp());
        windows.bandWindow.BringToFront();
        // After the picture, whose read-out empties the status bar.
        if (ws.LoadedType() != type)
            context.Notice(QString("Band %1: %2 is %3, read as %4 (the type list said %5)")
                               .arg(band)
                               .arg(QFileInfo(Q(path)).fileName())
                               .arg(Q(tessera::FileKindText(path).empty()
                                          ? std::string("a raw image with its descriptor")
                                          : tessera::FileKindText(path)))
                               .arg(TypeEntry(dialog, ws.LoadedType()))
                               .arg(TypeEntry(dialog, type)));
        return true;
    }
}

void StepBand(const CommandContext& context, const BandSetWindows& windows, int step) {
    tessera::Workspace& ws = context.ws;
    if (step < 0 && ws.CurrentBand() <= 1) {
        context.Message(tessera::kFirstImageNotice, "INFO");
    } else if (step > 0 && ws.CurrentBand() >= ws.BandCount()) {
        context.Message(tessera::kLastImageNotice, "INFO");
    } else {
        ws.SetCurrentBand(ws.CurrentBand() + (step > 0 ? 1 : -1));
        BusyCursor busy(context);
        const int band = ws.CurrentBand();
        TImageForm& window = windows.bandWindow;
        // A band whose dialog was cancelled has no picture: the window then shows nothing.
        if (IsBandNumber(band) && ws.Band(band).Loaded()) {
            window.ShowPlane(ws.Band(band).pixels, tessera::GrayRamp());
        } else {
            window.ShowImage(tessera::GrayImage{});
        }
        window.setWindowTitle(IsBandNumber(band) ? window.BandTitles[band] : QString());
        window.BringToFront();
    }
    context.setCursor(crDefault);
}

void GrayTonesNumber(const CommandContext& context) {
    const tessera::Workspace& ws = context.ws;
    const int band = ws.CurrentBand();
    if (!RequireCurrentBand(context)) return;
    // The pixels with data only.
    const tessera::Histogram& counts = ws.Band(band).histogram;
    const int tones = static_cast<int>(
        std::count_if(counts.begin(), counts.end(), [](int64_t n) { return n > 0; }));
    context.Message(QString::asprintf(" %d gray tones in the Original Image ", tones), "");
}

void ShowHistogram(const CommandContext& context, const BandSetWindows& windows) {
    const tessera::Workspace& ws = context.ws;
    const int band = ws.CurrentBand();
    if (!RequireCurrentBand(context)) return;
    THistoGrisForm& histogram = windows.histogram;
    histogram.Pixels = &ws.Band(band).pixels;
    histogram.Nodata = &ws.Band(band).nodata;
    histogram.SaveDirectory = LastBandFolder(ws);
    context.RunModal(histogram);
    histogram.Pixels = nullptr;
    histogram.Nodata = nullptr;
}

}  // namespace bandsui
