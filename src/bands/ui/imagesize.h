#pragma once
#include <QDialog>

class QLineEdit;
class QPushButton;
class QGroupBox;
class QLabel;

// " Image Size": asks for the size of a raw image that has no descriptor. Every change of an
// edit takes the number into Lines or Columns; the open sequence uses them once the dialog
// closes.
class TImageSizeForm : public QDialog {
    Q_OBJECT
  public:
    explicit TImageSizeForm(QWidget* parent = nullptr);

    int Lines = 0;
    int Columns = 0;

    // Shows the band set's size (when it has one) before the dialog is run, so that what the
    // dialog shows is what confirming it unchanged uses.
    void ShowSize(int lines, int columns);

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
