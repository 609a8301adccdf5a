// The segmentation run and the segmented bands.
#include "app/mainwindow.h"

void TMainForm::SegmentationTreatment() {}
void TMainForm::ShowSegmentedBand(int, bool) {}
void TMainForm::StepSegmentedBand(int) {}
void TMainForm::SaveSegmentedImage() {}
