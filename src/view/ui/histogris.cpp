#include "view/ui/histogris.h"

#include <QFileDialog>
#include <QFont>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QPen>
#include <QPushButton>
#include <algorithm>

#include "bands/bandfiles.h"
#include "support/safefile.h"
#include "uikit/filedialogs.h"
#include "uikit/seam.h"
#include "view/histogramtable.h"

namespace {

class HistogramSurface : public QWidget {
  public:
    HistogramSurface(THistoGrisForm* form) : QWidget(form), form_(form) {
        setObjectName("PaintBox");
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        form_->PaintBoxPaint(painter, event->rect());
    }

  private:
    THistoGrisForm* form_;
};

// The buttons' row ends as far above the bottom as the histogram starts below the top, whatever
// the desktop's frame.
constexpr int kMargin = 16;
constexpr int kButtonsTop = 296;
constexpr int kButtonHeight = 25;
constexpr int kWidth = 301;
constexpr int kHeight = kButtonsTop + kButtonHeight + kMargin;

}  // namespace

THistoGrisForm::THistoGrisForm(const DialogSeam* seam, QWidget* parent)
    : QDialog(parent), seam_(seam) {
    setWindowTitle(" HISTOGRAM");
    setFixedSize(kWidth, kHeight);

    PaintBox = new HistogramSurface(this);
    PaintBox->setGeometry(16, 16, 256, 249);

    // Axis labels under the tick marks.
    struct AxisLabel {
        const char* name;
        const char* text;
        int left;
    };
    static constexpr AxisLabel kAxis[] = {
        {"Label1", "0", 14},     {"Label2", "20", 30},    {"Label6", "40", 50},
        {"Label7", "60", 70},    {"Label3", "80", 90},    {"Label8", "100", 108},
        {"Label9", "120", 128},  {"Label10", "140", 148}, {"Label11", "160", 168},
        {"Label12", "180", 188}, {"Label13", "200", 208}, {"Label14", "220", 228},
        {"Label15", "240", 248},
    };
    QFont axisFont = font();
    axisFont.setPixelSize(9);  // three digits fit between two labels 20 pixels apart
    for (const AxisLabel& axis : kAxis) {
        auto* label = new QLabel(axis.text, this);
        label->setFont(axisFont);
        label->setObjectName(axis.name);
        label->move(axis.left, 270);
        label->adjustSize();
    }

    BitBtnOK = new QPushButton("OK", this);
    BitBtnOK->setObjectName("BitBtnOK");
    BitBtnOK->setGeometry(kMargin, kButtonsTop, 75, kButtonHeight);
    BitBtnOK->setDefault(true);
    connect(BitBtnOK, &QPushButton::clicked, this, &THistoGrisForm::BitBtnOKClick);

    BitBtnSave = new QPushButton("Save", this);
    BitBtnSave->setObjectName("BitBtnSave");
    BitBtnSave->setGeometry(200, kButtonsTop, 75, kButtonHeight);
    BitBtnSave->setAutoDefault(false);
    connect(BitBtnSave, &QPushButton::clicked, this, &THistoGrisForm::BitBtnSaveClick);

    SaveDialog1 = NewFileDialog(this, "SaveDialog1", "Save Histogram",
                                {"File .xls (*.xls)", "File .ts (*.ts)"}, QFileDialog::AcceptSave);
}

void THistoGrisForm::PaintBoxPaint(QPainter& painter, const QRect& exposed) {
    Counts = Pixels ? tessera::ComputeHistogram(*Pixels) : tessera::Histogram{};
    if (Pixels && Nodata && Nodata->Size() == Pixels->Size() && !Nodata->Empty())
        tessera::RemoveNodata(Pixels->Data(), Nodata->Data(), Pixels->Size(), Counts);
    const int64_t peak = tessera::HistogramPeak(Counts);

    painter.fillRect(exposed, palette().color(QPalette::Button));
    painter.setPen(QPen(Qt::black, 1));
    const int base = PaintBox->height() - 5;
    // Each line runs up from the base line and stops just below its top row.
    for (int gray = 0; gray < 256; ++gray) {
        const int top = tessera::HistogramLineTop(Counts[gray], peak, base);
        if (top < base) painter.drawLine(gray, base, gray, top + 1);
    }
    painter.drawLine(0, base, 254, base);
    for (int x = 0; x <= 240; x += 20) painter.drawLine(x, base + 4, x, base + 1);
}

void THistoGrisForm::BitBtnOKClick() {
    accept();
}

void THistoGrisForm::BitBtnSaveClick() {
    // Before any band folder is known the dialog stays where it was, not at the root.
    if (!SaveDirectory.isEmpty()) SaveDialog1->setDirectory(SaveDirectory);
    if (seam_->runModal(*SaveDialog1) != QDialog::Accepted) return;
    // The suffix is appended whatever the filter or the typed name.
    const QString path = SaveDialog1->selectedFiles().value(0) + ".xls";
    const tessera::Status written =
        tessera::WriteWholeFile(path.toStdString(), tessera::HistogramTableText(Counts));
    if (!written) {
        seam_->showMessage(
            QString::fromStdString(tessera::HistogramNotWrittenMessage(path.toStdString())),
            "CAUTION");
    }
    emit SaveEnded();
}
