#pragma once
// The band set's commands: the open sequence (band count, one open dialog per band), band
// navigation, the gray-tone count and the histogram.
#include <QFileDialog>
#include <array>

#include "bands/bandfiles.h"
#include "uikit/command.h"

class TNumBandForm;
class TImageSizeForm;
class TImageForm;
class THistoGrisForm;
class TBandChoiceForm;
class TRasterChoiceForm;
class TMaskChoiceForm;

// The windows and dialogs these commands use.
struct BandSetWindows {
    TNumBandForm& numBand;
    TImageSizeForm& imageSize;
    const std::array<QFileDialog*, tessera::kMaximumBands + 1>& openDialogs;  // 1..10
    TImageForm& bandWindow;
    THistoGrisForm& histogram;
    QFileDialog& multibandDialog;  // Open Multi-band Image
    TBandChoiceForm& bandChoice;
    TRasterChoiceForm& rasterChoice;  // nodata and stretch of a raster band
    QFileDialog& maskDialog;          // Open Mask
    TMaskChoiceForm& maskChoice;      // the band and rule of a mask
};

namespace bandsui {

void OpenBandSet(const CommandContext& context, const BandSetWindows& windows);
// One file of several bands opened as the band set (asking which bands when it holds more
// than 10), with the band titles, windows and command steps of the open sequence.
void OpenMultibandImage(const CommandContext& context, const BandSetWindows& windows);
// A mask of the band set being opened or open: its file, then its band and rule; the bands
// loaded already are loaded again with it.
void OpenMask(const CommandContext& context, const BandSetWindows& windows);
// Band `band`'s open dialog until a file is loaded (true) or the dialog is cancelled (false).
bool LoadBand(const CommandContext& context, const BandSetWindows& windows, int band);
// Previous (-1) / Next (+1) band in the band window.
void StepBand(const CommandContext& context, const BandSetWindows& windows, int step);
void GrayTonesNumber(const CommandContext& context);
void ShowHistogram(const CommandContext& context, const BandSetWindows& windows);

}  // namespace bandsui
