// Band navigation, the gray-tone count and the histogram command on a band set opened through
// the real dialogs.
#include <QAbstractButton>
#include <QToolButton>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "gui/guitest.h"
#include "testfiles.h"
#include "view/ui/histogris.h"
#include "view/ui/imagewindow.h"

namespace {
using guitest::ChooseFile;
using guitest::Message;
using guitest::TypeAndClick;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

const char* const kFirst =
    "This image corresponds to the first one\nUse Rigth Speed Button to go up inside the file";
const char* const kLast =
    "This image corresponds to the last one\nUse Left Speed Button to go down inside the file";

class Navigation : public guitest::ProgramTest {
  protected:
    // Three bands of 16 x 16: band 1 holds 0 and 255 only, band 2 every value 0..255 once,
    // band 3 all sevens.
    void SetUp() override {
        ProgramTest::SetUp();
        std::vector<uint8_t> two(256), all(256), sevens(256, 7);
        for (int i = 0; i < 256; ++i) {
            two[i] = i % 2 ? 255 : 0;
            all[i] = static_cast<uint8_t>(i);
        }
        const std::vector<std::vector<uint8_t>> bands{two, all, sevens};
        for (int band = 1; band <= 3; ++band) {
            paths.push_back(dir.File("band" + std::to_string(band) + ".raw"));
            WriteBytes(paths.back(), bands[band - 1]);
            WriteText(dir.File("band" + std::to_string(band) + ".txt"), "16\n16\n");
        }
    }
    void Open(int count, const std::vector<bool>& chosen) {
        script.Then(TypeAndClick({{"NumBandEdit", QString::number(count)}}, "BitBtn1"));
        for (int band = 1; band <= count; ++band) {
            if (chosen[band - 1]) {
                script.Then(ChooseFile(QString::fromStdString(paths[band - 1]), 1));
            } else {
                script.Then(guitest::Cancel());
            }
        }
        Trigger("OpenSpeedButton");
    }
    std::string Title(int band) const {
        return " BAND " + std::to_string(band) + ". " + paths[band - 1];
    }
    ScratchDir dir;
    std::vector<std::string> paths;
};

TEST_F(Navigation, StepsThroughTheBandsWithMessagesAtBothEnds) {
    Open(3, {true, true, true});
    EXPECT_EQ(Title(3), ImageForm->windowTitle().toStdString());

    Trigger("NextSpeedButton");
    Trigger("PreviousSpeedButton");
    EXPECT_EQ(Title(2), ImageForm->windowTitle().toStdString());
    EXPECT_EQ(2, form->ws.CurrentBand());
    Trigger("PreviousSpeedButton");
    EXPECT_EQ(Title(1), ImageForm->windowTitle().toStdString());
    Trigger("PreviousSpeedButton");
    EXPECT_EQ(Title(1), ImageForm->windowTitle().toStdString());
    EXPECT_EQ((std::vector<Message>{{kLast, "INFO"}, {kFirst, "INFO"}}), script.messages);
    EXPECT_TRUE(ImageForm->HasPicture());
}

TEST_F(Navigation, SteppingReleasesTheZoomToolAndKeepsTheZoomLevel) {
    Open(3, {true, true, true});
    Trigger("ZoomSpeedButton");
    ASSERT_TRUE(form->ZoomToolOn());
    ImageForm->ZoomClick(Qt::LeftButton, QPoint(2, 2));
    ASSERT_EQ(2, ImageForm->ZoomLevel());
    Trigger("PreviousSpeedButton");
    EXPECT_FALSE(form->ZoomToolOn());
    EXPECT_EQ(2, ImageForm->ZoomLevel());
    EXPECT_EQ(Title(2) + " (2:1) ", ImageForm->windowTitle().toStdString());
    // The zoom tool again: the caption is band 2's title with the ratio.
    Trigger("ZoomSpeedButton");
    ImageForm->ZoomClick(Qt::LeftButton, QPoint(2, 2));
    EXPECT_EQ(Title(2) + " (3:1) ", ImageForm->windowTitle().toStdString());
}

TEST_F(Navigation, GrayToneCountOfTheCurrentBand) {
    Open(3, {true, true, true});
    Trigger("PreviousSpeedButton");
    Trigger("GTNumber");  // band 2: every value once
    Trigger("PreviousSpeedButton");
    Trigger("GTNumber");  // band 1: 0 and 255
    EXPECT_EQ((std::vector<Message>{{" 256 gray tones in the Original Image ", ""},
                                    {" 2 gray tones in the Original Image ", ""}}),
              script.messages);
}

TEST_F(Navigation, HistogramShowsTheCurrentBand) {
    Open(3, {true, true, true});
    const tessera::ByteMatrix* drawn = nullptr;
    script.Then(
        [&drawn](QDialog& dialog) {
            drawn = static_cast<THistoGrisForm&>(dialog).Pixels;
            dialog.accept();
            return static_cast<int>(QDialog::Accepted);
        },
        " HISTOGRAM");
    Trigger("HistoSpeedButton");
    EXPECT_EQ(&form->ws.Band(3).pixels, drawn);
    EXPECT_TRUE(script.messages.empty());
}

TEST_F(Navigation, BandsNeverLoadedAreShownEmptyAndNeverRead) {
    Open(3, {true, false, true});  // band 2 cancelled
    Trigger("PreviousSpeedButton");
    EXPECT_FALSE(ImageForm->HasPicture());
    EXPECT_EQ(2, form->ws.CurrentBand());
    Trigger("GTNumber");
    Trigger("Histo");  // refused: no dialog comes
    ASSERT_EQ(2u, script.messages.size());
    EXPECT_EQ("ERROR", script.messages[0].caption.toStdString());
    EXPECT_EQ(script.messages[0], script.messages[1]);
    Trigger("PreviousSpeedButton");
    EXPECT_TRUE(ImageForm->HasPicture());
}

// The zoom ratio stays in the caption through Previous and Next, and in a new band set, which
// keeps the zoom.
TEST_F(Navigation, TheCaptionKeepsTheZoomRatioThroughSteppingAndANewSet) {
    Open(3, {true, true, true});
    Trigger("ZoomSpeedButton");
    for (int click = 0; click < 3; ++click) ImageForm->ZoomClick(Qt::LeftButton, QPoint(2, 2));
    ASSERT_EQ(4, ImageForm->ZoomLevel());
    ASSERT_EQ(Title(3) + " (4:1) ", ImageForm->windowTitle().toStdString());
    Trigger("PreviousSpeedButton");
    EXPECT_EQ(Title(2) + " (4:1) ", ImageForm->windowTitle().toStdString());
    Trigger("NextSpeedButton");
    EXPECT_EQ(Title(3) + " (4:1) ", ImageForm->windowTitle().toStdString());
    Open(2, {true, true});
    EXPECT_EQ(4, ImageForm->ZoomLevel());
    EXPECT_EQ(Title(2) + " (4:1) ", ImageForm->windowTitle().toStdString());
    EXPECT_EQ(Title(1), ImageForm->BandTitles[1].toStdString());  // the titles keep no ratio
}

}  // namespace
