#pragma once
// The status bar's four panels side by side, and the map panel after them. With room, each
// panel is 250 pixels wide; a narrower frame narrows them toward what their texts need, so that
// all four stay in sight (the panel of the image size included), and the map panel takes only
// the room they leave, its text cut short with an ellipsis.
#include <QLabel>
#include <QWidget>
#include <array>

class QResizeEvent;

// A label whose text, when it does not fit, is shown cut short with "…" (the whole text is its
// tool tip); text() is the whole text.
class TElidedLabel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
};

class TStatusPanels : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kPanelWidth = 250;
    explicit TStatusPanels(QWidget* parent = nullptr);

    std::array<QLabel*, 4> Panels{};
    TElidedLabel* MapPanel = nullptr;

    void SetPanel(int panel, const QString& text);
    // Shows the map panel with this text; hides it when the text is empty.
    void SetMapPanel(const QString& text);
    // The width a panel needs for the widest text it shows.
    int NeededWidth(int panel) const;
    // Places the panels and the map panel in the present width.
    void Arrange();

  protected:
    void resizeEvent(QResizeEvent* event) override;
};
