// Tool-bar glyphs, the magnifier cursor and the reference picture, drawn with QPainter.
#include "app/glyphs.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <array>

namespace glyphs {
namespace {

constexpr int kGlyphSize = 24;
constexpr int kNarrowWidth = 10;

const QColor kOutline(40, 40, 48);
// Colours of segments and classes, as the result pictures show them.
const std::array<QColor, 6> kClassColours{QColor(214, 64, 56),  QColor(66, 142, 70),
                                          QColor(58, 104, 196), QColor(232, 184, 40),
                                          QColor(142, 78, 170), QColor(40, 170, 176)};

QPixmap Blank(int width, int height) {
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void Prepare(QPainter& painter) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kOutline, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

QPixmap Folder() {
    QPixmap pixmap = Blank(kGlyphSize, kGlyphSize);
    QPainter painter(&pixmap);
    Prepare(painter);
    // Back of the folder with its tab.
    QPainterPath back;
    back.moveTo(2.5, 6.5);
    back.lineTo(9.5, 6.5);
    back.lineTo(11.5, 8.5);
    back.lineTo(20.5, 8.5);
    back.lineTo(20.5, 19.5);
    back.lineTo(2.5, 19.5);
    back.closeSubpath();
    painter.setBrush(QColor(214, 168, 64));
    painter.drawPath(back);
    // Open front flap.
    QPolygonF front;
    front << QPointF(5.5, 11.5) << QPointF(22.5, 11.5) << QPointF(20.5, 19.5) << QPointF(2.5, 19.5);
    painter.setBrush(QColor(246, 206, 102));
    painter.drawPolygon(front);
    // Three bands peeking out.
    painter.setPen(Qt::NoPen);
    for (int k = 0; k < 3; ++k) {
        painter.setBrush(QColor(90 + 60 * k, 90 + 60 * k, 90 + 60 * k));
        painter.drawRect(QRectF(7 + 4 * k, 4 + k, 3, 5));
    }
    return pixmap;
}

// A filled arrow pointing left (`left`) or right in a narrow glyph.
void DrawArrow(QPainter& painter, bool left, double top, double bottom, const QColor& colour) {
    const double middle = (top + bottom) / 2;
    QPolygonF arrow;
    if (left) {
        arrow << QPointF(1.5, middle) << QPointF(8.5, top) << QPointF(8.5, bottom);
    } else {
        arrow << QPointF(8.5, middle) << QPointF(1.5, top) << QPointF(1.5, bottom);
    }
    painter.setBrush(colour);
    painter.drawPolygon(arrow);
}

QPixmap Arrow(bool left) {
    QPixmap pixmap = Blank(kNarrowWidth, kGlyphSize);
    QPainter painter(&pixmap);
    Prepare(painter);
    DrawArrow(painter, left, 5.5, 18.5, QColor(70, 110, 190));
    return pixmap;
}

QPixmap SegmentedArrow(bool left) {
    QPixmap pixmap = Blank(kNarrowWidth, kGlyphSize);
    QPainter painter(&pixmap);
    Prepare(painter);
    DrawArrow(painter, left, 2.5, 13.5, QColor(70, 110, 190));
    // Segment colours under the arrow say "segmented".
    painter.setPen(Qt::NoPen);
    for (int k = 0; k < 3; ++k) {
        painter.setBrush(kClassColours[k]);
        painter.drawRect(QRectF(1, 16 + 2.5 * k, 8, 2.5));
    }
    return pixmap;
}

// A gray ramp split into coloured segments: what a segmentation does to a band.
QPixmap Segmentation() {
    QPixmap pixmap = Blank(kGlyphSize, kGlyphSize);
    QPainter painter(&pixmap);
    Prepare(painter);
    QLinearGradient ramp(QPointF(3, 0), QPointF(21, 0));
    ramp.setColorAt(0, QColor(20, 20, 20));
    ramp.setColorAt(1, QColor(245, 245, 245));
    painter.setBrush(ramp);
    painter.drawRect(QRectF(2.5, 2.5, 19, 8));
    const std::array<double, 4> limits{2.5, 8.5, 15.5, 21.5};
    for (int k = 0; k < 3; ++k) {
        painter.setBrush(kClassColours[k]);
        painter.drawRect(QRectF(limits[k], 13.5, limits[k + 1] - limits[k], 8));
    }
    painter.setPen(QPen(kOutline, 1.0, Qt::DashLine));
    painter.drawLine(QPointF(8.5, 10.5), QPointF(8.5, 13.5));
    painter.drawLine(QPointF(15.5, 10.5), QPointF(15.5, 13.5));
    return pixmap;
}

// A floppy disk whose label shows `labelColours`.
QPixmap Disk(int firstColour, int colourCount) {
    QPixmap pixmap = Blank(kGlyphSize, kGlyphSize);
    QPainter painter(&pixmap);
    Prepare(painter);
    QPainterPath body;
    body.moveTo(2.5, 2.5);
    body.lineTo(18.5, 2.5);
    body.lineTo(21.5, 5.5);
    body.lineTo(21.5, 21.5);
    body.lineTo(2.5, 21.5);
    body.closeSubpath();
    painter.setBrush(QColor(64, 80, 120));
    painter.drawPath(body);
    // Metal shutter.
    painter.setBrush(QColor(200, 204, 212));
    painter.drawRect(QRectF(6.5, 2.5, 10, 6));
    painter.setBrush(QColor(64, 80, 120));
    painter.drawRect(QRectF(13, 3.5, 2, 4));
    // Label in the colours of what is saved.
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(5.5, 12.5, 13, 9));
    painter.setPen(Qt::NoPen);
    const double width = 11.0 / colourCount;
    for (int k = 0; k < colourCount; ++k) {
        painter.setBrush(kClassColours[(firstColour + k) % kClassColours.size()]);
        painter.drawRect(QRectF(6.5 + width * k, 14, width, 6));
    }
    return pixmap;
}

// Two segmented bands crossing into a class picture.
QPixmap Crossing() {
    QPixmap pixmap = Blank(kGlyphSize, kGlyphSize);
    QPainter painter(&pixmap);
    Prepare(painter);
    // Horizontal band: rows of segment colours.
    painter.setPen(Qt::NoPen);
    for (int k = 0; k < 3; ++k) {
        painter.setBrush(kClassColours[k].lighter(150));
        painter.drawRect(QRectF(1, 8 + 3 * k, 22, 3));
    }
    // Vertical band: columns of segment colours, drawn half transparent over the first.
    painter.setOpacity(0.75);
    for (int k = 0; k < 3; ++k) {
        painter.setBrush(kClassColours[3 + k]);
        painter.drawRect(QRectF(7.5 + 3 * k, 1, 3, 22));
    }
    painter.setOpacity(1);
    painter.setPen(QPen(kOutline, 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(0.5, 7.5, 23, 9));
    painter.drawRect(QRectF(7, 0.5, 9.5, 23));
    return pixmap;
}

QPixmap Histogram() {
    QPixmap pixmap = Blank(kGlyphSize, kGlyphSize);
    QPainter painter(&pixmap);
    Prepare(painter);
    const std::array<int, 6> heights{5, 11, 17, 13, 8, 4};
    for (size_t k = 0; k < heights.size(); ++k) {
        const int gray = 40 + 40 * static_cast<int>(k);
        painter.setBrush(QColor(gray, gray, gray));
        painter.drawRect(QRectF(2.5 + 3.2 * k, 20.5 - heights[k], 3.2, heights[k]));
    }
    painter.drawLine(QPointF(1.5, 21.5), QPointF(22.5, 21.5));
    painter.drawLine(QPointF(1.5, 21.5), QPointF(1.5, 1.5));
    return pixmap;
}

// A magnifier whose lens is centred on (`centre`, `centre`) in a square of `size`.
void DrawMagnifier(QPainter& painter, double size) {
    const double radius = size * 0.3;
    const double centre = size * 0.38;
    const QPointF lens(centre, centre);
    const double reach = radius * 0.7071;
    painter.setPen(QPen(QColor(110, 70, 40), size * 0.14, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(lens + QPointF(reach, reach), QPointF(size * 0.9, size * 0.9));
    painter.setPen(QPen(kOutline, size * 0.08));
    painter.setBrush(QColor(190, 220, 250, 200));
    painter.drawEllipse(lens, radius, radius);
    painter.setPen(QPen(Qt::white, size * 0.05, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(
        QRectF(centre - radius * 0.6, centre - radius * 0.6, radius * 1.2, radius * 1.2), 100 * 16,
        70 * 16);
}

QPixmap Magnifier() {
    QPixmap pixmap = Blank(kGlyphSize, kGlyphSize);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawMagnifier(painter, kGlyphSize);
    return pixmap;
}

QPixmap ExitDoor() {
    QPixmap pixmap = Blank(kGlyphSize, kGlyphSize);
    QPainter painter(&pixmap);
    Prepare(painter);
    // Door frame and the open door.
    painter.setBrush(QColor(60, 60, 60));
    painter.drawRect(QRectF(3.5, 2.5, 11, 19));
    QPolygonF door;
    door << QPointF(3.5, 2.5) << QPointF(11.5, 4.5) << QPointF(11.5, 23) << QPointF(3.5, 21.5);
    painter.setBrush(QColor(168, 112, 60));
    painter.drawPolygon(door);
    painter.setBrush(QColor(240, 210, 80));
    painter.drawEllipse(QPointF(9.8, 13), 1, 1);
    // Arrow leaving through the door.
    painter.setPen(QPen(QColor(200, 40, 40), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLine(QPointF(14, 12), QPointF(22, 12));
    painter.drawLine(QPointF(19, 9), QPointF(22, 12));
    painter.drawLine(QPointF(19, 15), QPointF(22, 12));
    return pixmap;
}

}  // namespace

QPixmap ToolGlyph(Glyph glyph) {
    switch (glyph) {
        case Glyph::Open:
            return Folder();
        case Glyph::Previous:
            return Arrow(true);
        case Glyph::Next:
            return Arrow(false);
        case Glyph::Segmentation:
            return Segmentation();
        case Glyph::PreviousSegmented:
            return SegmentedArrow(true);
        case Glyph::NextSegmented:
            return SegmentedArrow(false);
        case Glyph::SaveSegmented:
            return Disk(0, 3);
        case Glyph::Treatment:
            return Crossing();
        case Glyph::Histogram:
            return Histogram();
        case Glyph::Zoom:
            return Magnifier();
        case Glyph::SaveResult:
            return Disk(1, 5);
        case Glyph::Exit:
            return ExitDoor();
    }
    return QPixmap();
}

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::white);
        QPainter painter(&pixmap);
        constexpr int kTiles = 3;
        const double tile = static_cast<double>(size) / kTiles;
        for (int row = 0; row < kTiles; ++row) {
            for (int column = 0; column < kTiles; ++column) {
                const QColor colour = kClassColours[(row * 2 + column) % kClassColours.size()];
                painter.fillRect(QRectF(column * tile, row * tile, tile, tile), colour);
            }
        }
        painter.setPen(QPen(Qt::white, size / 16.0));
        for (int k = 1; k < kTiles; ++k) {
            painter.drawLine(QPointF(k * tile, 0), QPointF(k * tile, size));
            painter.drawLine(QPointF(0, k * tile), QPointF(size, k * tile));
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}

QCursor MagnifierCursor() {
    constexpr int kCursorSize = 32;
    QPixmap pixmap = Blank(kCursorSize, kCursorSize);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        DrawMagnifier(painter, kCursorSize);
    }
    const int hotSpot = static_cast<int>(kCursorSize * 0.38);
    return QCursor(pixmap, hotSpot, hotSpot);
}

QPixmap ReferencePicture(int width, int height) {
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    // A classified scene: cells of class colours whose pattern follows two overlapping
    // "bands", so that the picture looks like a crossing result rather than noise.
    constexpr int kCell = 11;
    for (int y = 0; y < height; y += kCell) {
        for (int x = 0; x < width; x += kCell) {
            const int band1 = ((x * 3 + y) / 70) % 3;
            const int band2 = ((x + y * 2 + (x * y) / 90) / 80) % 2;
            const QColor colour = kClassColours[(band1 + 3 * band2) % kClassColours.size()];
            painter.fillRect(x, y, kCell, kCell, colour);
        }
    }
    painter.setPen(QPen(QColor(255, 255, 255, 90), 1));
    for (int x = 0; x < width; x += kCell) painter.drawLine(x, 0, x, height);
    for (int y = 0; y < height; y += kCell) painter.drawLine(0, y, width, y);
    // Title plate.
    const QRect plate(12, height / 2 - 22, width - 24, 44);
    painter.fillRect(plate, QColor(255, 255, 255, 220));
    painter.setPen(QPen(kOutline, 1));
    painter.drawRect(plate.adjusted(0, 0, -1, -1));
    QFont font = painter.font();
    font.setPixelSize(22);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(plate, Qt::AlignCenter, "TESSERA");
    painter.setPen(QPen(kOutline, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(1, 1, width - 2, height - 2));
    return pixmap;
}

}  // namespace glyphs
