// Zoom scale, scroll ranges, repaint rectangles, zoom steps, captions and read-out texts of the
// image windows.
#include "view/zoomgeometry.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace tessera {

// Readable failures: {left, top, right, bottom}.
void PrintTo(const PixelRect& r, std::ostream* out) {
    *out << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}
void PrintTo(const ImagePoint& p, std::ostream* out) {
    *out << "{column " << p.column << ", line " << p.line << "}";
}

namespace {

TEST(ZoomScale, EnlargementReductionAndOneToOne) {
    EXPECT_EQ(1.0, ZoomScale(1));
    EXPECT_EQ(1.0, ZoomScale(-1));
    EXPECT_EQ(1.0, ZoomScale(0));
    EXPECT_EQ(4.0, ZoomScale(4));
    EXPECT_EQ(20.0, ZoomScale(20));
    EXPECT_EQ(0.5, ZoomScale(-2));
    EXPECT_EQ(0.25, ZoomScale(-4));
}

TEST(ZoomScale, SurfaceAndImageCoordinatesConvertByTruncation) {
    EXPECT_EQ(3, SurfaceToImage(7, 2));
    EXPECT_EQ(0, SurfaceToImage(3, 4));
    EXPECT_EQ(21, SurfaceToImage(7, -3));
    EXPECT_EQ(7, SurfaceToImage(7, -1));
    // Column 3 at 1:3 is surface 1 exactly, not 0.
    EXPECT_EQ(1, ImageToSurface(3, -3));
    EXPECT_EQ(0, ImageToSurface(2, -3));
    EXPECT_EQ(12, ImageToSurface(3, 4));
    EXPECT_EQ(3, ImageToSurface(3, 1));
}

TEST(ScrollRange, EqualsTheZoomedPictureTruncated) {
    EXPECT_EQ(300, ScrollRangeOf(300, 1));
    EXPECT_EQ(300, ScrollRangeOf(300, -1));
    EXPECT_EQ(600, ScrollRangeOf(300, 2));
    EXPECT_EQ(100, ScrollRangeOf(301, -3));
    EXPECT_EQ(14, ScrollRangeOf(100, -7));
    EXPECT_EQ(160000, ScrollRangeOf(8000, 20));
}

TEST(OrdinaryRepaint, SourceCoversTheClipAtTheScrollPosition) {
    // 1:1: the clip shifted by the scroll position, one more column and line at the end.
    EXPECT_EQ((PixelRect{10, 20, 111, 71}), OrdinarySourceRect({0, 0, 100, 50}, 10, 20, 1));
    // 4:1: surface 0..100 shows columns 0..25, and trunc(100 / 4 + 1) = 26.
    EXPECT_EQ((PixelRect{0, 0, 26, 13}), OrdinarySourceRect({0, 0, 100, 50}, 0, 0, 4));
    // 4:1 scrolled to 3672: the first column shown is 918.
    // trunc(3782 / 4 + 1) = 946, trunc(50 / 4 + 1) = 13.
    EXPECT_EQ((PixelRect{918, 2, 946, 13}), OrdinarySourceRect({0, 10, 110, 50}, 3672, 0, 4));
    // 1:3: every surface pixel covers three columns.
    EXPECT_EQ((PixelRect{30, 0, 301, 151}), OrdinarySourceRect({10, 0, 100, 50}, 0, 0, -3));
}

TEST(OrdinaryRepaint, DestinationIsTheSourceScaledAndTruncated) {
    EXPECT_EQ((PixelRect{0, 0, 104, 52}), DestinationRect({0, 0, 26, 13}, 4));
    EXPECT_EQ((PixelRect{10, 0, 100, 50}), DestinationRect({30, 0, 301, 151}, -3));
    EXPECT_EQ((PixelRect{5, 6, 7, 8}), DestinationRect({5, 6, 7, 8}, -1));
}

TEST(OrdinaryRepaint, OnlyThePartInsideThePictureIsCopied) {
    EXPECT_EQ((PixelRect{10, 0, 40, 20}), ClipToPicture({10, -3, 111, 71}, 40, 20));
    EXPECT_EQ((PixelRect{}), ClipToPicture({50, 0, 60, 10}, 40, 20));
    EXPECT_EQ((PixelRect{0, 0, 40, 20}), ClipToPicture({0, 0, 40, 20}, 40, 20));
}

TEST(CentredRepaint, ClickNearTheLeftEdgeStartsAtColumnZero) {
    // 4:1, window 328 wide: hw = trunc(328 / 8) = 41.
    const CentredView view = CentredSourceRect(5, 0, 328, 178, 1000, 1000, 4);
    EXPECT_EQ(0, view.source.left);
    EXPECT_EQ(82, view.source.right);
    EXPECT_EQ(0, view.scrollX);
    // hh = trunc(178 / 8) = 22.
    EXPECT_EQ(0, view.source.top);
    EXPECT_EQ(44, view.source.bottom);
    EXPECT_EQ(0, view.scrollY);
}

TEST(CentredRepaint, ClickNearTheRightEdgeEndsAtTheLastColumn) {
    const CentredView view = CentredSourceRect(990, 500, 328, 178, 1000, 1000, 4);
    EXPECT_EQ(918, view.source.left);
    EXPECT_EQ(1000, view.source.right);
    EXPECT_EQ(3672, view.scrollX);
    EXPECT_EQ(478, view.source.top);
    EXPECT_EQ(522, view.source.bottom);
    EXPECT_EQ(1912, view.scrollY);
}

TEST(CentredRepaint, ClickInsideKeepsTheCentre) {
    const CentredView view = CentredSourceRect(500, 300, 328, 178, 1000, 1000, 2);
    // hw = 82, hh = 44.
    EXPECT_EQ((PixelRect{418, 256, 582, 344}), view.source);
    EXPECT_EQ(836, view.scrollX);
    EXPECT_EQ(512, view.scrollY);
}

TEST(CentredRepaint, WindowWiderThanThePictureCoversAllFromZero) {
    // At 1:1, hw = 164 and 2hw = 328 >= 200 columns, wherever the click was.
    for (const int column : {0, 7, 100, 199, 250}) {
        const CentredView view = CentredSourceRect(column, 3, 328, 178, 200, 50, 1);
        EXPECT_EQ(0, view.source.left) << "column " << column;
        EXPECT_EQ(200, view.source.right) << "column " << column;
        EXPECT_EQ(0, view.source.top) << "column " << column;
        EXPECT_EQ(50, view.source.bottom) << "column " << column;
        EXPECT_EQ(0, view.scrollX) << "column " << column;
    }
}

TEST(CentredRepaint, ReductionWidensTheSourceByTheFactor) {
    // 1:3: hw = trunc(328 * 3 / 2) = 492.
    const CentredView view = CentredSourceRect(2000, 1000, 328, 178, 5000, 5000, -3);
    EXPECT_EQ((PixelRect{1508, 733, 2492, 1267}), view.source);
    EXPECT_EQ(502, view.scrollX);  // trunc(1508 / 3)
    EXPECT_EQ(244, view.scrollY);  // trunc(733 / 3)
}

TEST(ZoomStep, LeftClicksEnlargeAndSkipTheSecondOneToOne) {
    EXPECT_EQ(2, StepZoom(1, ZoomButton::Left).level);
    EXPECT_EQ(2, StepZoom(-1, ZoomButton::Left).level);
    EXPECT_EQ(-1, StepZoom(-2, ZoomButton::Left).level);
    EXPECT_EQ(-2, StepZoom(-3, ZoomButton::Left).level);
}

TEST(ZoomStep, RightClicksReduceAndSkipTheSecondOneToOne) {
    EXPECT_EQ(-2, StepZoom(1, ZoomButton::Right).level);
    EXPECT_EQ(-2, StepZoom(-1, ZoomButton::Right).level);
    EXPECT_EQ(1, StepZoom(2, ZoomButton::Right).level);
    EXPECT_EQ(-3, StepZoom(-2, ZoomButton::Right).level);
}

TEST(ZoomStep, OtherButtonsKeepTheLevelAndStillCount) {
    const ZoomStep step = StepZoom(5, ZoomButton::Other);
    EXPECT_EQ(5, step.level);
    EXPECT_TRUE(step.changed);
    EXPECT_EQ(-7, StepZoom(-7, ZoomButton::Other).level);
}

TEST(ZoomStep, TwentyFiveLeftClicksStopAtTwentyToOne) {
    int level = 1;
    std::vector<bool> changed;
    for (int click = 1; click <= 25; ++click) {
        const ZoomStep step = StepZoom(level, ZoomButton::Left);
        level = step.level;
        changed.push_back(step.changed);
    }
    EXPECT_EQ(20, level);
    for (int click = 1; click <= 25; ++click) {
        EXPECT_EQ(click <= 19, changed[click - 1]) << "click " << click;
    }
    const ZoomStep back = StepZoom(level, ZoomButton::Right);
    EXPECT_EQ(19, back.level);
    EXPECT_TRUE(back.changed);
}

TEST(ZoomStep, RightClicksStopAtOneToTwenty) {
    int level = 1;
    for (int click = 1; click <= 19; ++click) level = StepZoom(level, ZoomButton::Right).level;
    EXPECT_EQ(-20, level);
    const ZoomStep past = StepZoom(level, ZoomButton::Right);
    EXPECT_EQ(-20, past.level);
    EXPECT_FALSE(past.changed);
}

TEST(ZoomStep, FromOneToTwoBackToOneToOneThenTwoToOne) {
    int level = StepZoom(1, ZoomButton::Right).level;
    EXPECT_EQ("T (1:2) ", ZoomCaption(ViewWindow::Band, "T", level));
    level = StepZoom(level, ZoomButton::Left).level;
    EXPECT_EQ(-1, level);
    EXPECT_EQ("T (1:1)", ZoomCaption(ViewWindow::Band, "T", level));
    level = StepZoom(level, ZoomButton::Left).level;
    EXPECT_EQ(2, level);
    EXPECT_EQ("T (2:1) ", ZoomCaption(ViewWindow::Band, "T", level));
}

TEST(ZoomCaption, RatiosEndWithABlankAndOneToOneDoesNot) {
    const std::string title = " BAND 2. /data/b2.raw";
    EXPECT_EQ(" BAND 2. /data/b2.raw (1:1)", ZoomCaption(ViewWindow::Band, title, 1));
    EXPECT_EQ(" BAND 2. /data/b2.raw (1:1)", ZoomCaption(ViewWindow::Band, title, -1));
    EXPECT_EQ(" BAND 2. /data/b2.raw (3:1) ", ZoomCaption(ViewWindow::Band, title, 3));
    EXPECT_EQ(" BAND 2. /data/b2.raw (1:20) ", ZoomCaption(ViewWindow::Band, title, -20));
    EXPECT_EQ(" BAND 2. /data/b2.raw Segmented (1:1)",
              ZoomCaption(ViewWindow::Segmented, title, 1));
    EXPECT_EQ(" BAND 2. /data/b2.raw Segmented (1:4) ",
              ZoomCaption(ViewWindow::Segmented, title, -4));
    EXPECT_EQ(" BAND 2. /data/b2.raw Segmented (12:1) ",
              ZoomCaption(ViewWindow::Segmented, title, 12));
    EXPECT_EQ("Resulting Image (2:1) ", ZoomCaption(ViewWindow::Result, "Resulting Image", 2));
    EXPECT_EQ(" (2:1) ", ZoomCaption(ViewWindow::Band, "", 2));
}

TEST(ReadOut, PointerAtTwoToOneGivesRightAlignedLineAndColumn) {
    const ImagePoint point = PointerToImage(10, 7, 2);
    EXPECT_EQ((ImagePoint{5, 3}), point);
    EXPECT_EQ("Line:     3  Column:     5 ", PositionText(point.line, point.column));
    EXPECT_EQ("Line: 12345  Column:     0 ", PositionText(12345, 0));
}

TEST(ReadOut, PointerAtAReductionMultiplies) {
    EXPECT_EQ((ImagePoint{30, 21}), PointerToImage(10, 7, -3));
    EXPECT_EQ((ImagePoint{10, 7}), PointerToImage(10, 7, 1));
}

TEST(ReadOut, InsideTheImageOnly) {
    EXPECT_TRUE(InsideImage({0, 0}, 4, 3));
    EXPECT_TRUE(InsideImage({3, 2}, 4, 3));
    EXPECT_FALSE(InsideImage({4, 2}, 4, 3));
    EXPECT_FALSE(InsideImage({3, 3}, 4, 3));
    EXPECT_FALSE(InsideImage({-1, 0}, 4, 3));
    EXPECT_FALSE(InsideImage({0, -1}, 4, 3));
}

TEST(ReadOut, ColourTexts) {
    EXPECT_EQ("Gray Tone :   17 ", GrayToneText(17));
    EXPECT_EQ("R:   1 G:  22 B: 255  ", RgbText(1, 22, 255));
    EXPECT_EQ("Gray Tone :  128 ", BandColourText(128, 128, 128));
    EXPECT_EQ("R: 128 G: 128 B: 127  ", BandColourText(128, 128, 127));
    EXPECT_EQ("R:   9 G:   8 B:   8  ", BandColourText(9, 8, 8));
    EXPECT_EQ("     ", NoValueText());
    EXPECT_EQ("Gray Tone : 255 ", ClassValueText(255));
    EXPECT_EQ("Gray Tone : 3 ", ClassValueText(3));
    EXPECT_EQ("Image Size: 512 lines x 640 columns  ", ImageSizeText(512, 640));
}

}  // namespace
}  // namespace tessera
