#include "view/pictureform.h"

#include <QMdiArea>

TPictureForm::TPictureForm(const QString& caption, QWidget* parent) : QMdiSubWindow(parent) {
    setWindowTitle(caption);
    resize(328, 178);
}

void TPictureForm::ShowImage(const tessera::GrayImage& image) {
    if (image.width < 0 || image.height < 0) {
        picture_ = QImage();
        return;
    }
    QImage picture(image.width, image.height, QImage::Format_RGB888);
    for (int y = 0; y < image.height; ++y) image.ToRgbLine(y, picture.scanLine(y));
    picture_ = std::move(picture);
    update();
}

void TPictureForm::BringToFront() {
    showNormal();
    raise();
    if (mdiArea()) mdiArea()->setActiveSubWindow(this);
}
