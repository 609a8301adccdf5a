#pragma once
#include "view/ui/pictureform.h"

// The band window: the current band as it was loaded.
class TImageForm : public TPictureForm {
    Q_OBJECT
  public:
    explicit TImageForm(QWidget* parent = nullptr);

    // The title of band CurrentBand; empty before any band.
    QString BaseTitle() const override;

  protected:
    std::optional<ValueTexts> ReadValues(int line, int column, int red, int green,
                                         int blue) const override;
};
