#pragma once
// What the two code selection dialogs that show the code table share: the table memo with
// Display and Erase, the total number of codes, the treatment options, the entry of the
// minimum and OK.
#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "crossing/codetable.h"

struct DialogSeam;
class QEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class TCodeTableMemo;
class QPushButton;
class QRadioButton;

class TCodeSelectionForm : public QDialog {
    Q_OBJECT
  public:
    int64_t MinPixel = 0;
    // What "Display Table" prints: set while the crossing shows the dialog (Ask).
    const tessera::CodeTable* Table = nullptr;
    const std::vector<int64_t>* PixelCounts = nullptr;

    QLabel* Label4 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* CodeNumberEdit = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* MinPixelEdit = nullptr;
    QPushButton* BitBtn1 = nullptr;

    // Shows the dialog for this table and its pixel counts; the answer is in the members. The
    // memo shows this crossing's table only: an earlier crossing's goes, and with "Display
    // Table" checked this one is there at once.
    int Ask(const tessera::CodeTable& table, const std::vector<int64_t>& pixelCounts);

    virtual void GroupBox2Click() = 0;
    void GroupBox3Click();
    void BitBtn1Click();

  protected:
    struct Texts {
        const char* memoName;
        QString totalLabel;
        QString minimumLabel;
        QString treatmentTitle;
    };
    TCodeSelectionForm(const DialogSeam* seam, const Texts& texts, QWidget* parent);

    // An option the dialog keeps exclusive by hand, so that all can stand unchecked after OK.
    // A click on the checked option changes nothing; one on another checks it and runs
    // `checked`.
    QRadioButton* OptionButton(const QString& text, const char* name, QWidget* parent,
                               std::function<void()> checked);
    // The table on the left; on the right the total, the treatment options, the minimum, the
    // table options and OK.
    void LayOut(QRadioButton* display, QRadioButton* erase);
    void DisplayTable();
    void EraseTable();
    // Shows the entry of the minimum with the focus in it, its text selected for typing over.
    void ShowMinimumEntry();

    // OK: which treatment is chosen, whether it means a minimum of 0, and clearing it.
    virtual bool AnyTreatmentChecked() const = 0;
    virtual bool ZeroMinimumChecked() const = 0;
    virtual void ClearTreatment() = 0;

    // Clicks on the frames of GroupBox2 and GroupBox3 run GroupBox2Click and GroupBox3Click.
    bool eventFilter(QObject* watched, QEvent* event) override;

    TCodeTableMemo* memo_ = nullptr;

  private:
    QRadioButton* displayOption_ = nullptr;  // "Display Table"
    const DialogSeam* seam_;
    // The memo starts with one empty line, which an erase removes.
    bool memoEmptyLine_ = true;
};
