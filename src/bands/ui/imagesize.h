#pragma once
#include <QDialog>

class QLineEdit;
class QPushButton;
class QGroupBox;
class QLabel;

// " Image Size": asks for the size of a raw image that has no descriptor. Every change of an
// edit writes the number into the band set's Lines or Columns (the targets set at creation).
class TImageSizeForm : public QDialog {
    Q_OBJECT
  public:
    explicit TImageSizeForm(QWidget* parent = nullptr);

    int* LinesTarget = nullptr;
    int* ColumnsTarget = nullptr;

    QLabel* Label1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* NumLineEdit = nullptr;
    QLineEdit* NumColEdit = nullptr;
    QPushButton* BitBtn1 = nullptr;

  public slots:
    void NumLineEditChange();
    void NumColEditChange();
};
