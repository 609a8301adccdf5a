#pragma once
#include "view/ui/pictureform.h"

// The segmented window: one segmented band in its segment colours.
class TTempImageForm : public TPictureForm {
    Q_OBJECT
  public:
    explicit TTempImageForm(QWidget* parent = nullptr);

    // The title of band CurrentSegmentedBand; empty before any band.
    QString BaseTitle() const override;
    // The titles of the `bandCount` bands just segmented (those of the open set); the slots
    // after them are emptied. They stay while another band set is opened.
    void TakeBandTitles(const std::array<QString, 11>& titles, int bandCount);
    // Caption: the title of `band` of the segmented set.
    void ShowTitleOf(int band);

  protected:
    // Beside the colour: the segment number from ShownSegmentMatrix.
    std::optional<ValueTexts> ReadValues(int line, int column, int red, int green,
                                         int blue) const override;
};
