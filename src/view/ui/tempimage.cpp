#include "view/ui/tempimage.h"

TTempImageForm::TTempImageForm(QWidget* parent)
    : TPictureForm(" PANEL 2  (1:1)", tessera::ViewWindow::Segmented, parent) {}

QString TTempImageForm::BaseTitle() const {
    const int band = ShownBand();
    if (band < 1 || band >= static_cast<int>(BandTitles.size())) return QString();
    return BandTitles[band];
}

void TTempImageForm::TakeBandTitles(const std::array<QString, 11>& titles, int bandCount) {
    for (int band = 0; band < static_cast<int>(BandTitles.size()); ++band)
        BandTitles[band] = band >= 1 && band <= bandCount ? titles[band] : QString();
}

void TTempImageForm::ShowTitleOf(int band) {
    if (band >= 1 && band < static_cast<int>(BandTitles.size())) setWindowTitle(BandTitles[band]);
}

std::optional<TPictureForm::ValueTexts> TTempImageForm::ReadValues(int line, int column, int red,
                                                                   int green, int blue) const {
    const tessera::ByteMatrix* shown = Values();
    if (!shown) return std::nullopt;
    const tessera::ByteMatrix& segments = *shown;
    if (line >= segments.Lines() || column >= segments.Columns()) return std::nullopt;
    return ValueTexts{QString::fromStdString(tessera::RgbText(red, green, blue)),
                      QString::fromStdString(tessera::GrayToneText(segments[line][column]))};
}
