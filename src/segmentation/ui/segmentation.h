#pragma once
#include <QDialog>
#include <QString>

struct DialogSeam;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The per-band segmentation dialog (no caption): thresholding type and number of segments.
class TSegmentationForm : public QDialog {
    Q_OBJECT
  public:
    TSegmentationForm(const DialogSeam* seam, QWidget* parent = nullptr);

    int ChosenType = 100;  // 100: no type chosen yet in the program's lifetime
    int SegmentCount = 0;
    bool Cancelled = false;

    // Fills the dialog for band `band`, shows it (again after the "no type" message) and
    // answers the type and count; false when the user cancelled.
    bool AskBand(int band, const QString& name, int& type, int& count);

    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* NumberEdit = nullptr;
    QLineEdit* NameEdit = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QRadioButton* RadioButton3 = nullptr;
    QLineEdit* SegmentNumberEdit = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QLabel* Label1 = nullptr;  // "Image Number "
    QLabel* Label2 = nullptr;  // "Name "
    QLabel* Label3 = nullptr;  // "Number of segments   "

  public slots:
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void SegmentNumberEditChange();
    void BitBtn1Click();
    void BitBtn2Click();

  protected:
    // Escape is the Cancel button (it cancels the treatment); the close box only closes.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    int RunModal();

    const DialogSeam* seam_;
};
