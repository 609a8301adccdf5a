#pragma once
// The crossing (codes, counts, the code selection dialogs, classes) and Save Result.
#include <QString>
#include <array>

#include "uikit/command.h"

class QFileDialog;
class TCheckNumCodeForm1;
class TCheckNumCodeForm2;
class TCheckNumCodeForm3;
class TResultImageForm;
class TTempImageForm;

struct CrossingWindows {
    TCheckNumCodeForm1& fewCodes;
    TCheckNumCodeForm2& manyCodes;
    TCheckNumCodeForm3& newMinimum;
    TResultImageForm& resultWindow;
    QFileDialog& saveDialog;  // Save Result
};

// Save Treatment and Apply Treatment.
struct TreatmentWindows {
    QFileDialog& saveDialog;
    QFileDialog& openDialog;
    TTempImageForm& segmentedWindow;
    TResultImageForm& resultWindow;
    const std::array<QString, 11>& openSetTitles;  // the band window's
};

namespace crossingui {

void CrossBands(const CommandContext& context, const CrossingWindows& windows);
void SaveResult(const CommandContext& context, const CrossingWindows& windows);
// The last crossing's treatment as JSON, under the name chosen (".json" added to a name
// without extension).
void SaveTreatment(const CommandContext& context, const TreatmentWindows& windows);
// A treatment chosen and applied to the open band set (Workspace::ApplyTreatment); a file that
// is none, or a band set it does not fit, is told as a "CAUTION" and changes nothing.
void ApplyTreatment(const CommandContext& context, const TreatmentWindows& windows);

}  // namespace crossingui
