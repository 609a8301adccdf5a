#include "crossing/checknumcode2.h"

#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/seam.h"
#include "crossing/codeselectionwidgets.h"
#include "support/numbers.h"

namespace {
QLabel* NamedLabel(const QString& text, const char* name, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}
}  // namespace

TCheckNumCodeForm2::TCheckNumCodeForm2(const DialogSeam* seam, QWidget* parent)
    : QDialog(parent), seam_(seam) {
    using codeselection::OptionButton;
    setWindowTitle(" Code Number Definition");
    setFixedSize(691, 378);

    Label4 = NamedLabel("Code Table", "Label4", this);
    QFont titleFont = Label4->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    Label4->setFont(titleFont);
    Memo2 = new QPlainTextEdit(this);
    Memo2->setObjectName("Memo2");
    Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* tableColumn = new QVBoxLayout;
    tableColumn->addWidget(Label4);
    tableColumn->addWidget(Memo2, 1);

    Label1 = NamedLabel("Total Number of codes", "Label1", this);
    CodeNumberEdit = new QLineEdit(this);
    CodeNumberEdit->setObjectName("CodeNumberEdit");
    auto* totalRow = new QHBoxLayout;
    totalRow->addWidget(Label1);
    totalRow->addWidget(CodeNumberEdit);

    GroupBox2 = new QGroupBox(" Type of Treatment ", this);
    GroupBox2->setObjectName("GroupBox2");
    RadioButton1 = OptionButton("Elimination of classes which pixel number is equal to 0",
                                "RadioButton1", GroupBox2, [this] { RadioButton1Click(); });
    RadioButton2 = OptionButton(" Defining a minimum number of pixels to select a class",
                                "RadioButton2", GroupBox2, [this] { RadioButton2Click(); });
    auto* treatment = new QVBoxLayout(GroupBox2);
    treatment->addWidget(RadioButton1);
    treatment->addWidget(RadioButton2);

    GroupBox3 = new QGroupBox(this);
    GroupBox3->setObjectName("GroupBox3");
    Label2 = NamedLabel("Please, in order to select a class", "Label2", GroupBox3);
    Label3 = NamedLabel("define the minimum number of pixels", "Label3", GroupBox3);
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

    RadioButton3 =
        OptionButton("Display Table", "RadioButton3", this, [this] { RadioButton3Click(); });
    RadioButton4 =
        OptionButton("Erase Table", "RadioButton4", this, [this] { RadioButton4Click(); });
    auto* tableOptions = new QHBoxLayout;
    tableOptions->addWidget(RadioButton3);
    tableOptions->addWidget(RadioButton4);
    tableOptions->addStretch();

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "OK", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setDefault(true);

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

    GroupBox2->installEventFilter(this);
    GroupBox3->installEventFilter(this);
    connect(BitBtn1, &QPushButton::clicked, this, &TCheckNumCodeForm2::BitBtn1Click);

    // The first showing offers "codes without pixels" checked.
    RadioButton1Click();
}

void TCheckNumCodeForm2::RadioButton1Click() {
    RadioButton1->setChecked(true);
    RadioButton2->setChecked(false);
    GroupBox3->hide();
    MinPixel = 0;
}

void TCheckNumCodeForm2::RadioButton2Click() {
    RadioButton2->setChecked(true);
    RadioButton1->setChecked(false);
    GroupBox3->show();
}

void TCheckNumCodeForm2::RadioButton3Click() {
    RadioButton3->setChecked(true);
    RadioButton4->setChecked(false);
    codeselection::AppendCodeTable(Memo2, Table, PixelCounts, memoEmptyLine_);
}

void TCheckNumCodeForm2::RadioButton4Click() {
    RadioButton4->setChecked(true);
    RadioButton3->setChecked(false);
    codeselection::EraseCodeTable(Memo2, memoEmptyLine_);
}

void TCheckNumCodeForm2::GroupBox2Click() {
    if (RadioButton1->isChecked()) {
        GroupBox3->hide();
        MinPixel = 0;
    } else if (RadioButton2->isChecked()) {
        GroupBox3->show();
    }
}

void TCheckNumCodeForm2::GroupBox3Click() {
    MinPixel = tessera::LeadingInteger64(MinPixelEdit->text().toStdString());
}

void TCheckNumCodeForm2::BitBtn1Click() {
    if (!RadioButton1->isChecked() && !RadioButton2->isChecked()) {
        if (seam_) {
            seam_->showMessage("All the Buttons are inactived\nPlease check", "CAUTION");
        } else {
            ShowMessageBox("All the Buttons are inactived\nPlease check", "CAUTION");
        }
    }
    // "Pixel number equal to 0" means a minimum of 0, whatever the hidden entry still holds.
    MinPixel = RadioButton1->isChecked()
                   ? 0
                   : tessera::LeadingInteger64(MinPixelEdit->text().toStdString());
    RadioButton1->setChecked(false);
    RadioButton2->setChecked(false);
    GroupBox3->hide();
    accept();
}

bool TCheckNumCodeForm2::eventFilter(QObject* watched, QEvent* event) {
    if (codeselection::IsFrameClick(watched, event, GroupBox2)) {
        GroupBox2Click();
    } else if (codeselection::IsFrameClick(watched, event, GroupBox3)) {
        GroupBox3Click();
    }
    return QDialog::eventFilter(watched, event);
}
