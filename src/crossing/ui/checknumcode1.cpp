#include "crossing/ui/checknumcode1.h"

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

#include "uikit/seam.h"
#include "crossing/ui/codeselectionwidgets.h"
#include "support/numbers.h"

TCheckNumCodeForm1::TCheckNumCodeForm1(const DialogSeam* seam, QWidget* parent)
    : QDialog(parent), seam_(seam) {
    using codeselection::OptionButton;
    setWindowTitle(" Code Number Definition");
    setFixedSize(691, 398);

    const codeselection::SharedControls shared = codeselection::MakeSharedControls(
        this, "Memo", "Total Number of codes ", "define the minimum number of pixels ");
    Label4 = shared.Label4;
    Memo = shared.memo;
    Label1 = shared.Label1;
    CodeNumberEdit = shared.CodeNumberEdit;
    GroupBox3 = shared.GroupBox3;
    Label2 = shared.Label2;
    Label3 = shared.Label3;
    MinPixelEdit = shared.MinPixelEdit;
    BitBtn1 = shared.BitBtn1;

    GroupBox2 = new QGroupBox(" Type of Treatment  ", this);
    GroupBox2->setObjectName("GroupBox2");
    RadioButton3 = OptionButton("Taking into account the total number of codes ", "RadioButton3",
                                GroupBox2, [this] { RadioButton3Click(); });
    RadioButton1 = OptionButton("Elimination of classes which pixel number is equal to 0 ",
                                "RadioButton1", GroupBox2, [this] { RadioButton1Click(); });
    RadioButton2 = OptionButton("Defining a minimum number of pixels to select a class ",
                                "RadioButton2", GroupBox2, [this] { RadioButton2Click(); });
    auto* treatment = new QVBoxLayout(GroupBox2);
    treatment->addWidget(RadioButton3);
    treatment->addWidget(RadioButton1);
    treatment->addWidget(RadioButton2);

    RadioButton4 =
        OptionButton("Display Table", "RadioButton4", this, [this] { RadioButton4Click(); });
    RadioButton5 =
        OptionButton("Erase Table", "RadioButton5", this, [this] { RadioButton5Click(); });

    codeselection::LayOut(this, shared, GroupBox2, RadioButton4, RadioButton5);
    QWidget* const keyboardOrder[] = {CodeNumberEdit, RadioButton3, RadioButton1, RadioButton2,
                                      MinPixelEdit,   RadioButton4, RadioButton5, BitBtn1};
    for (size_t i = 1; i < std::size(keyboardOrder); ++i)
        QWidget::setTabOrder(keyboardOrder[i - 1], keyboardOrder[i]);
    GroupBox2->installEventFilter(this);
    GroupBox3->installEventFilter(this);
    connect(BitBtn1, &QPushButton::clicked, this, &TCheckNumCodeForm1::BitBtn1Click);

    // The first showing offers "every code" checked.
    GroupBox3->hide();
    RadioButton3Click();
}

void TCheckNumCodeForm1::RadioButton3Click() {
    RadioButton3->setChecked(true);
    RadioButton1->setChecked(false);
    RadioButton2->setChecked(false);
    SelectByMinimum = false;
}

void TCheckNumCodeForm1::RadioButton1Click() {
    RadioButton1->setChecked(true);
    RadioButton2->setChecked(false);
    RadioButton3->setChecked(false);
    MinPixel = 0;
    SelectByMinimum = true;
}

void TCheckNumCodeForm1::RadioButton2Click() {
    RadioButton2->setChecked(true);
    RadioButton1->setChecked(false);
    RadioButton3->setChecked(false);
    GroupBox3->show();
    SelectByMinimum = true;
}

void TCheckNumCodeForm1::RadioButton4Click() {
    RadioButton4->setChecked(true);
    RadioButton5->setChecked(false);
    codeselection::AppendCodeTable(Memo, Table, PixelCounts, memoEmptyLine_);
}

void TCheckNumCodeForm1::RadioButton5Click() {
    RadioButton5->setChecked(true);
    RadioButton4->setChecked(false);
    codeselection::EraseCodeTable(Memo, memoEmptyLine_);
}

void TCheckNumCodeForm1::GroupBox2Click() {
    if (RadioButton3->isChecked()) {
        GroupBox3->hide();
    } else if (RadioButton1->isChecked()) {
        GroupBox3->hide();
        MinPixel = 0;
    } else if (RadioButton2->isChecked()) {
        GroupBox3->show();
    }
}

void TCheckNumCodeForm1::GroupBox3Click() {
    MinPixel = tessera::LeadingInteger64(MinPixelEdit->text().toStdString());
}

void TCheckNumCodeForm1::BitBtn1Click() {
    if (!RadioButton1->isChecked() && !RadioButton2->isChecked() && !RadioButton3->isChecked()) {
        if (seam_) {
            seam_->showMessage("All the Buttons are inactived\nPlease check", "CAUTION");
        } else {
            ShowMessageBox("All the Buttons are inactived\nPlease check", "CAUTION");
        }
    }
    // "Pixel number equal to 0" means a minimum of 0, whatever the entry (hidden or left from
    // the other option) still holds.
    MinPixel = RadioButton1->isChecked()
                   ? 0
                   : tessera::LeadingInteger64(MinPixelEdit->text().toStdString());
    RadioButton1->setChecked(false);
    RadioButton2->setChecked(false);
    RadioButton3->setChecked(false);
    accept();
}

bool TCheckNumCodeForm1::eventFilter(QObject* watched, QEvent* event) {
    if (codeselection::IsFrameClick(watched, event, GroupBox2)) {
        GroupBox2Click();
    } else if (codeselection::IsFrameClick(watched, event, GroupBox3)) {
        GroupBox3Click();
    }
    return QDialog::eventFilter(watched, event);
}
