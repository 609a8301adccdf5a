#pragma once
#include <QDialog>

class QLineEdit;
class QPushButton;
class QGroupBox;
class QLabel;

// " BANDS": asks for the number of bands.
class TNumBandForm : public QDialog {
    Q_OBJECT
  public:
    explicit TNumBandForm(QWidget* parent = nullptr);

    int BandCount = 0;  // read by the open sequence after the dialog closes

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* NumBandEdit = nullptr;
    QPushButton* BitBtn1 = nullptr;

  public slots:
    void NumBandEditChange();

  signals:
    // Every change of BandCount (the code selection dialog for many codes keeps a copy).
    void BandCountChanged(int count);
};
