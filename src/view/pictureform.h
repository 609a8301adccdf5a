#pragma once
// What the band, segmented and result windows share: a display picture shown at an integer
// zoom ratio, scrolling, repaint of only the needed rectangle, pointer read-outs and the zoom
// click.
#include <QImage>
#include <QMdiSubWindow>
#include <QString>
#include <array>

#include "image/guitools.h"

class TPictureForm : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit TPictureForm(const QString& caption, QWidget* parent = nullptr);

    // Builds the display picture from the image (which the caller keeps owning) and paints it;
    // keeps zoom level, centre point and scroll positions; changes neither caption nor order.
    void ShowImage(const tessera::GrayImage& image);
    bool HasPicture() const { return !picture_.isNull(); }
    const QImage& Picture() const { return picture_; }
    void BringToFront();

    int ZoomLevel() const { return zoomLevel_; }

    // Band titles (band and segmented windows): slot k holds band k's title.
    std::array<QString, 11> BandTitles;

protected:
    QImage picture_;
    int zoomLevel_ = 1;
};
