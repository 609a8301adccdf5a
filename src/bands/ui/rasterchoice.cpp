#include "bands/ui/rasterchoice.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "bands/rasterband.h"
#include "uikit/namedwidgets.h"
#include "uikit/qtstrings.h"

namespace {

// A number typed in a field: nothing for an empty field, "nan" for NaN; false when the text
// is no number.
bool ReadNumber(const QString& typed, std::optional<double>& value) {
    const QString text = typed.trimmed();
    value.reset();
    if (text.isEmpty()) return true;
    if (text.compare("nan", Qt::CaseInsensitive) == 0) {
        value = std::nan("");
        return true;
    }
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (!ok || !std::isfinite(number)) return false;
    value = number;
    return true;
}

QString NumberField(const std::optional<double>& value, const std::string& dataType = "") {
    return value ? (std::isnan(*value) ? QString("nan")
                                       : Q(tessera::NativeText(*value, dataType)))
                 : QString();
}

}  // namespace

TRasterChoiceForm::TRasterChoiceForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(" RASTER BAND");
    Label1 = NamedLabel("", "Label1", this);
    Label1->setWordWrap(true);
    NodataEdit = NamedEdit("NodataEdit", this);
    MinEdit = NamedEdit("MinEdit", this);
    MaxEdit = NamedEdit("MaxEdit", this);
    NodataEdit->setPlaceholderText("none");
    MinEdit->setPlaceholderText("the band's minimum");
    MaxEdit->setPlaceholderText("the band's maximum");
    BitBtn1 = OkButton(this);
    BitBtn2 = CancelButton(this);
    auto* fields = new QFormLayout();
    fields->addRow("Nodata value", NodataEdit);
    fields->addRow("MIN (gray 0)", MinEdit);
    fields->addRow("MAX (gray 255)", MaxEdit);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addLayout(fields);
    layout->addLayout(CentredButtons(BitBtn1, BitBtn2));
    setFixedWidth(360);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    FocusOnShow(this, NodataEdit);
}

void TRasterChoiceForm::ShowProposal(const QString& what,
                                     const tessera::BandLoadOptions::RasterQuestion& proposed) {
    proposed_ = proposed;
    QString text = what + "\n\nData type: " + Q(proposed.dataType);
    text += proposed.stretched ? ", stretched linearly to gray levels 0 to 255 from MIN to MAX."
                               : ", whose values are the gray levels.";
    text += "\nPixels holding the nodata value are left out of the segments and classes.";
    Label1->setText(text);
    NodataEdit->setText(NumberField(proposed.nodata, proposed.dataType));
    MinEdit->setText(proposed.stretch ? NumberField(proposed.stretch->minimum) : QString());
    MaxEdit->setText(proposed.stretch ? NumberField(proposed.stretch->maximum) : QString());
    MinEdit->setEnabled(proposed.stretched);
    MaxEdit->setEnabled(proposed.stretched);
    // The wrapped text decides the height: the dialog grows to show it whole.
    layout()->activate();
    setFixedHeight(layout()->totalHeightForWidth(width()));
}

tessera::Result<tessera::BandLoadOptions::RasterQuestion> TRasterChoiceForm::Answer() const {
    using R = tessera::Result<tessera::BandLoadOptions::RasterQuestion>;
    tessera::BandLoadOptions::RasterQuestion answer = proposed_;
    const std::string typed = NodataEdit->text().trimmed().toStdString();
    answer.nodata = tessera::ParseNodataValue(typed);
    if (!answer.nodata && !typed.empty())
        return R::Failure(" The nodata value must be a number, nan, inf or -inf, or empty for none ");
    answer.stretch.reset();
    if (proposed_.stretched) {
        std::optional<double> minimum, maximum;
        if (!ReadNumber(MinEdit->text(), minimum) || !ReadNumber(MaxEdit->text(), maximum) ||
            (minimum && std::isnan(*minimum)) || (maximum && std::isnan(*maximum)))
            return R::Failure(" MIN and MAX must be numbers, or both empty for the band's own "
                              "range ");
        if (minimum.has_value() != maximum.has_value())
            return R::Failure(" Give both MIN and MAX, or neither for the band's own range ");
        if (minimum) {
            if (!(*minimum < *maximum)) return R::Failure(" MIN must be lower than MAX ");
            answer.stretch = tessera::StretchRange{*minimum, *maximum};
        }
    }
    return R::Of(answer);
}
