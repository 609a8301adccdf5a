#include "bands/ui/imagesize.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "support/numbers.h"
#include "uikit/namedwidgets.h"

TImageSizeForm::TImageSizeForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" Image Size");
    setFixedSize(214, 213);

    Label1 = new QLabel("NOTA: Absence of a  descriptive File", this);
    Label1->setObjectName("Label1");
    Label1->setWordWrap(true);

    GroupBox1 = new QGroupBox("SIZE", this);
    GroupBox1->setObjectName("GroupBox1");
    Label2 = new QLabel("lines", GroupBox1);
    Label2->setObjectName("Label2");
    NumLineEdit = new QLineEdit(GroupBox1);
    NumLineEdit->setObjectName("NumLineEdit");
    Label3 = new QLabel("columns", GroupBox1);
    Label3->setObjectName("Label3");
    NumColEdit = new QLineEdit(GroupBox1);
    NumColEdit->setObjectName("NumColEdit");
    auto* grid = new QGridLayout(GroupBox1);
    grid->addWidget(Label2, 0, 0);
    grid->addWidget(NumLineEdit, 0, 1);
    grid->addWidget(Label3, 1, 0);
    grid->addWidget(NumColEdit, 1, 1);

    BitBtn1 = OkButton(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(GroupBox1);
    layout->addWidget(BitBtn1, 0, Qt::AlignHCenter);

    connect(NumLineEdit, &QLineEdit::textChanged, this, &TImageSizeForm::NumLineEditChange);
    connect(NumColEdit, &QLineEdit::textChanged, this, &TImageSizeForm::NumColEditChange);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    FocusOnShow(this, NumLineEdit);
}

void TImageSizeForm::NumLineEditChange() {
    Lines = tessera::LeadingInteger(NumLineEdit->text().toStdString());
}

void TImageSizeForm::NumColEditChange() {
    Columns = tessera::LeadingInteger(NumColEdit->text().toStdString());
}

void TImageSizeForm::ShowSize(int lines, int columns) {
    if (lines <= 0 || columns <= 0) return;  // no band yet: the texts stay as typed
    if (lines != Lines) NumLineEdit->setText(QString::number(lines));
    if (columns != Columns) NumColEdit->setText(QString::number(columns));
}
