#include "view/ui/pictureform.h"

#include <QBrush>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QEvent>
#include <QMdiArea>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <algorithm>

namespace {

// The drawing surface: hands its paint and mouse events to the window's handlers.
class PictureSurface : public QWidget {
  public:
    PictureSurface(TPictureForm* form, QWidget* parent) : QWidget(parent), form_(form) {
        setObjectName("PaintBox");
        setMouseTracking(true);  // the read-out follows the pointer without a button down
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        form_->PaintBoxPaint(painter, event->rect());
    }
    void mousePressEvent(QMouseEvent* event) override {
        form_->PaintBoxMouseDown(event->button(), event->position().toPoint());
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        form_->PaintBoxMouseMove(event->position().toPoint());
    }
    void mouseReleaseEvent(QMouseEvent*) override { form_->PaintBoxMouseUp(); }
    // A right click zooms out: it offers no menu, nor lets one of a window around come.
    void contextMenuEvent(QContextMenuEvent* event) override { event->accept(); }

  private:
    TPictureForm* form_;
};

tessera::ZoomButton ZoomButtonOf(Qt::MouseButton button) {
    if (button == Qt::LeftButton) return tessera::ZoomButton::Left;
    if (button == Qt::RightButton) return tessera::ZoomButton::Right;
    return tessera::ZoomButton::Other;
}

QRect ToQRect(const tessera::PixelRect& r) {
    return QRect(r.left, r.top, r.Width(), r.Height());
}

}  // namespace

TPictureForm::TPictureForm(const QString& caption, tessera::ViewWindow window, QWidget* parent)
    : QMdiSubWindow(parent), window_(window) {
    setWindowTitle(caption);
    ScrollBox = new QScrollArea(this);
    ScrollBox->setObjectName("ScrollBox");
    ScrollBox->setWidgetResizable(false);
    ScrollBox->setFrameShape(QFrame::NoFrame);
    PaintBox = new PictureSurface(this, ScrollBox);
    PaintBox->resize(1, 1);
    ScrollBox->setWidget(PaintBox);
    ScrollBox->viewport()->installEventFilter(this);
    setWidget(ScrollBox);
    resize(328, 178);
}

void TPictureForm::ShowImage(const tessera::GrayImage& image) {
    picture_ = QImage();
    if (image.width > 0 && image.height > 0) {
        QImage picture(image.width, image.height, QImage::Format_RGB888);
        if (!picture.isNull()) {  // null when memory runs out: the window stays empty
            for (int y = 0; y < image.height; ++y) image.ToRgbLine(y, picture.scanLine(y));
            picture_ = std::move(picture);
        }
    }
    FitSurface();
    PaintBox->update();
    RefreshReadOut();
}

namespace {

// Keeps a matrix's block alive for as long as a picture is made over it.
void ReleaseBlock(void* block) {
    delete static_cast<std::shared_ptr<const uint8_t[]>*>(block);
}

}  // namespace

void TPictureForm::ShowPlane(const tessera::ByteMatrix& cells,
                             const tessera::ColourTable& colours) {
    picture_ = QImage();
    if (cells.Columns() > 0 && cells.Lines() > 0) {
        auto* held = new std::shared_ptr<const uint8_t[]>(cells.SharedCells());
        // Never written through: the matrix is filled before it is shown.
        QImage picture(const_cast<uchar*>(held->get()), cells.Columns(), cells.Lines(),
                       cells.Columns(), QImage::Format_Indexed8, ReleaseBlock, held);
        if (picture.isNull()) {
            delete held;
        } else {
            QList<QRgb> table(256);
            for (int i = 0; i < 256; ++i)
                table[i] = qRgb(colours[i].red, colours[i].green, colours[i].blue);
            picture.setColorTable(table);
            picture_ = std::move(picture);
        }
    }
    FitSurface();
    PaintBox->update();
    RefreshReadOut();
}

void TPictureForm::SetCaptionNote(const QString& note) {
    if (note == captionNote_) return;
    QString caption = windowTitle();
    if (!captionNote_.isEmpty() && caption.endsWith(captionNote_))
        caption.chop(captionNote_.size());
    captionNote_ = note;
    captioning_ = true;  // the caption keeps its zoom ratio as it stands
    setWindowTitle(caption + note);
    captioning_ = false;
}

void TPictureForm::BringToFront() {
    // A minimised window stays minimised: its new picture is seen once the user restores it.
    if (!isVisible()) show();
    raise();
    if (mdiArea()) mdiArea()->setActiveSubWindow(this);
}

QPoint TPictureForm::ScrollPosition() const {
    return {ScrollBox->horizontalScrollBar()->value(), ScrollBox->verticalScrollBar()->value()};
}

QSize TPictureForm::ImageSize() const {
    if (sources_.bandSetSize) return sources_.bandSetSize();
    return picture_.size();
}

void TPictureForm::FitSurface() {
    const QSize image = ImageSize();
    scrollRange_ = QSize(tessera::ScrollRangeOf(image.width(), zoomLevel_),
                         tessera::ScrollRangeOf(image.height(), zoomLevel_));
    // The surface fills at least the visible area, so that the pointer and the hatch of a
    // centred repaint reach beyond a small picture.
    const QSize visible = ScrollBox->viewport()->size();
    const QSize surface(std::max({scrollRange_.width(), visible.width(), 1}),
                        std::max({scrollRange_.height(), visible.height(), 1}));
    if (PaintBox->size() != surface) PaintBox->resize(surface);
}

bool TPictureForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ScrollBox->viewport() && event->type() == QEvent::Resize) FitSurface();
    return QMdiSubWindow::eventFilter(watched, event);
}

void TPictureForm::PaintBoxPaint(QPainter& painter, const QRect& exposed) {
    if (!HasPicture()) return;
    ++paintCount_;
    const QPoint scroll = ScrollPosition();
    const QRect area = exposed & QRect(scroll, ScrollBox->viewport()->size());
    if (area.isEmpty()) return;
    // After a zoom click the hatch stays wherever the picture does not cover the window; the
    // toolkit repaints more often than the screen is really invalidated, so later repaints
    // put it back under the picture.
    if (centredRepaint_ || hatched_)
        painter.fillRect(area, QBrush(Qt::black, Qt::DiagCrossPattern));
    if (centredRepaint_) {
        DrawSource(painter, lastCentredView_.source);
        return;
    }
    // The area in window coordinates, right and bottom exclusive; the scroll position is added
    // back when it is converted to image pixels.
    const tessera::PixelRect clip{area.left() - scroll.x(), area.top() - scroll.y(),
                                  area.right() + 1 - scroll.x(), area.bottom() + 1 - scroll.y()};
    DrawSource(painter, tessera::OrdinarySourceRect(clip, scroll.x(), scroll.y(), zoomLevel_));
}

void TPictureForm::DrawSource(QPainter& painter, const tessera::PixelRect& source) {
    lastSource_ = source;
    const tessera::PixelRect inside =
        tessera::ClipToPicture(source, picture_.width(), picture_.height());
    const tessera::PixelRect target = tessera::DestinationRect(inside, zoomLevel_);
    if (target.Width() <= 0 || target.Height() <= 0) return;
    // Only the needed rectangle is copied and stretched, never the whole picture.
    const QImage piece = picture_.copy(ToQRect(inside));
    painter.drawImage(ToQRect(target), piece);
}

void TPictureForm::PaintBoxMouseDown(Qt::MouseButton button, QPoint surfacePoint) {
    emit ZoomRequested(button, surfacePoint);
}

void TPictureForm::Zoom(Qt::MouseButton button, QPoint surfacePoint) {
    const tessera::ImagePoint clicked =
        tessera::PointerToImage(surfacePoint.x(), surfacePoint.y(), zoomLevel_);
    const tessera::ZoomStep step = tessera::StepZoom(zoomLevel_, ZoomButtonOf(button));
    zoomLevel_ = step.level;
    if (!step.changed) return;
    centre_ = QPoint(clicked.column, clicked.line);

    const QSize image = ImageSize();
    lastCentredView_ = tessera::CentredSourceRect(centre_.x(), centre_.y(), width(), height(),
                                                  image.width(), image.height(), zoomLevel_);
    FitSurface();
    ScrollBox->horizontalScrollBar()->setValue(lastCentredView_.scrollX);
    ScrollBox->verticalScrollBar()->setValue(lastCentredView_.scrollY);
    centredRepaint_ = true;
    hatched_ = true;
    if (HasPicture()) PaintBox->repaint(QRect(ScrollPosition(), ScrollBox->viewport()->size()));
    centredRepaint_ = false;

    zoomed_ = true;
    captioning_ = true;
    setWindowTitle(QString::fromStdString(
                       tessera::ZoomCaption(window_, BaseTitle().toStdString(), zoomLevel_)) +
                   captionNote_);
    captioning_ = false;
}

void TPictureForm::changeEvent(QEvent* event) {
    QMdiSubWindow::changeEvent(event);
    if (event->type() != QEvent::WindowTitleChange || !zoomed_ || captioning_) return;
    captioning_ = true;
    setWindowTitle(QString::fromStdString(
        tessera::ZoomCaption(window_, windowTitle().toStdString(), zoomLevel_)));
    captioning_ = false;
}

void TPictureForm::RefreshReadOut() {
    // The size of the earlier picture goes too: a move off the picture keeps that panel.
    for (int panel = 0; panel < 4; ++panel) emit ReadOut(panel, QString());
    emit MapReadOut(QString());
    const QPoint pointer = PaintBox->mapFromGlobal(QCursor::pos());
    if (isVisible() && PaintBox->underMouse() && PaintBox->rect().contains(pointer))
        PaintBoxMouseMove(pointer);
}

void TPictureForm::PaintBoxMouseMove(QPoint surfacePoint) {
    auto emptyPanels = [this] {
        for (int panel = 0; panel < 3; ++panel) emit ReadOut(panel, QString());
        emit MapReadOut(QString());
    };
    if (!HasPicture()) {
        emptyPanels();
        return;
    }
    const tessera::ImagePoint point =
        tessera::PointerToImage(surfacePoint.x(), surfacePoint.y(), zoomLevel_);
    const QSize image = ImageSize();
    // The picture may be older than the band set's size (a result shown before a new open).
    if (!tessera::InsideImage(point, image.width(), image.height()) ||
        !tessera::InsideImage(point, picture_.width(), picture_.height())) {
        emptyPanels();
        return;
    }
    const QRgb colour = picture_.pixel(point.column, point.line);
    const auto values =
        ReadValues(point.line, point.column, qRed(colour), qGreen(colour), qBlue(colour));
    if (!values) {
        emptyPanels();
        return;
    }
    emit ReadOut(0, QString::fromStdString(tessera::PositionText(point.line, point.column)));
    emit ReadOut(1, values->colour);
    emit ReadOut(2, values->value);
    emit ReadOut(3, QString::fromStdString(tessera::ImageSizeText(image.height(), image.width())));
    emit MapReadOut(MapText(point.line, point.column));
}

QString TPictureForm::MapText(int line, int column) {
    const std::optional<tessera::Georeference> place =
        sources_.place ? sources_.place() : std::nullopt;
    if (!place) return QString();
    // The coordinate system is looked at once per place, not at every move of the pointer.
    if (!readout_ || readout_->Place().transform != place->transform ||
        readout_->Place().coordinateSystem != place->coordinateSystem)
        readout_.emplace(*place);
    return QString::fromStdString(readout_->Text(line, column));
}

void TPictureForm::closeEvent(QCloseEvent* event) {
    // Closing minimises the window and forgets its picture; the window itself lives on.
    event->ignore();
    picture_ = QImage();
    hatched_ = false;
    showMinimized();
}
