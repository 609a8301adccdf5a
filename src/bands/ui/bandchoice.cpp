#include "bands/ui/bandchoice.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "uikit/namedwidgets.h"

TBandChoiceForm::TBandChoiceForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" BANDS");
    Label1 = NamedLabel("", "Label1", this);
    Label1->setWordWrap(true);
    BandListEdit = NamedEdit("BandListEdit", this);
    BitBtn1 = OkButton(this);
    BitBtn2 = CancelButton(this);
    QHBoxLayout* buttons = CentredButtons(BitBtn1, BitBtn2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(BandListEdit);
    layout->addLayout(buttons);
    setFixedWidth(300);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    FocusOnShow(this, BandListEdit);
}

void TBandChoiceForm::ShowBandCount(int count) {
    Label1->setText(QString("The file holds %1 bands. Which 2 to 10 of them make the band set "
                            "(for example 1,2,3 or 4-9)?")
                        .arg(count));
}
