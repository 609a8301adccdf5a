#include "bands/ui/numband.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "support/numbers.h"
#include "uikit/namedwidgets.h"

TNumBandForm::TNumBandForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" BANDS");
    setFixedSize(220, 160);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName("GroupBox1");
    Label1 = new QLabel("Number of Bands ?", GroupBox1);
    Label1->setObjectName("Label1");
    NumBandEdit = new QLineEdit(GroupBox1);
    NumBandEdit->setObjectName("NumBandEdit");
    auto* groupLayout = new QVBoxLayout(GroupBox1);
    groupLayout->addWidget(Label1);
    groupLayout->addWidget(NumBandEdit);

    BitBtn1 = OkButton(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);
    layout->addWidget(BitBtn1, 0, Qt::AlignHCenter);

    connect(NumBandEdit, &QLineEdit::textChanged, this, &TNumBandForm::NumBandEditChange);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    FocusOnShow(this, NumBandEdit);
}

void TNumBandForm::NumBandEditChange() {
    BandCount = tessera::LeadingInteger(NumBandEdit->text().toStdString());
    emit BandCountChanged(BandCount);
}
