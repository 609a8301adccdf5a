#pragma once
// The code table memo of the code selection dialogs. It shows what a text memo holding the
// table would show (the same lines, in the same order, with the same tab columns), but builds
// only the lines on screen: a table of millions of codes appears at once, and its memory does
// not grow with the code count. Display appends a table as a block of lines; Erase clears.
#include <QAbstractScrollArea>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "crossing/codetable.h"

class TCodeTableMemo : public QAbstractScrollArea {
    Q_OBJECT
  public:
    explicit TCodeTableMemo(QWidget* parent = nullptr);

    // Appends the table's lines (header, blank line, one line per code). `emptyLineFirst` puts
    // one empty line before them when the memo is empty.
    void AppendTable(const tessera::CodeTable& table, const std::vector<int64_t>& pixelCounts,
                     bool emptyLineFirst);
    // No line left (an empty memo shows one empty line, as a text memo does).
    void clear();
    bool IsEmpty() const { return blocks_.empty(); }
    // True when every table the memo holds is `table` with these pixel counts (also when it
    // holds none).
    bool HoldsOnly(const tessera::CodeTable& table, const std::vector<int64_t>& pixelCounts) const;

    int64_t LineCount() const;
    QString Line(int64_t index) const;
    // The whole text, lines joined by "\n" (for small tables).
    QString toPlainText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    struct Table {
        tessera::CodeTable table;
        std::vector<int64_t> pixelCounts;
        bool Is(const tessera::CodeTable& other, const std::vector<int64_t>& counts) const {
            return table.CodeCount == other.CodeCount &&
                   table.segmentCounts == other.segmentCounts && pixelCounts == counts;
        }
    };
    struct Block {
        std::shared_ptr<const Table> table;  // none: one empty line
        int64_t Lines() const { return table ? int64_t{table->table.CodeCount} + 2 : 1; }
    };
    void UpdateScrollBars();
    int LineHeight() const;

    std::vector<Block> blocks_;
    int widest_ = 0;  // the widest line seen, for the horizontal scroll range
};
