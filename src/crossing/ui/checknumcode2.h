#pragma once
#include "crossing/ui/codeselectionform.h"

// " Code Number Definition" for more than 250 codes: eliminate the codes without pixels or up
// to a minimum number of pixels.
class TCheckNumCodeForm2 : public TCodeSelectionForm {
    Q_OBJECT
  public:
    TCheckNumCodeForm2(const DialogSeam* seam, QWidget* parent = nullptr);

    int BandCount = 0;  // copied from the band-count dialog

    TCodeTableMemo* Memo2 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QRadioButton* RadioButton3 = nullptr;
    QRadioButton* RadioButton4 = nullptr;

    void GroupBox2Click() override;

  public slots:
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void RadioButton4Click();

  protected:
    bool AnyTreatmentChecked() const override;
    bool ZeroMinimumChecked() const override;
    void ClearTreatment() override;
};
