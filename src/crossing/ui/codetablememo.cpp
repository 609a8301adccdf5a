#include "crossing/ui/codetablememo.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextOption>
#include <algorithm>

#include "crossing/report.h"

namespace {
// A text memo's tab stops.
constexpr qreal kTabStop = 80;
constexpr int kMargin = 4;

QTextOption LineOption() {
    QTextOption option(Qt::AlignLeft | Qt::AlignVCenter);
    option.setTabStopDistance(kTabStop);
    option.setWrapMode(QTextOption::NoWrap);
    return option;
}
}  // namespace

TCodeTableMemo::TCodeTableMemo(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    UpdateScrollBars();
}

void TCodeTableMemo::AppendTable(const tessera::CodeTable& table,
                                 const std::vector<int64_t>& pixelCounts, bool emptyLineFirst) {
    // One copy of the table per showing: a table displayed twice shares it.
    std::shared_ptr<const Table> shared;
    for (const Block& block : blocks_)
        if (block.table && block.table->Is(table, pixelCounts)) shared = block.table;
    if (!shared) shared = std::make_shared<const Table>(Table{table, pixelCounts});
    if (blocks_.empty() && emptyLineFirst) blocks_.push_back(Block{});
    blocks_.push_back(Block{shared});
    const QFontMetrics metrics(font());
    for (const int64_t index : {int64_t{0}, int64_t{table.CodeCount} + 1}) {
        const QString line =
            QString::fromStdString(tessera::CodeTableLine(table, pixelCounts, index));
        widest_ = std::max(widest_, metrics
                                        .boundingRect(QRect(0, 0, 1 << 20, 100), Qt::TextExpandTabs,
                                                      line, static_cast<int>(kTabStop))
                                        .width());
    }
    UpdateScrollBars();
    viewport()->update();
}

bool TCodeTableMemo::HoldsOnly(const tessera::CodeTable& table,
                               const std::vector<int64_t>& pixelCounts) const {
    return std::all_of(blocks_.begin(), blocks_.end(), [&](const Block& block) {
        return !block.table || block.table->Is(table, pixelCounts);
    });
}

void TCodeTableMemo::clear() {
    blocks_.clear();
    widest_ = 0;
    UpdateScrollBars();
    viewport()->update();
}

int64_t TCodeTableMemo::LineCount() const {
    if (blocks_.empty()) return 1;
    int64_t lines = 0;
    for (const Block& block : blocks_) lines += block.Lines();
    return lines;
}

QString TCodeTableMemo::Line(int64_t index) const {
    for (const Block& block : blocks_) {
        if (index < block.Lines()) {
            if (!block.table) return QString();
            return QString::fromStdString(
                tessera::CodeTableLine(block.table->table, block.table->pixelCounts, index));
        }
        index -= block.Lines();
    }
    return QString();
}

QString TCodeTableMemo::toPlainText() const {
    if (blocks_.empty()) return QString();
    QStringList lines;
    for (int64_t index = 0; index < LineCount(); ++index) lines.append(Line(index));
    return lines.join('\n');
}

int TCodeTableMemo::LineHeight() const {
    return std::max(QFontMetrics(font()).lineSpacing(), 1);
}

void TCodeTableMemo::UpdateScrollBars() {
    const int visible = std::max(viewport()->height() / LineHeight(), 1);
    const int64_t lines = LineCount();
    verticalScrollBar()->setRange(
        0, static_cast<int>(std::min<int64_t>(std::max<int64_t>(lines - visible, 0), INT32_MAX)));
    verticalScrollBar()->setPageStep(visible);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setRange(0, std::max(widest_ + 2 * kMargin - viewport()->width(), 0));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(20);
}

void TCodeTableMemo::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void TCodeTableMemo::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const int height = LineHeight();
    const int64_t first = verticalScrollBar()->value() + event->rect().top() / height;
    const int64_t last = std::min<int64_t>(
        verticalScrollBar()->value() + event->rect().bottom() / height, LineCount() - 1);
    const int left = kMargin - horizontalScrollBar()->value();
    const QTextOption option = LineOption();
    painter.setPen(palette().color(QPalette::Text));
    for (int64_t index = first; index <= last; ++index) {
        const int top = static_cast<int>(index - verticalScrollBar()->value()) * height;
        painter.drawText(QRectF(left, top, 1 << 20, height), Line(index), option);
    }
}

void TCodeTableMemo::keyPressEvent(QKeyEvent* event) {
    QScrollBar* bar = verticalScrollBar();
    switch (event->key()) {
        case Qt::Key_Up:
            bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
            break;
        case Qt::Key_Down:
            bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            break;
        case Qt::Key_PageUp:
            bar->triggerAction(QAbstractSlider::SliderPageStepSub);
            break;
        case Qt::Key_PageDown:
            bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
            break;
        case Qt::Key_Home:
            bar->triggerAction(QAbstractSlider::SliderToMinimum);
            break;
        case Qt::Key_End:
            bar->triggerAction(QAbstractSlider::SliderToMaximum);
            break;
        default:
            QAbstractScrollArea::keyPressEvent(event);
            return;
    }
}
