#pragma once
#include "view/ui/pictureform.h"

// The segmented window: one segmented band in its segment colours.
class TTempImageForm : public TPictureForm {
    Q_OBJECT
  public:
    explicit TTempImageForm(QWidget* parent = nullptr);

    // The title of band CurrentSegmentedBand; empty before any band.
    QString BaseTitle() const override;

  protected:
    // Beside the colour: the segment number from ShownSegmentMatrix.
    std::optional<ValueTexts> ReadValues(int line, int column, int red, int green,
                                         int blue) const override;
};
