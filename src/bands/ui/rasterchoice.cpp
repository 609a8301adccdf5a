#include "bands/ui/rasterchoice.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "bands/percentiles.h"
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
    BandEdit = NamedEdit("BandEdit", this);
    NodataEdit = NamedEdit("NodataEdit", this);
    MinEdit = NamedEdit("MinEdit", this);
    MaxEdit = NamedEdit("MaxEdit", this);
    NodataEdit->setPlaceholderText("none");
    MinEdit->setPlaceholderText("minimum, or a percentile: 2%");
    MaxEdit->setPlaceholderText("maximum, or a percentile: 98%");
    BitBtn1 = OkButton(this);
    BitBtn2 = CancelButton(this);
    fields_ = new QFormLayout();
    fields_->addRow("Band of the file", BandEdit);
    fields_->addRow("Nodata value", NodataEdit);
    fields_->addRow("MIN (gray 0)", MinEdit);
    fields_->addRow("MAX (gray 255)", MaxEdit);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addLayout(fields_);
    layout->addLayout(CentredButtons(BitBtn1, BitBtn2));
    setFixedWidth(380);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    FocusOnShow(this, [this]() -> QWidget* { return faulty_ ? faulty_ : NodataEdit; });
}

void TRasterChoiceForm::ShowProposal(const QString& what,
                                     const tessera::BandLoadOptions::RasterQuestion& proposed) {
    proposed_ = proposed;
    faulty_ = nullptr;
    QString text = what + "\n\nData type: " + Q(proposed.dataType);
    text += proposed.stretched ? ", stretched linearly to gray levels 0 to 255 from MIN to MAX."
                               : ", whose values are the gray levels.";
    if (proposed.minimum && proposed.maximum) {
        text += "\nMinimum " + Q(proposed.ValueText(*proposed.minimum)) + ", maximum " +
                Q(proposed.ValueText(*proposed.maximum)) + " over the pixels with data.";
    } else if (proposed.stretched) {
        text += "\nNo pixel holds data.";
    }
    text += proposed.fileNodata ? "\nNodata value of the file: " +
                                      NumberField(proposed.fileNodata, proposed.dataType) + "."
                                : QString("\nThe file declares no nodata value.");
    text += "\nPixels holding the nodata value are left out of the segments and classes.";
    Label1->setText(text);
    const bool chooseBand = proposed.bandsInFile > 0;
    fields_->setRowVisible(BandEdit, chooseBand);
    if (auto* label = qobject_cast<QLabel*>(fields_->labelForField(BandEdit)))
        label->setText(QString("Band of the file (1 to %1)").arg(proposed.bandsInFile));
    BandEdit->setText(QString::number(proposed.rasterBand));
    NodataEdit->setText(NumberField(proposed.nodata, proposed.dataType));
    MinEdit->setText(proposed.stretch ? NumberField(proposed.stretch->minimum) : QString());
    MaxEdit->setText(proposed.stretch ? NumberField(proposed.stretch->maximum) : QString());
    if (!proposed.stretch && proposed.percentiles) {
        MinEdit->setText(Q(tessera::PercentText(proposed.percentiles->low)).remove(' '));
        MaxEdit->setText(Q(tessera::PercentText(proposed.percentiles->high)).remove(' '));
    }
    MinEdit->setEnabled(proposed.stretched);
    MaxEdit->setEnabled(proposed.stretched);
    // The wrapped text decides the height: the dialog grows to show it whole.
    layout()->activate();
    setFixedHeight(layout()->totalHeightForWidth(width()));
}

tessera::Result<tessera::BandLoadOptions::RasterQuestion> TRasterChoiceForm::Answer() const {
    using R = tessera::Result<tessera::BandLoadOptions::RasterQuestion>;
    const auto refuse = [this](QLineEdit* field, const std::string& why) {
        faulty_ = field;
        return R::Failure(why);
    };
    faulty_ = nullptr;
    tessera::BandLoadOptions::RasterQuestion answer = proposed_;
    if (proposed_.bandsInFile > 0) {
        bool whole = false;
        answer.rasterBand = BandEdit->text().trimmed().toInt(&whole);
        if (!whole || answer.rasterBand < 1 || answer.rasterBand > proposed_.bandsInFile)
            return refuse(BandEdit, " The band of the file must be a whole number from 1 to " +
                                        std::to_string(proposed_.bandsInFile) + " ");
    }
    const std::string typed = NodataEdit->text().trimmed().toStdString();
    answer.nodata = tessera::ParseNodataValue(typed);
    if (!answer.nodata && !typed.empty())
        return refuse(NodataEdit,
                      " The nodata value must be a number, nan, inf or -inf, or empty for none ");
    answer.stretch.reset();
    answer.percentiles.reset();
    if (proposed_.stretched) {
        // "2%,98%" in MIN (MAX then empty), or "2%" and "98%": MIN and MAX at percentiles.
        const QString low = MinEdit->text().trimmed(), high = MaxEdit->text().trimmed();
        const QString pair = high.isEmpty() ? low : low + "," + high;
        if (const auto percentiles = tessera::ParsePercentiles(S(pair))) {
            if (!*percentiles) return refuse(MinEdit, " MIN and MAX: " + percentiles->message + " ");
            answer.percentiles = *percentiles->value;
            return R::Of(answer);
        }
        std::optional<double> minimum, maximum;
        const bool minimumRead =
            ReadNumber(MinEdit->text(), minimum) && !(minimum && std::isnan(*minimum));
        const bool maximumRead =
            ReadNumber(MaxEdit->text(), maximum) && !(maximum && std::isnan(*maximum));
        if (!minimumRead || !maximumRead)
            return refuse(minimumRead ? MaxEdit : MinEdit,
                          " MIN and MAX must be numbers, or both empty for the band's own "
                          "range ");
        if (minimum.has_value() != maximum.has_value())
            return refuse(minimum ? MaxEdit : MinEdit,
                          " Give both MIN and MAX, or neither for the band's own range ");
        if (minimum) {
            if (!(*minimum < *maximum)) return refuse(MinEdit, " MIN must be lower than MAX ");
            answer.stretch = tessera::StretchRange{*minimum, *maximum};
        }
    }
    return R::Of(answer);
}
