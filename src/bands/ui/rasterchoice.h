#pragma once
#include <QDialog>
#include <optional>

#include "workspace/workspace.h"

class QLabel;
class QLineEdit;
class QPushButton;

// " RASTER BAND": how a band of a raster is brought in: the band of the file (when the caller
// lets the user choose it), the value of its pixels without data, and for a band of more than
// 8 bits the native values that become gray levels 0 and 255, or the percentiles of its values
// with data that do ("2%,98%" in MIN, or "2%" in MIN and "98%" in MAX). A field left empty: no
// nodata value; the band's own minimum or maximum.
class TRasterChoiceForm : public QDialog {
    Q_OBJECT
  public:
    explicit TRasterChoiceForm(QWidget* parent = nullptr);

    // Fills the fields with what the file declares and the options give, for the band named
    // in `what` ("BAND 2 ← band 1 of scene.tif"), and shows its type, its minimum and maximum
    // and the file's nodata value.
    void ShowProposal(const QString& what,
                      const tessera::BandLoadOptions::RasterQuestion& proposed);
    // The answer in the fields; a "CAUTION" text when a field holds no number, the band is not
    // one of the file's, the stretch has MIN not below MAX or its percentiles are refused. The field at fault takes the focus
    // when the dialog shows again.
    tessera::Result<tessera::BandLoadOptions::RasterQuestion> Answer() const;

    QLabel* Label1 = nullptr;
    QLineEdit* BandEdit = nullptr;
    QLineEdit* NodataEdit = nullptr;
    QLineEdit* MinEdit = nullptr;
    QLineEdit* MaxEdit = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

  private:
    tessera::BandLoadOptions::RasterQuestion proposed_;
    class QFormLayout* fields_ = nullptr;
    // The field the last refused answer blamed; none: the nodata value's.
    mutable QLineEdit* faulty_ = nullptr;
};
