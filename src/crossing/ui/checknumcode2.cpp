#include "crossing/ui/checknumcode2.h"

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

TCheckNumCodeForm2::TCheckNumCodeForm2(const DialogSeam* seam, QWidget* parent)
    : QDialog(parent), seam_(seam) {
    using codeselection::OptionButton;
    setWindowTitle(" Code Number Definition");
    setFixedSize(691, 378);

    const codeselection::SharedControls shared = codeselection::MakeSharedControls(
        this, "Memo2", "Total Number of codes", "define the minimum number of pixels");
    Label4 = shared.Label4;
    Memo2 = shared.memo;
    Label1 = shared.Label1;
    CodeNumberEdit = shared.CodeNumberEdit;
    GroupBox3 = shared.GroupBox3;
    Label2 = shared.Label2;
    Label3 = shared.Label3;
    MinPixelEdit = shared.MinPixelEdit;
    BitBtn1 = shared.BitBtn1;

    GroupBox2 = new QGroupBox(" Type of Treatment ", this);
    GroupBox2->setObjectName("GroupBox2");
    RadioButton1 = OptionButton("Elimination of classes which pixel number is equal to 0",
                                "RadioButton1", GroupBox2, [this] { RadioButton1Click(); });
    RadioButton2 = OptionButton(" Defining a minimum number of pixels to select a class",
                                "RadioButton2", GroupBox2, [this] { RadioButton2Click(); });
    auto* treatment = new QVBoxLayout(GroupBox2);
    treatment->addWidget(RadioButton1);
    treatment->addWidget(RadioButton2);

    RadioButton3 =
        OptionButton("Display Table", "RadioButton3", this, [this] { RadioButton3Click(); });
    RadioButton4 =
        OptionButton("Erase Table", "RadioButton4", this, [this] { RadioButton4Click(); });

    codeselection::LayOut(this, shared, GroupBox2, RadioButton3, RadioButton4);
    QWidget* const keyboardOrder[] = {CodeNumberEdit, RadioButton1, RadioButton2, MinPixelEdit,
                                      RadioButton3,   RadioButton4, BitBtn1};
    for (size_t i = 1; i < std::size(keyboardOrder); ++i)
        QWidget::setTabOrder(keyboardOrder[i - 1], keyboardOrder[i]);
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
