#pragma once
// The crossing (codes, counts, the code selection dialogs, classes) and Save Result.
#include "uikit/command.h"

class QFileDialog;
class TCheckNumCodeForm1;
class TCheckNumCodeForm2;
class TCheckNumCodeForm3;
class TResultImageForm;

struct CrossingWindows {
    TCheckNumCodeForm1& fewCodes;
    TCheckNumCodeForm2& manyCodes;
    TCheckNumCodeForm3& newMinimum;
    TResultImageForm& resultWindow;
    QFileDialog& saveDialog;  // Save Result
};

namespace crossingui {

void CrossBands(const CommandContext& context, const CrossingWindows& windows);
void SaveResult(const CommandContext& context, const CrossingWindows& windows);

}  // namespace crossingui
