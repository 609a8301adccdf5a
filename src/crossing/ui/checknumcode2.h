#pragma once
#include <QDialog>
#include <cstdint>
#include <vector>

#include "crossing/codetable.h"

struct DialogSeam;
class QEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

// " Code Number Definition" for more than 250 codes: eliminate the codes without pixels or up
// to a minimum number of pixels.
class TCheckNumCodeForm2 : public QDialog {
    Q_OBJECT
  public:
    TCheckNumCodeForm2(const DialogSeam* seam, QWidget* parent = nullptr);

    int64_t MinPixel = 0;
    int BandCount = 0;  // copied from the band-count dialog
    const tessera::CodeTable* Table = nullptr;
    const std::vector<int64_t>* PixelCounts = nullptr;

    QLabel* Label4 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* CodeNumberEdit = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* MinPixelEdit = nullptr;
    QRadioButton* RadioButton3 = nullptr;
    QRadioButton* RadioButton4 = nullptr;
    QPushButton* BitBtn1 = nullptr;

  public slots:
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void RadioButton4Click();
    void GroupBox2Click();
    void GroupBox3Click();
    void BitBtn1Click();

  protected:
    // Clicks on the frames of GroupBox2 and GroupBox3 run GroupBox2Click and GroupBox3Click.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    const DialogSeam* seam_;
    // The memo starts with one empty line, which an erase removes.
    bool memoEmptyLine_ = true;
};
