// The crossing and Save Result.
#include "app/mainwindow.h"

void TMainForm::CrossBands() {}
void TMainForm::SaveResult() {}
