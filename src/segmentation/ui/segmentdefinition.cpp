#include "segmentation/ui/segmentdefinition.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <cstdint>

#include "support/numbers.h"
#include "uikit/namedwidgets.h"
#include "uikit/seam.h"

TSegmentDefinitionForm::TSegmentDefinitionForm(const DialogSeam* seam, QWidget* parent)
    : QDialog(parent), seam_(seam) {
    setWindowTitle(" Segment Definition ");
    setFixedSize(313, 320);

    MakeBandNameGroup(this, "Number ", GroupBox1, Label1, NumberEdit, Label2, NameEdit);

    GroupBox2 = new QGroupBox(" Segment Boundaries ", this);
    GroupBox2->setObjectName("GroupBox2");
    Label3 = NamedLabel("Segment Number", "Label3", GroupBox2);
    SegmNumberEdit = DisplayOnly(NamedEdit("SegmNumberEdit", GroupBox2));
    Label4 = NamedLabel("Dynamic Scale", "Label4", GroupBox2);
    DSMinEdit = DisplayOnly(NamedEdit("DSMinEdit", GroupBox2));
    Label5 = NamedLabel("__", "Label5", GroupBox2);
    DSMaxEdit = DisplayOnly(NamedEdit("DSMaxEdit", GroupBox2));
    Label6 = NamedLabel("Min. Value", "Label6", GroupBox2);
    MinValEdit = DisplayOnly(NamedEdit("MinValEdit", GroupBox2));
    Label7 = NamedLabel("Max. Value ", "Label7", GroupBox2);
    MaxValEdit = NamedEdit("MaxValEdit", GroupBox2);
    auto* scale = new QHBoxLayout;
    scale->addWidget(DSMinEdit);
    scale->addWidget(Label5);
    scale->addWidget(DSMaxEdit);
    auto* limitsGrid = new QGridLayout(GroupBox2);
    limitsGrid->addWidget(Label3, 0, 0);
    limitsGrid->addWidget(SegmNumberEdit, 0, 1);
    limitsGrid->addWidget(Label4, 1, 0);
    limitsGrid->addLayout(scale, 1, 1);
    limitsGrid->addWidget(Label6, 2, 0);
    limitsGrid->addWidget(MinValEdit, 2, 1);
    limitsGrid->addWidget(Label7, 3, 0);
    limitsGrid->addWidget(MaxValEdit, 3, 1);

    BitBtn1 = OkButton(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);
    layout->addWidget(GroupBox2);
    layout->addWidget(BitBtn1, 0, Qt::AlignHCenter);

    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    FocusOnShow(this, MaxValEdit);
}

std::vector<int> TSegmentDefinitionForm::AskUpperLimits(int band, const QString& name, int count,
                                                        int minGray, int maxGray) {
    NumberEdit->setText(QString::number(band));
    NameEdit->setText(name);
    std::vector<int> upper;
    upper.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (int k = 1; k <= count; ++k) {
        // Widened: a typed limit may be the largest int.
        const int64_t lower = k == 1 ? minGray : int64_t{upper.back()} + 1;
        MinValEdit->setText(QString::number(lower));
        DSMinEdit->setText(QString::number(minGray));
        SegmNumberEdit->setText(QString::number(k));
        // The last segment proposes the band's maximum; the others a blank to be typed over.
        MaxValEdit->setText(k == count ? QString::number(maxGray) : QString(" "));
        DSMaxEdit->setText(QString::number(maxGray));
        // There is no Cancel: however the dialog closes, the field is taken as it is.
        if (seam_) {
            seam_->runModal(*this);
        } else {
            exec();
        }
        upper.push_back(tessera::LeadingInteger(MaxValEdit->text().toStdString()));
    }
    return upper;
}
