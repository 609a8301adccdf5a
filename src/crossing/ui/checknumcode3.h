#pragma once
#include <QDialog>
#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;
class QGroupBox;

// " Code Number Definition" while more than 250 codes remain: asks a new minimum.
class TCheckNumCodeForm3 : public QDialog {
    Q_OBJECT
  public:
    explicit TCheckNumCodeForm3(QWidget* parent = nullptr);

    int64_t MinPixel = 0;

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* TotNumCodeEdit = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* NewTotCodeEdit = nullptr;
    QPushButton* BitBtn1 = nullptr;

  public slots:
    void NewTotCodeEditChange();
    void BitBtn1Click();
};
