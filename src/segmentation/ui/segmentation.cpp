#include "segmentation/ui/segmentation.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

#include "support/numbers.h"
#include "uikit/namedwidgets.h"
#include "uikit/seam.h"

namespace {
// The type buttons must be able to stand all unselected (OK clears them), which Qt's automatic
// exclusivity forbids; the click handlers keep them exclusive instead.
QRadioButton* TypeButton(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QRadioButton(text, parent);
    button->setObjectName(name);
    button->setAutoExclusive(false);
    return button;
}
}  // namespace

TSegmentationForm::TSegmentationForm(const DialogSeam* seam, QWidget* parent)
    : QDialog(parent), seam_(seam) {
    setWindowTitle("");
    setFixedSize(315, 347);

    MakeBandNameGroup(this, "Image Number ", GroupBox1, Label1, NumberEdit, Label2, NameEdit);

    GroupBox2 = new QGroupBox(" Parameters", this);
    GroupBox2->setObjectName("GroupBox2");
    GroupBox3 = new QGroupBox(GroupBox2);
    GroupBox3->setObjectName("GroupBox3");
    RadioButton1 = TypeButton("Segmentation", "RadioButton1", GroupBox3);
    RadioButton2 = TypeButton("Equipopulation", "RadioButton2", GroupBox3);
    RadioButton3 = TypeButton("Definition", "RadioButton3", GroupBox3);
    auto* typeLayout = new QVBoxLayout(GroupBox3);
    typeLayout->addWidget(RadioButton1);
    typeLayout->addWidget(RadioButton2);
    typeLayout->addWidget(RadioButton3);
    Label3 = NamedLabel("Number of segments   ", "Label3", GroupBox2);
    SegmentNumberEdit = NamedEdit("SegmentNumberEdit", GroupBox2);
    auto* countLayout = new QHBoxLayout;
    countLayout->addWidget(Label3);
    countLayout->addWidget(SegmentNumberEdit);
    auto* parametersLayout = new QVBoxLayout(GroupBox2);
    parametersLayout->addWidget(GroupBox3);
    parametersLayout->addLayout(countLayout);

    BitBtn1 = OkButton(this);
    BitBtn2 = CancelButton(this);
    QHBoxLayout* buttons = CentredButtons(BitBtn1, BitBtn2);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);
    layout->addWidget(GroupBox2);
    layout->addLayout(buttons);

    connect(RadioButton1, &QRadioButton::clicked, this, &TSegmentationForm::RadioButton1Click);
    connect(RadioButton2, &QRadioButton::clicked, this, &TSegmentationForm::RadioButton2Click);
    connect(RadioButton3, &QRadioButton::clicked, this, &TSegmentationForm::RadioButton3Click);
    connect(SegmentNumberEdit, &QLineEdit::textChanged, this,
            &TSegmentationForm::SegmentNumberEditChange);
    connect(BitBtn1, &QPushButton::clicked, this, &TSegmentationForm::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TSegmentationForm::BitBtn2Click);
    FocusOnShow(this, SegmentNumberEdit);
}

// A click on a selected button would toggle it off; setting the states explicitly keeps the
// clicked one selected.
void TSegmentationForm::RadioButton1Click() {
    RadioButton1->setChecked(true);
    RadioButton2->setChecked(false);
    RadioButton3->setChecked(false);
    ChosenType = 0;
}

void TSegmentationForm::RadioButton2Click() {
    RadioButton1->setChecked(false);
    RadioButton2->setChecked(true);
    RadioButton3->setChecked(false);
    ChosenType = 1;
}

void TSegmentationForm::RadioButton3Click() {
    RadioButton1->setChecked(false);
    RadioButton2->setChecked(false);
    RadioButton3->setChecked(true);
    ChosenType = 2;
}

void TSegmentationForm::SegmentNumberEditChange() {
    SegmentCount = tessera::LeadingInteger(SegmentNumberEdit->text().toStdString());
}

// The chosen type survives OK: the next band opens with no button selected and, unless the
// user picks another, gets the same type.
void TSegmentationForm::BitBtn1Click() {
    RadioButton1->setChecked(false);
    RadioButton2->setChecked(false);
    RadioButton3->setChecked(false);
    accept();
}

void TSegmentationForm::BitBtn2Click() {
    Cancelled = true;
    reject();
}

void TSegmentationForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        BitBtn2->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

int TSegmentationForm::RunModal() {
    return seam_ ? seam_->runModal(*this) : exec();
}

bool TSegmentationForm::AskBand(int band, const QString& name, int& type, int& count) {
    NumberEdit->setText(QString::number(band));
    NameEdit->setText(name);
    SegmentNumberEdit->setText("");
    // An edit that was already empty does not report a change; the count is 0 either way.
    SegmentNumberEditChange();
    for (;;) {
        // How the dialog closed does not matter: the close box counts as OK.
        RunModal();
        if (Cancelled) {
            Cancelled = false;
            return false;
        }
        if (ChosenType == 100) {
            if (seam_) {
                seam_->showMessage("Not Any Treatment Selected\nTry again", "ERROR");
            } else {
                ShowMessageBox("Not Any Treatment Selected\nTry again", "ERROR");
            }
            continue;
        }
        type = ChosenType;
        count = SegmentCount;
        return true;
    }
}
