#pragma once
#include "view/ui/pictureform.h"

// The result window: the crossing result in its class colours.
class TResultImageForm : public TPictureForm {
    Q_OBJECT
  public:
    explicit TResultImageForm(QWidget* parent = nullptr);

    // Always "Resulting Image".
    QString BaseTitle() const override;

  protected:
    // Beside the colour: the class number from the crossing's classImage (255: unclassified).
    std::optional<ValueTexts> ReadValues(int line, int column, int red, int green,
                                         int blue) const override;
};
