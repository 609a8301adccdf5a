#pragma once
// Pieces shared by the two code selection dialogs that show the code table.
#include <QDialog>
#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSizePolicy>
#include <QString>
#include <QStyle>
#include <QVBoxLayout>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "uikit/namedwidgets.h"
#include "crossing/codetable.h"
#include "crossing/report.h"

namespace codeselection {

// The controls both dialogs have: the code table memo with its title, the total number of
// codes, the entry of the minimum and the OK button.
struct SharedControls {
    QLabel* Label4 = nullptr;
    QPlainTextEdit* memo = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* CodeNumberEdit = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* MinPixelEdit = nullptr;
    QPushButton* BitBtn1 = nullptr;
};

inline SharedControls MakeSharedControls(QDialog* dialog, const char* memoName,
                                         const QString& totalLabel, const QString& minimumLabel) {
    SharedControls controls;
    controls.Label4 = NamedLabel("Code Table", "Label4", dialog);
    QFont titleFont = controls.Label4->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    controls.Label4->setFont(titleFont);
    controls.memo = new QPlainTextEdit(dialog);
    controls.memo->setObjectName(memoName);
    controls.memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    controls.memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    controls.memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    controls.Label1 = NamedLabel(totalLabel, "Label1", dialog);
    controls.CodeNumberEdit = new QLineEdit(dialog);
    controls.CodeNumberEdit->setObjectName("CodeNumberEdit");

    controls.GroupBox3 = new QGroupBox(dialog);
    controls.GroupBox3->setObjectName("GroupBox3");
    controls.Label2 =
        NamedLabel("Please, in order to select a class", "Label2", controls.GroupBox3);
    controls.Label3 = NamedLabel(minimumLabel, "Label3", controls.GroupBox3);
    controls.MinPixelEdit = new QLineEdit("0", controls.GroupBox3);
    controls.MinPixelEdit->setObjectName("MinPixelEdit");
    auto* minimum = new QVBoxLayout(controls.GroupBox3);
    minimum->addWidget(controls.Label2);
    auto* minimumRow = new QHBoxLayout;
    minimumRow->addWidget(controls.Label3);
    minimumRow->addWidget(controls.MinPixelEdit);
    minimum->addLayout(minimumRow);
    // Showing and hiding the entry must not move the controls under it.
    QSizePolicy keepPlace = controls.GroupBox3->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    controls.GroupBox3->setSizePolicy(keepPlace);

    controls.BitBtn1 =
        new QPushButton(dialog->style()->standardIcon(QStyle::SP_DialogOkButton), "OK", dialog);
    controls.BitBtn1->setObjectName("BitBtn1");
    controls.BitBtn1->setDefault(true);
    return controls;
}

// The table on the left; on the right the total, the treatment options, the minimum, the
// table options and OK.
inline void LayOut(QDialog* dialog, const SharedControls& controls, QGroupBox* treatment,
                   QRadioButton* display, QRadioButton* erase) {
    auto* tableColumn = new QVBoxLayout;
    tableColumn->addWidget(controls.Label4);
    tableColumn->addWidget(controls.memo, 1);

    auto* totalRow = new QHBoxLayout;
    totalRow->addWidget(controls.Label1);
    totalRow->addWidget(controls.CodeNumberEdit);
    auto* tableOptions = new QHBoxLayout;
    tableOptions->addWidget(display);
    tableOptions->addWidget(erase);
    tableOptions->addStretch();

    auto* choiceColumn = new QVBoxLayout;
    choiceColumn->addLayout(totalRow);
    choiceColumn->addWidget(treatment);
    choiceColumn->addWidget(controls.GroupBox3);
    choiceColumn->addLayout(tableOptions);
    choiceColumn->addStretch();
    choiceColumn->addWidget(controls.BitBtn1, 0, Qt::AlignHCenter);

    auto* layout = new QHBoxLayout(dialog);
    layout->addLayout(tableColumn, 1);
    layout->addLayout(choiceColumn);
}

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
