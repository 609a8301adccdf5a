#pragma once
// What the band, segmented and result windows share: a display picture shown at an integer
// zoom ratio, scrolling, repaint of only the needed rectangle, pointer read-outs and the zoom
// click.
#include <QImage>
#include <QMdiSubWindow>
#include <QPoint>
#include <QSize>
#include <QString>
#include <array>
#include <functional>
#include <optional>

#include "image/grayimage.h"
#include "view/mapreadout.h"
#include "view/zoomgeometry.h"

class QCloseEvent;
class QPainter;
class QRect;
class QScrollArea;

class TPictureForm : public QMdiSubWindow {
    Q_OBJECT
  public:
    TPictureForm(const QString& caption, tessera::ViewWindow window, QWidget* parent = nullptr);

    // What the window reads of the band set, given by the main window when it makes it: the
    // band set's Lines and Columns (without it, the picture's own size), the number of the band
    // shown, and the values that the read-out gives beside the colour (segment or class
    // numbers).
    struct Sources {
        std::function<QSize()> bandSetSize;
        std::function<int()> shownBand;
        std::function<const tessera::ByteMatrix*()> values;
        // Where the picture lies on the map; none (or left empty) when it lies on no map.
        std::function<std::optional<tessera::Georeference>()> place = nullptr;
    };
    void SetSources(Sources sources) { sources_ = std::move(sources); }

    // Builds the display picture from the image (which the caller keeps owning) and paints it;
    // keeps zoom level, centre point and scroll positions; changes neither caption nor order.
    // The status panels are refreshed for the new picture (emptied when the pointer is not
    // over it), for this and ShowPlane.
    void ShowImage(const tessera::GrayImage& image);
    // Shows a matrix of one byte a pixel through a colour table (gray levels through the gray
    // ramp, segment or class numbers through their colours): the picture is the matrix's own
    // block, shared, not a copy. Keeps zoom level, centre point and scroll positions.
    void ShowPlane(const tessera::ByteMatrix& cells, const tessera::ColourTable& colours);
    bool HasPicture() const { return !picture_.isNull(); }
    // A note after the caption, whatever the zoom (the result window's, when it shows the
    // crossing of a band set other than the open one); empty: none.
    void SetCaptionNote(const QString& note);
    const QImage& Picture() const { return picture_; }
    void BringToFront();

    int ZoomLevel() const { return zoomLevel_; }
    // Image column and line of the last zoom click.
    QPoint CentrePoint() const { return centre_; }

    // Band titles (band and segmented windows): slot k holds band k's title.
    std::array<QString, 11> BandTitles;

    // The drawing surface, laid out in zoomed-picture coordinates inside the scroll area.
    QWidget* PaintBox = nullptr;
    QScrollArea* ScrollBox = nullptr;

    // ----- handlers of the drawing surface -----
    // A click asks for a zoom step (ZoomRequested): the main window zooms when its zoom tool is
    // on.
    void PaintBoxMouseDown(Qt::MouseButton button, QPoint surfacePoint);
    // One zoom step, re-centred on the clicked pixel.
    void Zoom(Qt::MouseButton button, QPoint surfacePoint);
    // Read-out of the pixel under the pointer (ReadOut, one signal per status panel).
    void PaintBoxMouseMove(QPoint surfacePoint);
    void PaintBoxMouseUp() {}
    // Paints the exposed part of the surface (surface coordinates).
    void PaintBoxPaint(QPainter& painter, const QRect& exposed);

    // The same handlers under the names the tests use.
    void ZoomClick(Qt::MouseButton button, QPoint surfacePoint) {
        PaintBoxMouseDown(button, surfacePoint);
    }
    void PointerMoved(QPoint surfacePoint) { PaintBoxMouseMove(surfacePoint); }

    // Horizontal and vertical scroll ranges: the size of the zoomed picture.
    QSize ScrollRange() const { return scrollRange_; }
    QPoint ScrollPosition() const;
    // The image rectangle that the last paint asked for (it may reach beyond the picture), and
    // the view that the last zoom click centred.
    tessera::PixelRect SourceRectangleOfLastPaint() const { return lastSource_; }
    tessera::CentredView LastCentredView() const { return lastCentredView_; }
    int PaintCount() const { return paintCount_; }

    // The title that captions are made from: a band title, or a constant.
    virtual QString BaseTitle() const = 0;

  signals:
    void ZoomRequested(Qt::MouseButton button, QPoint surfacePoint);
    // Status panel 0..3 and its new text.
    void ReadOut(int panel, const QString& text);
    // The map coordinates of the pixel under the pointer; empty when there are none.
    void MapReadOut(const QString& text);

  protected:
    int ShownBand() const { return sources_.shownBand ? sources_.shownBand() : 0; }
    const tessera::ByteMatrix* Values() const {
        return sources_.values ? sources_.values() : nullptr;
    }
    struct ValueTexts {
        QString colour;  // second panel
        QString value;   // third panel
    };
    // The second and third read-out panels for the pixel; nothing when the value beside the
    // colour cannot be read (then the pointer counts as outside the picture).
    virtual std::optional<ValueTexts> ReadValues(int line, int column, int red, int green,
                                                 int blue) const = 0;

    void closeEvent(QCloseEvent* event) override;
    // A caption set from outside (a band title) keeps the zoom ratio once the window has been
    // zoomed: ZoomCaption of the new title.
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Lines and Columns of the band set (the picture's own size when there is no main window).
    QSize ImageSize() const;
    // The map read-out of the pixel, when the picture lies on the map.
    QString MapText(int line, int column);
    // Sets the scroll ranges from the zoom level and sizes the surface to the larger of the
    // zoomed picture and the visible area.
    void FitSurface();
    void DrawSource(QPainter& painter, const tessera::PixelRect& source);
    // The read-out of the pixel under the pointer, or empty panels when it is not over the
    // picture.
    void RefreshReadOut();

    Sources sources_;
    std::optional<tessera::MapReadout> readout_;  // of the last place read
    tessera::ViewWindow window_;
    QString captionNote_;
    QImage picture_;
    int zoomLevel_ = 1;
    bool zoomed_ = false;      // a zoom click has changed the level: the caption shows it
    bool captioning_ = false;  // the caption is being set with its zoom ratio
    QPoint centre_{0, 0};
    bool centredRepaint_ = false;
    bool hatched_ = false;  // a zoom click has hatched the window; cleared by a close
    QSize scrollRange_{1, 1};
    tessera::PixelRect lastSource_;
    tessera::CentredView lastCentredView_;
    int paintCount_ = 0;
};
