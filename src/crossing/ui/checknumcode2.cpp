#include "crossing/ui/checknumcode2.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TCheckNumCodeForm2::TCheckNumCodeForm2(const DialogSeam* seam, QWidget* parent)
    : TCodeSelectionForm(seam,
                         {"Memo2", "Total Number of codes", "define the minimum number of pixels",
                          " Type of Treatment "},
                         parent) {
    setFixedSize(691, 378);
    Memo2 = memo_;
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

    LayOut(RadioButton3, RadioButton4);
    QWidget* const keyboardOrder[] = {CodeNumberEdit, RadioButton1, RadioButton2, MinPixelEdit,
                                      RadioButton3,   RadioButton4, BitBtn1};
    for (size_t i = 1; i < std::size(keyboardOrder); ++i)
        QWidget::setTabOrder(keyboardOrder[i - 1], keyboardOrder[i]);

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
    ShowMinimumEntry();
}

void TCheckNumCodeForm2::RadioButton3Click() {
    RadioButton3->setChecked(true);
    RadioButton4->setChecked(false);
    DisplayTable();
}

void TCheckNumCodeForm2::RadioButton4Click() {
    RadioButton4->setChecked(true);
    RadioButton3->setChecked(false);
    EraseTable();
}

void TCheckNumCodeForm2::GroupBox2Click() {
    if (RadioButton1->isChecked()) {
        GroupBox3->hide();
        MinPixel = 0;
    } else if (RadioButton2->isChecked()) {
        ShowMinimumEntry();
    }
}

bool TCheckNumCodeForm2::AnyTreatmentChecked() const {
    return RadioButton1->isChecked() || RadioButton2->isChecked();
}
bool TCheckNumCodeForm2::ZeroMinimumChecked() const {
    return RadioButton1->isChecked();
}
void TCheckNumCodeForm2::ClearTreatment() {
    RadioButton1->setChecked(false);
    RadioButton2->setChecked(false);
    GroupBox3->hide();
}
