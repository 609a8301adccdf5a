#include "crossing/ui/checknumcode3.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "support/numbers.h"
#include "uikit/namedwidgets.h"

TCheckNumCodeForm3::TCheckNumCodeForm3(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" Code Number Definition");
    setFixedSize(339, 210);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName("GroupBox1");
    Label1 = NamedLabel("Remaining Total Number of codes", "Label1", GroupBox1);
    TotNumCodeEdit = DisplayOnly(new QLineEdit(GroupBox1));
    TotNumCodeEdit->setObjectName("TotNumCodeEdit");
    Label4 = NamedLabel("______________________________", "Label4", GroupBox1);
    Label2 = NamedLabel("As this total is greater than 250, you need to define a new", "Label2",
                        GroupBox1);
    Label2->setWordWrap(true);  // one line with the usual dialog font, two with larger ones
    Label3 = NamedLabel("minimum number of pixels", "Label3", GroupBox1);
    NewTotCodeEdit = new QLineEdit(GroupBox1);
    NewTotCodeEdit->setObjectName("NewTotCodeEdit");
    auto* grid = new QGridLayout(GroupBox1);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(TotNumCodeEdit, 0, 1);
    grid->addWidget(Label4, 1, 0, 1, 2);
    grid->addWidget(Label2, 2, 0, 1, 2);
    grid->addWidget(Label3, 3, 0);
    grid->addWidget(NewTotCodeEdit, 3, 1);

    BitBtn1 = OkButton(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);
    layout->addWidget(BitBtn1, 0, Qt::AlignHCenter);

    connect(NewTotCodeEdit, &QLineEdit::textChanged, this,
            &TCheckNumCodeForm3::NewTotCodeEditChange);
    connect(BitBtn1, &QPushButton::clicked, this, &TCheckNumCodeForm3::BitBtn1Click);
    FocusOnShow(this, NewTotCodeEdit);
}

void TCheckNumCodeForm3::NewTotCodeEditChange() {
    MinPixel = tessera::LeadingInteger64(NewTotCodeEdit->text().toStdString());
}

void TCheckNumCodeForm3::BitBtn1Click() {
    NewTotCodeEditChange();
    accept();
}
