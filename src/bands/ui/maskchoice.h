#pragma once
#include <QDialog>

#include "bands/pixelmask.h"
#include "support/status.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// " MASK": which band of a mask file masks the band set, and by which rule of its values:
// where it is not 0, where any of some bits is set, or where it holds one of some values.
class TMaskChoiceForm : public QDialog {
    Q_OBJECT
  public:
    explicit TMaskChoiceForm(QWidget* parent = nullptr);

    // Names the file in the dialog (`raster`: the band of the file may be chosen, else it is 1)
    // and starts again from band 1, "not zero" and an empty list.
    void ShowFile(const QString& fileName, bool raster, int bandsInFile);

    // The answer in the fields: the band of the file and the rule; the "CAUTION" text of a
    // refused list (from the core's rules) or band. The field at fault takes the focus when the
    // dialog shows again.
    struct Choice {
        int rasterBand = 1;
        tessera::MaskRule rule;
    };
    tessera::Result<Choice> Answer() const;

    QLabel* Label1 = nullptr;
    QLineEdit* BandEdit = nullptr;
    QRadioButton* NonZeroRadio = nullptr;
    QRadioButton* BitsRadio = nullptr;
    QRadioButton* ValuesRadio = nullptr;
    QLineEdit* ListEdit = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

  private:
    void RuleChange();
    class QFormLayout* fields_ = nullptr;
    bool raster_ = false;
    int bandsInFile_ = 0;
    mutable QLineEdit* faulty_ = nullptr;
};
