#pragma once
#include "crossing/ui/codeselectionform.h"

// " Code Number Definition" for at most 250 codes: keep every code, eliminate the codes
// without pixels, or eliminate up to a minimum number of pixels.
class TCheckNumCodeForm1 : public TCodeSelectionForm {
    Q_OBJECT
  public:
    TCheckNumCodeForm1(const DialogSeam* seam, QWidget* parent = nullptr);

    bool SelectByMinimum = false;

    TCodeTableMemo* Memo = nullptr;
    QRadioButton* RadioButton3 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QRadioButton* RadioButton4 = nullptr;
    QRadioButton* RadioButton5 = nullptr;

    void GroupBox2Click() override;

  public slots:
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void RadioButton4Click();
    void RadioButton5Click();

  protected:
    bool AnyTreatmentChecked() const override;
    bool ZeroMinimumChecked() const override;
    void ClearTreatment() override;
};
