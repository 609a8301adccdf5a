#include "app/infoforms.h"

#include <QPushButton>
#include <QVBoxLayout>

namespace {
QPushButton* AddOkButton(QDialog* dialog) {
    auto* layout = new QVBoxLayout(dialog);
    layout->addStretch();
    auto* ok = new QPushButton("OK", dialog);
    ok->setObjectName("BitBtn1");
    layout->addWidget(ok, 0, Qt::AlignRight);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    return ok;
}
}  // namespace

TAuthorForm::TAuthorForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" Author");
    resize(310, 322);
    BitBtn1 = AddOkButton(this);
}

TCopyrightForm::TCopyrightForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" Copyright");
    resize(292, 188);
    BitBtn1 = AddOkButton(this);
}

TEnglishInfoForm::TEnglishInfoForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" Info");
    resize(356, 226);
    BitBtn1 = AddOkButton(this);
}

TFrenchInfoForm::TFrenchInfoForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" Info");
    resize(395, 233);
    BitBtn1 = AddOkButton(this);
}

TSpanishInfoForm::TSpanishInfoForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" Info");
    resize(355, 248);
    BitBtn1 = AddOkButton(this);
}

TReferenceForm::TReferenceForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" Reference");
    resize(258, 418);
    BitBtn1 = AddOkButton(this);
}

TInfoSegmSSForm::TInfoSegmSSForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" Segmentation Treatment Info");
    resize(310, 144);
    BitBtn1 = AddOkButton(this);
}

TEquipopInfoForm::TEquipopInfoForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" Equipopulation Treatment Info");
    resize(326, 142);
    BitBtn1 = AddOkButton(this);
}

TDefinitionInfoForm::TDefinitionInfoForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" Definition Treatment Info");
    resize(293, 142);
    BitBtn1 = AddOkButton(this);
}
