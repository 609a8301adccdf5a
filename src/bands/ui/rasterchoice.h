#pragma once
#include <QDialog>
#include <optional>

#include "workspace/workspace.h"

class QLabel;
class QLineEdit;
class QPushButton;

// " RASTER BAND": how a band of a raster is brought in: the value of its pixels without data,
// and for a band of more than 8 bits the native values that become gray levels 0 and 255.
// A field left empty: no nodata value; the band's own minimum or maximum.
class TRasterChoiceForm : public QDialog {
    Q_OBJECT
  public:
    explicit TRasterChoiceForm(QWidget* parent = nullptr);

    // Fills the fields with what the file declares and the options give, for the band named
    // in `what` ("Band 1 of /data/scene.tif").
    void ShowProposal(const QString& what,
                      const tessera::BandLoadOptions::RasterQuestion& proposed);
    // The answer in the fields; a "CAUTION" text when a field holds no number or the stretch
    // has MIN not below MAX.
    tessera::Result<tessera::BandLoadOptions::RasterQuestion> Answer() const;

    QLabel* Label1 = nullptr;
    QLineEdit* NodataEdit = nullptr;
    QLineEdit* MinEdit = nullptr;
    QLineEdit* MaxEdit = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

  private:
    tessera::BandLoadOptions::RasterQuestion proposed_;
};
