#include "view/ui/resultimage.h"

#include "app/forms.h"
#include "app/mainwindow.h"

TResultImageForm::TResultImageForm(QWidget* parent)
    : TPictureForm(" PANEL 3  (1:1)", tessera::ViewWindow::Result, parent) {}

QString TResultImageForm::BaseTitle() const {
    return "Resulting Image";
}

std::optional<TPictureForm::ValueTexts> TResultImageForm::ReadValues(int line, int column, int red,
                                                                     int green, int blue) const {
    if (!MainForm || !MainForm->ws.crossing) return std::nullopt;
    const tessera::ByteMatrix& classes = MainForm->ws.crossing->ClassImage;
    if (line >= classes.Lines() || column >= classes.Columns()) return std::nullopt;
    return ValueTexts{QString::fromStdString(tessera::RgbText(red, green, blue)),
                      QString::fromStdString(tessera::ClassValueText(classes[line][column]))};
}
