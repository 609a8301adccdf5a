#include "view/ui/resultimage.h"

TResultImageForm::TResultImageForm(QWidget* parent)
    : TPictureForm(" PANEL 3  (1:1)", tessera::ViewWindow::Result, parent) {}

QString TResultImageForm::BaseTitle() const {
    return "Resulting Image";
}

std::optional<TPictureForm::ValueTexts> TResultImageForm::ReadValues(int line, int column, int red,
                                                                     int green, int blue) const {
    const tessera::ByteMatrix* shown = Values();
    if (!shown) return std::nullopt;
    const tessera::ByteMatrix& classes = *shown;
    if (line >= classes.Lines() || column >= classes.Columns()) return std::nullopt;
    return ValueTexts{QString::fromStdString(tessera::RgbText(red, green, blue)),
                      QString::fromStdString(tessera::ClassValueText(classes[line][column]))};
}
