#include "segmentation/segmentdefinition.h"

TSegmentDefinitionForm::TSegmentDefinitionForm(const DialogSeam* seam, QWidget* parent)
    : QDialog(parent), seam_(seam) {
    setWindowTitle(" Segment Definition ");
}

std::vector<int> TSegmentDefinitionForm::AskUpperLimits(int, const QString&, int, int, int) {
    return {};
}
