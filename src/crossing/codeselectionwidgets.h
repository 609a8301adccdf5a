#pragma once
// Pieces shared by the two code selection dialogs that show the code table.
#include <QGroupBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crossing/codetable.h"
#include "crossing/report.h"

namespace codeselection {

// An option button that the dialog keeps exclusive by hand, so that the options can all stand
// unchecked after OK. A click on the checked option changes nothing and runs nothing; a click
// on another one checks it and runs `checked`.
inline QRadioButton* OptionButton(const QString& text, const char* name, QWidget* parent,
                                  std::function<void()> checked) {
    auto* button = new QRadioButton(text, parent);
    button->setObjectName(name);
    button->setAutoExclusive(false);
    QObject::connect(button, &QRadioButton::clicked, parent,
                     [button, checked = std::move(checked)](bool nowChecked) {
                         if (!nowChecked) {
                             // The click toggled a checked option off: put it back.
                             button->setChecked(true);
                             return;
                         }
                         checked();
                     });
    return button;
}

// True for a completed left click on the group box itself: on its frame or its empty
// inside, not on one of its controls (a label lets the click through to the box). A control
// counts unless it was hidden on purpose, so the answer does not depend on whether the window
// has been shown yet.
inline bool IsFrameClick(QObject* watched, QEvent* event, QGroupBox* box) {
    if (watched != box || event->type() != QEvent::MouseButtonRelease) return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint where = mouse->position().toPoint();
    if (mouse->button() != Qt::LeftButton || !box->rect().contains(where)) return false;
    for (QObject* child : box->children()) {
        auto* control = qobject_cast<QWidget*>(child);
        if (!control || control->isWindow()) continue;
        const bool hiddenOnPurpose =
            control->isHidden() && control->testAttribute(Qt::WA_WState_ExplicitShowHide);
        if (!hiddenOnPurpose && control->geometry().contains(where)) return false;
    }
    return true;
}

// Appends the code table to the memo in one block. `emptyLineShown` tells that an empty memo
// stands for one empty line (as the memo starts): the table then comes after that line.
inline void AppendCodeTable(QPlainTextEdit* memo, const tessera::CodeTable* table,
                            const std::vector<int64_t>* pixelCounts, bool& emptyLineShown) {
    if (!table) return;
    std::vector<int64_t> noCounts;
    if (!pixelCounts) {
        noCounts.assign(static_cast<size_t>(table->CodeCount) + 1, 0);
        pixelCounts = &noCounts;
    }
    const std::vector<std::string> lines = tessera::CodeTableLines(*table, *pixelCounts);
    size_t length = 1;
    for (const std::string& line : lines) length += line.size() + 1;
    QString text;
    text.reserve(static_cast<qsizetype>(length));
    if (emptyLineShown && memo->document()->isEmpty()) text += QLatin1Char('\n');
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += QLatin1Char('\n');
        text += QLatin1String(lines[i].data(), static_cast<qsizetype>(lines[i].size()));
    }
    emptyLineShown = false;
    memo->appendPlainText(text);
}

// Removes every line, the memo's first empty line included.
inline void EraseCodeTable(QPlainTextEdit* memo, bool& emptyLineShown) {
    memo->clear();
    emptyLineShown = false;
}

}  // namespace codeselection
