#include "crossing/ui/codeselectionform.h"

#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSizePolicy>
#include <QVBoxLayout>
#include <string>

#include "crossing/ui/codetablememo.h"
#include "support/numbers.h"
#include "uikit/namedwidgets.h"
#include "uikit/seam.h"

namespace {

// True for a completed left click on the group box itself: on its frame or its empty
// inside, not on one of its controls (a label lets the click through to the box). A control
// counts unless it was hidden on purpose, so the answer does not depend on whether the window
// has been shown yet.
bool IsFrameClick(QObject* watched, QEvent* event, QGroupBox* box) {
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

}  // namespace

TCodeSelectionForm::TCodeSelectionForm(const DialogSeam* seam, const Texts& texts, QWidget* parent)
    : QDialog(parent), seam_(seam) {
    setWindowTitle(" Code Number Definition");
    Label4 = NamedLabel("Code Table", "Label4", this);
    QFont titleFont = Label4->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    Label4->setFont(titleFont);
    memo_ = new TCodeTableMemo(this);
    memo_->setObjectName(texts.memoName);
    memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    Label1 = NamedLabel(texts.totalLabel, "Label1", this);
    CodeNumberEdit = DisplayOnly(NamedEdit("CodeNumberEdit", this));

    GroupBox2 = new QGroupBox(texts.treatmentTitle, this);
    GroupBox2->setObjectName("GroupBox2");

    GroupBox3 = new QGroupBox(this);
    GroupBox3->setObjectName("GroupBox3");
    Label2 = NamedLabel("Please, in order to select a class", "Label2", GroupBox3);
    Label3 = NamedLabel(texts.minimumLabel, "Label3", GroupBox3);
    MinPixelEdit = new QLineEdit("0", GroupBox3);
    MinPixelEdit->setObjectName("MinPixelEdit");
    auto* minimum = new QVBoxLayout(GroupBox3);
    minimum->addWidget(Label2);
    auto* minimumRow = new QHBoxLayout;
    minimumRow->addWidget(Label3);
    minimumRow->addWidget(MinPixelEdit);
    minimum->addLayout(minimumRow);
    // Showing and hiding the entry must not move the controls under it.
    QSizePolicy keepPlace = GroupBox3->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    GroupBox3->setSizePolicy(keepPlace);

    BitBtn1 = OkButton(this);
    GroupBox2->installEventFilter(this);
    GroupBox3->installEventFilter(this);
    connect(BitBtn1, &QPushButton::clicked, this, &TCodeSelectionForm::BitBtn1Click);
}

QRadioButton* TCodeSelectionForm::OptionButton(const QString& text, const char* name,
                                               QWidget* parent, std::function<void()> checked) {
    auto* button = new QRadioButton(text, parent);
    button->setObjectName(name);
    button->setAutoExclusive(false);
    connect(button, &QRadioButton::clicked, parent,
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

void TCodeSelectionForm::LayOut(QRadioButton* display, QRadioButton* erase) {
    displayOption_ = display;
    auto* tableColumn = new QVBoxLayout;
    tableColumn->addWidget(Label4);
    tableColumn->addWidget(memo_, 1);

    auto* totalRow = new QHBoxLayout;
    totalRow->addWidget(Label1);
    totalRow->addWidget(CodeNumberEdit);
    auto* tableOptions = new QHBoxLayout;
    tableOptions->addWidget(display);
    tableOptions->addWidget(erase);
    tableOptions->addStretch();

    auto* choiceColumn = new QVBoxLayout;
    choiceColumn->addLayout(totalRow);
    choiceColumn->addWidget(GroupBox2);
    choiceColumn->addWidget(GroupBox3);
    choiceColumn->addLayout(tableOptions);
    choiceColumn->addStretch();
    choiceColumn->addWidget(BitBtn1, 0, Qt::AlignHCenter);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(tableColumn, 1);
    layout->addLayout(choiceColumn);
}

int TCodeSelectionForm::Ask(const tessera::CodeTable& table,
                            const std::vector<int64_t>& pixelCounts) {
    CodeNumberEdit->setText(QString::number(table.CodeCount));
    Table = &table;
    PixelCounts = &pixelCounts;
    if (!memo_->HoldsOnly(table, pixelCounts)) {
        EraseTable();
        if (displayOption_ && displayOption_->isChecked()) DisplayTable();
    }
    const int result = seam_ ? seam_->runModal(*this) : exec();
    Table = nullptr;
    PixelCounts = nullptr;
    return result;
}

// Appends the code table to the memo; an empty memo that stands for one empty line (as the
// memo starts) gets the table after that line.
void TCodeSelectionForm::DisplayTable() {
    if (!Table) return;
    std::vector<int64_t> noCounts;
    const std::vector<int64_t>* counts = PixelCounts;
    if (!counts) {
        noCounts.assign(static_cast<size_t>(Table->CodeCount) + 1, 0);
        counts = &noCounts;
    }
    memo_->AppendTable(*Table, *counts, memoEmptyLine_);
    memoEmptyLine_ = false;
}

// Removes every line, the memo's first empty line included.
void TCodeSelectionForm::EraseTable() {
    memo_->clear();
    memoEmptyLine_ = false;
}

void TCodeSelectionForm::ShowMinimumEntry() {
    GroupBox3->show();
    MinPixelEdit->setFocus(Qt::OtherFocusReason);
    MinPixelEdit->selectAll();
}

void TCodeSelectionForm::GroupBox3Click() {
    MinPixel = tessera::LeadingInteger64(MinPixelEdit->text().toStdString());
}

void TCodeSelectionForm::BitBtn1Click() {
    if (!AnyTreatmentChecked()) {
        const QString text = "All the Buttons are inactived\nPlease check";
        if (seam_) {
            seam_->showMessage(text, "CAUTION");
        } else {
            ShowMessageBox(text, "CAUTION");
        }
    }
    // "Pixel number equal to 0" means a minimum of 0, whatever the entry (hidden or left from
    // another option) still holds.
    MinPixel =
        ZeroMinimumChecked() ? 0 : tessera::LeadingInteger64(MinPixelEdit->text().toStdString());
    ClearTreatment();
    accept();
}

bool TCodeSelectionForm::eventFilter(QObject* watched, QEvent* event) {
    if (IsFrameClick(watched, event, GroupBox2)) {
        GroupBox2Click();
    } else if (IsFrameClick(watched, event, GroupBox3)) {
        GroupBox3Click();
    }
    return QDialog::eventFilter(watched, event);
}
