#include "crossing/ui/checknumcode1.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TCheckNumCodeForm1::TCheckNumCodeForm1(const DialogSeam* seam, QWidget* parent)
    : TCodeSelectionForm(seam,
                         {"Memo", "Total Number of codes ", "define the minimum number of pixels ",
                          " Type of Treatment  "},
                         parent) {
    setFixedSize(691, 398);
    Memo = memo_;
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

    LayOut(RadioButton4, RadioButton5);
    QWidget* const keyboardOrder[] = {CodeNumberEdit, RadioButton3, RadioButton1, RadioButton2,
                                      MinPixelEdit,   RadioButton4, RadioButton5, BitBtn1};
    for (size_t i = 1; i < std::size(keyboardOrder); ++i)
        QWidget::setTabOrder(keyboardOrder[i - 1], keyboardOrder[i]);

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
    ShowMinimumEntry();
    SelectByMinimum = true;
}

void TCheckNumCodeForm1::RadioButton4Click() {
    RadioButton4->setChecked(true);
    RadioButton5->setChecked(false);
    DisplayTable();
}

void TCheckNumCodeForm1::RadioButton5Click() {
    RadioButton5->setChecked(true);
    RadioButton4->setChecked(false);
    EraseTable();
}

void TCheckNumCodeForm1::GroupBox2Click() {
    if (RadioButton3->isChecked()) {
        GroupBox3->hide();
    } else if (RadioButton1->isChecked()) {
        GroupBox3->hide();
        MinPixel = 0;
    } else if (RadioButton2->isChecked()) {
        ShowMinimumEntry();
    }
}

bool TCheckNumCodeForm1::AnyTreatmentChecked() const {
    return RadioButton1->isChecked() || RadioButton2->isChecked() || RadioButton3->isChecked();
}
bool TCheckNumCodeForm1::ZeroMinimumChecked() const {
    return RadioButton1->isChecked();
}
void TCheckNumCodeForm1::ClearTreatment() {
    RadioButton1->setChecked(false);
    RadioButton2->setChecked(false);
    RadioButton3->setChecked(false);
}
