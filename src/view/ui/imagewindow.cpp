#include "view/ui/imagewindow.h"

TImageForm::TImageForm(QWidget* parent)
    : TPictureForm(" PANEL 1  (1:1)", tessera::ViewWindow::Band, parent) {}

QString TImageForm::BaseTitle() const {
    const int band = ShownBand();
    if (band < 1 || band >= static_cast<int>(BandTitles.size())) return QString();
    return BandTitles[band];
}

std::optional<TPictureForm::ValueTexts> TImageForm::ReadValues(int, int, int red, int green,
                                                               int blue) const {
    return ValueTexts{QString::fromStdString(tessera::BandColourText(red, green, blue)),
                      QString::fromStdString(tessera::NoValueText())};
}
