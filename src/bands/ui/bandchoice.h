#pragma once
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// " BANDS": which bands of a multi-band file make the band set, when it holds more than 10.
class TBandChoiceForm : public QDialog {
    Q_OBJECT
  public:
    explicit TBandChoiceForm(QWidget* parent = nullptr);

    // Shows how many bands the file holds before the dialog is run.
    void ShowBandCount(int count);

    QLabel* Label1 = nullptr;
    QLineEdit* BandListEdit = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
};
