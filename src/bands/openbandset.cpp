// The open sequence: band count, one open dialog per band, loading rules of the core.
#include "app/mainwindow.h"

void TMainForm::OpenBandSet() {}
bool TMainForm::LoadBand(int) { return false; }
bool TMainForm::RequireAllBands() { return false; }
void TMainForm::StepBand(int) {}
void TMainForm::GrayTonesNumber() {}
void TMainForm::ShowHistogram() {}
