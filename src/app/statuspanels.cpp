#include "app/statuspanels.h"

#include <QFontMetrics>
#include <QPainter>
#include <QResizeEvent>
#include <QStyle>
#include <algorithm>
#include <numeric>
#include <string>

#include "view/zoomgeometry.h"

void TElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    const int inset = std::max(indent(), 0);
    const QRect area = contentsRect().adjusted(inset, 0, -inset, 0);
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    style()->drawItemText(&painter, area, QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), shown, foregroundRole());
}

namespace {

template <class Label>
Label* NewPanel(Label* label, const QString& name, int height) {
    label->setObjectName(name);
    label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    label->setIndent(3);
    label->setFixedHeight(height);
    return label;
}

// The widest text each panel usually shows (the read-outs of a pixel, the size of a large
// scene): the panel keeps that width while the pointer moves.
std::string WidestText(int panel) {
    switch (panel) {
        case 0:
            return tessera::PositionText(88888, 88888);
        case 1:
            return tessera::RgbText(888, 888, 888);
        case 2:
            return tessera::GrayToneText(888);
        default:
            return tessera::ImageSizeText(88888, 88888);
    }
}

}  // namespace

TStatusPanels::TStatusPanels(QWidget* parent) : QWidget(parent) {
    setObjectName("PanelStrip");
    // As wide as the status bar gives, however narrow; the panels are placed by Arrange.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    const int height = fontMetrics().height() + 6;
    setFixedHeight(height);
    for (size_t panel = 0; panel < Panels.size(); ++panel)
        Panels[panel] = NewPanel(new QLabel(this), QString("Panel%1").arg(panel), height);
    MapPanel = NewPanel(new TElidedLabel(this), "MapPanel", height);
    MapPanel->hide();
    Arrange();
}

int TStatusPanels::NeededWidth(int panel) const {
    const QLabel* label = Panels[static_cast<size_t>(panel)];
    const QFontMetrics metrics(label->font());
    const int text = std::max(metrics.horizontalAdvance(QString::fromStdString(WidestText(panel))),
                              metrics.horizontalAdvance(label->text()));
    const int frame = 2 * label->frameWidth() + 2 * std::max(label->indent(), 0) + 4;
    return std::min(text + frame, kPanelWidth);
}

void TStatusPanels::SetPanel(int panel, const QString& text) {
    QLabel* label = Panels[static_cast<size_t>(panel)];
    if (label->text() == text) return;
    label->setText(text);
    // A text wider than its panel (the size of a larger scene) may take more of the room.
    const int room = label->contentsRect().width() - 2 * std::max(label->indent(), 0);
    if (width() < static_cast<int>(Panels.size()) * kPanelWidth &&
        label->fontMetrics().horizontalAdvance(text.trimmed()) > room)
        Arrange();
}

void TStatusPanels::SetMapPanel(const QString& text) {
    MapPanel->setText(text);
    MapPanel->setToolTip(text);
    const bool shown = !text.isEmpty();
    if (MapPanel->isHidden() == shown) {
        MapPanel->setVisible(shown);
        Arrange();
    }
}

void TStatusPanels::Arrange() {
    const int room = width();
    const int count = static_cast<int>(Panels.size());
    std::array<int, 4> widths{};
    int used = 0;
    if (room >= count * kPanelWidth) {
        widths.fill(kPanelWidth);
        used = count * kPanelWidth;
    } else {
        std::array<int, 4> needs{};
        for (int panel = 0; panel < count; ++panel) needs[panel] = NeededWidth(panel);
        const int needed = std::accumulate(needs.begin(), needs.end(), 0);
        if (needed > room) {
            // Too narrow for every text: all four narrowed alike, all still in sight.
            for (int panel = 0; panel < count; ++panel)
                widths[panel] = needs[panel] * std::max(room, 0) / needed;
        } else {
            widths = needs;
            // What is left goes to the map panel while it shows; else the panels widen toward
            // their usual width, evenly.
            int spare = MapPanel->isHidden() ? room - needed : 0;
            while (spare > 0) {
                const int growing = static_cast<int>(std::count_if(
                    widths.begin(), widths.end(), [](int w) { return w < kPanelWidth; }));
                if (growing == 0) break;
                const int share = std::max(spare / growing, 1);
                for (int& w : widths) {
                    const int grow = std::min({share, kPanelWidth - w, spare});
                    w += grow;
                    spare -= grow;
                }
            }
        }
        used = std::accumulate(widths.begin(), widths.end(), 0);
    }
    int x = 0;
    for (int panel = 0; panel < count; ++panel) {
        Panels[panel]->setGeometry(x, 0, widths[panel], height());
        x += widths[panel];
    }
    MapPanel->setGeometry(used, 0, std::max(room - used, 0), height());
}

void TStatusPanels::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Arrange();
}
