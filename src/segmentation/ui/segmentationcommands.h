#pragma once
// The segmentation run (one dialog per band, then the core numbers and paints every band) and
// the segmented bands: stepping through them and saving the one shown.
#include <QString>
#include <array>

#include "uikit/command.h"

class QFileDialog;
class TSegmentationForm;
class TSegmentDefinitionForm;
class TTempImageForm;

struct SegmentationWindows {
    TSegmentationForm& segmentation;
    TSegmentDefinitionForm& definition;
    TTempImageForm& segmentedWindow;
    QFileDialog& saveDialog;  // Save Segmented Image
    // The titles of the open set's bands (the band window's): the segmented window takes them
    // when that set is segmented, and keeps them while another set is opened.
    const std::array<QString, 11>& openSetTitles;
};

namespace segmentationui {

void SegmentationTreatment(const CommandContext& context, const SegmentationWindows& windows);
void ShowSegmentedBand(const CommandContext& context, const SegmentationWindows& windows, int band,
                       bool setCaption);
// Previous (-1) / Next (+1) segmented band.
void StepSegmentedBand(const CommandContext& context, const SegmentationWindows& windows, int step);
void SaveSegmentedImage(const CommandContext& context, const SegmentationWindows& windows);

}  // namespace segmentationui
