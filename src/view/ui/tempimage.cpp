#include "view/ui/tempimage.h"

#include "app/forms.h"
#include "app/mainwindow.h"

TTempImageForm::TTempImageForm(QWidget* parent)
    : TPictureForm(" PANEL 2  (1:1)", tessera::ViewWindow::Segmented, parent) {}

QString TTempImageForm::BaseTitle() const {
    const int band = MainForm ? MainForm->ws.CurrentSegmentedBand : 0;
    if (band < 1 || band >= static_cast<int>(BandTitles.size())) return QString();
    return BandTitles[band];
}

std::optional<TPictureForm::ValueTexts> TTempImageForm::ReadValues(int line, int column, int red,
                                                                   int green, int blue) const {
    if (!MainForm) return std::nullopt;
    const tessera::ByteMatrix& segments = MainForm->ws.ShownSegmentMatrix;
    if (line >= segments.Lines() || column >= segments.Columns()) return std::nullopt;
    return ValueTexts{QString::fromStdString(tessera::RgbText(red, green, blue)),
                      QString::fromStdString(tessera::GrayToneText(segments[line][column]))};
}
