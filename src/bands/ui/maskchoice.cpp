#include "bands/ui/maskchoice.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "uikit/namedwidgets.h"
#include "uikit/qtstrings.h"

namespace {
QRadioButton* NamedRadio(const QString& text, const char* name, QWidget* parent) {
    auto* radio = new QRadioButton(text, parent);
    radio->setObjectName(name);
    return radio;
}
}  // namespace

TMaskChoiceForm::TMaskChoiceForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" MASK");
    Label1 = NamedLabel("", "Label1", this);
    Label1->setWordWrap(true);
    BandEdit = NamedEdit("BandEdit", this);
    NonZeroRadio = NamedRadio("where it is not 0", "NonZeroRadio", this);
    BitsRadio = NamedRadio("where any of these bits is set (0 to 63)", "BitsRadio", this);
    ValuesRadio = NamedRadio("where it holds one of these values", "ValuesRadio", this);
    auto* rules = new QButtonGroup(this);
    for (QRadioButton* radio : {NonZeroRadio, BitsRadio, ValuesRadio}) rules->addButton(radio);
    ListEdit = NamedEdit("ListEdit", this);
    ListEdit->setPlaceholderText("for example 3,8,9");
    BitBtn1 = OkButton(this);
    BitBtn2 = CancelButton(this);
    fields_ = new QFormLayout();
    fields_->addRow("Band of the file", BandEdit);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addLayout(fields_);
    layout->addWidget(new QLabel("A pixel is masked", this));
    layout->addWidget(NonZeroRadio);
    layout->addWidget(BitsRadio);
    layout->addWidget(ValuesRadio);
    layout->addWidget(ListEdit);
    layout->addLayout(CentredButtons(BitBtn1, BitBtn2));
    setFixedWidth(380);
    for (QRadioButton* radio : {NonZeroRadio, BitsRadio, ValuesRadio})
        connect(radio, &QRadioButton::toggled, this, [this] { RuleChange(); });
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    FocusOnShow(this, [this]() -> QWidget* {
        if (faulty_) return faulty_;
        return ListEdit->isEnabled() ? ListEdit : static_cast<QWidget*>(BitBtn1);
    });
    NonZeroRadio->setChecked(true);
    RuleChange();
}

void TMaskChoiceForm::RuleChange() {
    ListEdit->setEnabled(!NonZeroRadio->isChecked());
}

void TMaskChoiceForm::ShowFile(const QString& fileName, bool raster, int bandsInFile) {
    raster_ = raster;
    bandsInFile_ = bandsInFile;
    faulty_ = nullptr;
    Label1->setText("MASK ← " + fileName +
                    "\n\nThe pixels it masks are without data in every band of the band set: "
                    "out of the stretch, the segments and the classes.");
    fields_->setRowVisible(BandEdit, raster);
    if (auto* label = qobject_cast<QLabel*>(fields_->labelForField(BandEdit)))
        label->setText(bandsInFile > 0 ? QString("Band of the file (1 to %1)").arg(bandsInFile)
                                       : QString("Band of the file"));
    BandEdit->setText("1");
    NonZeroRadio->setChecked(true);
    ListEdit->clear();
    layout()->activate();
    setFixedHeight(layout()->totalHeightForWidth(width()));
}

tessera::Result<TMaskChoiceForm::Choice> TMaskChoiceForm::Answer() const {
    using R = tessera::Result<Choice>;
    faulty_ = nullptr;
    Choice choice;
    if (raster_) {
        bool whole = false;
        choice.rasterBand = BandEdit->text().trimmed().toInt(&whole);
        const bool inFile = bandsInFile_ <= 0 || choice.rasterBand <= bandsInFile_;
        if (!whole || choice.rasterBand < 1 || !inFile) {
            faulty_ = BandEdit;
            return R::Failure(bandsInFile_ > 0
                                  ? " The band of the file must be a whole number from 1 to " +
                                        std::to_string(bandsInFile_) + " "
                                  : std::string(" The band of the file must be a whole number "
                                                "from 1 "));
        }
    }
    if (NonZeroRadio->isChecked()) return R::Of(choice);
    const std::string list = S(ListEdit->text().trimmed());
    const tessera::Result<tessera::MaskRule> rule =
        BitsRadio->isChecked() ? tessera::BitsRule(list) : tessera::ValuesRule(list);
    if (!rule) {
        faulty_ = ListEdit;
        return R::Failure(" The mask is refused: " + rule.message + " ");
    }
    choice.rule = *rule.value;
    return R::Of(choice);
}
