// The three image windows (pictures, zoom clicks, captions, read-outs, close) and the histogram
// window (drawing and saving the table).
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QStringList>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWindow>
#include <tuple>
#include <vector>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "gui/guitest.h"
#include "image/grayimage.h"
#include "rasterfiles.h"
#include "view/ui/histogris.h"
#include "view/ui/imagewindow.h"
#include "view/ui/resultimage.h"
#include "view/ui/tempimage.h"

namespace {
using guitest::ProgramTest;

// A colour picture of 4 columns x 3 lines: pixel (x, y) is gray 10 * x + y where x is even,
// and red 100 + x, green y, blue 7 where x is odd.
tessera::GrayImage SmallColourImage() {
    auto image = tessera::CreateGrayImage(4, 3, tessera::ColourKind);
    EXPECT_TRUE(image.has_value());
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            if (x % 2 == 0) {
                image->SetGray(x, y, static_cast<uint8_t>(10 * x + y));
            } else {
                image->SetColour(x, y, 7, static_cast<uint8_t>(y), static_cast<uint8_t>(100 + x));
            }
        }
    }
    return *image;
}

// A gray picture whose pixel (x, y) is (x + 3 * y) % 256.
tessera::GrayImage GrayRampImage(int columns, int lines) {
    auto image = tessera::CreateGrayImage(columns, lines, tessera::GrayKind);
    EXPECT_TRUE(image.has_value());
    for (int y = 0; y < lines; ++y) {
        for (int x = 0; x < columns; ++x)
            image->SetGray(x, y, static_cast<uint8_t>((x + 3 * y) % 256));
    }
    return *image;
}

class ViewTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        // Paints reach the surfaces only once the frame is on the screen.
        ASSERT_TRUE(guitest::WaitUntil(
            [this] { return form->windowHandle() && form->windowHandle()->isExposed(); }));
    }
    // A band of that size in band 1, on the map at `place`.
    void SetBandSetSize(int columns, int lines,
                        std::optional<tessera::Georeference> place = std::nullopt) {
        auto pixels = tessera::NewByteMatrix(columns, lines);
        ASSERT_TRUE(pixels.has_value());
        ASSERT_TRUE(form->ws.StoreBand(1, "b1.raw", std::move(*pixels),
                                       tessera::BandMarks{{}, std::nullopt, std::move(place)}));
    }
    QStringList Panels() const {
        QStringList texts;
        for (int panel = 0; panel < 4; ++panel) texts << form->PanelText(panel);
        return texts;
    }
    void FillPanels(const QString& text) {
        for (int panel = 0; panel < 4; ++panel) form->SetPanel(panel, text);
    }
    void ZoomToolOn(bool on) {
        form->findChild<QToolButton*>("ZoomSpeedButton")->setChecked(on);
        ASSERT_EQ(on, form->ZoomToolOn());
    }
    static std::string Title(const QWidget* window) { return window->windowTitle().toStdString(); }
};

TEST_F(ViewTest, WindowsStartEmptyAtOneToOne) {
    const std::vector<std::pair<TPictureForm*, std::string>> windows = {
        {ImageForm, " PANEL 1  (1:1)"},
        {TempImageForm, " PANEL 2  (1:1)"},
        {ResultImageForm, " PANEL 3  (1:1)"}};
    for (const auto& [window, caption] : windows) {
        EXPECT_EQ(caption, Title(window));
        EXPECT_EQ(QSize(328, 178), window->size()) << caption;
        EXPECT_EQ(1, window->ZoomLevel()) << caption;
        EXPECT_FALSE(window->HasPicture()) << caption;
        EXPECT_EQ(window->PaintBox, window->findChild<QWidget*>("PaintBox")) << caption;
    }
}

TEST_F(ViewTest, ShowImageBuildsThePictureAndKeepsCaptionAndZoom) {
    SetBandSetSize(4, 3);
    ImageForm->ShowImage(SmallColourImage());
    ASSERT_TRUE(ImageForm->HasPicture());
    const QImage& picture = ImageForm->Picture();
    EXPECT_EQ(QSize(4, 3), picture.size());
    EXPECT_EQ(qRgb(21, 21, 21), picture.pixel(2, 1));
    EXPECT_EQ(qRgb(103, 2, 7), picture.pixel(3, 2));
    EXPECT_EQ(" PANEL 1  (1:1)", Title(ImageForm));
    EXPECT_EQ(QSize(4, 3), ImageForm->ScrollRange());
}

TEST_F(ViewTest, BandWindowReadsGrayToneOrRgb) {
    SetBandSetSize(4, 3);
    ImageForm->ShowImage(SmallColourImage());

    ImageForm->PointerMoved(QPoint(2, 1));
    EXPECT_EQ((QStringList{"Line:     1  Column:     2 ", "Gray Tone :   21 ", "     ",
                           "Image Size: 3 lines x 4 columns  "}),
              Panels());

    ImageForm->PointerMoved(QPoint(3, 2));
    EXPECT_EQ((QStringList{"Line:     2  Column:     3 ", "R: 103 G:   2 B:   7  ", "     ",
                           "Image Size: 3 lines x 4 columns  "}),
              Panels());
}

TEST_F(ViewTest, ABandOnTheMapReadsTheMapCoordinatesOfThePixelCentre) {
    SetBandSetSize(4, 3);
    form->ws.SetCurrentBand(1);
    ImageForm->ShowImage(SmallColourImage());
    ImageForm->PointerMoved(QPoint(2, 1));
    EXPECT_FALSE(form->MapPanel->isVisibleTo(form));  // a band that lies on no map

    SetBandSetSize(4, 3,
                   tessera::Georeference{{500000, 30, 0, 4650000, 0, -30},
                                         testing_support::CoordinateSystemOfEpsg(32631)});
    ImageForm->PointerMoved(QPoint(2, 1));
    EXPECT_EQ("E: 500075.00  N: 4649955.00 ", form->MapPanel->text().toStdString());
    EXPECT_TRUE(form->MapPanel->isVisibleTo(form));
    EXPECT_EQ("Line:     1  Column:     2 ", form->PanelText(0).toStdString());  // unchanged

    ImageForm->PointerMoved(QPoint(40, 1));  // beyond the picture
    EXPECT_EQ("", form->MapPanel->text().toStdString());
    EXPECT_FALSE(form->MapPanel->isVisibleTo(form));
}

TEST_F(ViewTest, ReadOutDoesNotRepaint) {
    SetBandSetSize(4, 3);
    ImageForm->ShowImage(SmallColourImage());
    QApplication::processEvents();
    const int paints = ImageForm->PaintCount();
    ASSERT_GT(paints, 0);
    for (int x = 0; x < 8; ++x) ImageForm->PointerMoved(QPoint(x, 1));
    QApplication::processEvents();
    EXPECT_EQ(paints, ImageForm->PaintCount());
}

TEST_F(ViewTest, ZoomClickHatchesWhereThePictureDoesNotCover) {
    SetBandSetSize(4, 3);
    ImageForm->ShowImage(SmallColourImage());
    auto blackPixels = [](const QImage& image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) count += (image.pixel(x, y) & 0xffffffu) == 0;
        }
        return count;
    };
    const QRect beside(40, 40, 30, 30);
    EXPECT_EQ(0, blackPixels(ImageForm->PaintBox->grab(beside).toImage()));

    ZoomToolOn(true);
    ImageForm->ZoomClick(Qt::MiddleButton, QPoint(1, 1));
    ASSERT_EQ(1, ImageForm->ZoomLevel());
    const int hatch = blackPixels(ImageForm->PaintBox->grab(beside).toImage());
    EXPECT_GT(hatch, 0);
    EXPECT_LT(hatch, beside.width() * beside.height());
    // The picture itself is drawn over the hatch.
    const QImage picture = ImageForm->PaintBox->grab(QRect(0, 0, 4, 3)).toImage();
    EXPECT_EQ(qRgb(21, 21, 21), picture.pixel(2, 1) | 0xff000000u);
    EXPECT_EQ(qRgb(103, 2, 7), picture.pixel(3, 2) | 0xff000000u);
}

TEST_F(ViewTest, PointerOutsideThePictureEmptiesThreePanelsAndKeepsTheSize) {
    SetBandSetSize(4, 3);
    ImageForm->ShowImage(SmallColourImage());
    ImageForm->PointerMoved(QPoint(0, 0));
    ASSERT_EQ("Image Size: 3 lines x 4 columns  ", form->PanelText(3));

    for (const QPoint outside : {QPoint(4, 0), QPoint(0, 3), QPoint(-1, 1), QPoint(100, 100)}) {
        ImageForm->PointerMoved(QPoint(1, 1));
        ImageForm->PointerMoved(outside);
        EXPECT_EQ((QStringList{"", "", "", "Image Size: 3 lines x 4 columns  "}), Panels())
            << outside.x() << "," << outside.y();
    }
}

TEST_F(ViewTest, WindowWithoutPictureEmptiesThreePanels) {
    SetBandSetSize(4, 3);
    for (TPictureForm* window :
         {static_cast<TPictureForm*>(ImageForm), static_cast<TPictureForm*>(TempImageForm),
          static_cast<TPictureForm*>(ResultImageForm)}) {
        FillPanels("x");
        window->PointerMoved(QPoint(1, 1));
        EXPECT_EQ((QStringList{"", "", "", "x"}), Panels()) << Title(window);
    }
}

TEST_F(ViewTest, SegmentedWindowReadsTheShownSegmentNumber) {
    SetBandSetSize(4, 3);
    TempImageForm->ShowImage(SmallColourImage());

    // No segmented band shown yet: nothing to read beside the colour.
    FillPanels("x");
    TempImageForm->PointerMoved(QPoint(1, 1));
    EXPECT_EQ((QStringList{"", "", "", "x"}), Panels());

    auto segments = tessera::NewByteMatrix(4, 3);
    ASSERT_TRUE(segments.has_value());
    (*segments)[2][1] = 3;
    (*segments)[0][0] = 255;
    form->ws.ShownSegmentMatrix = *segments;

    TempImageForm->PointerMoved(QPoint(1, 2));
    EXPECT_EQ((QStringList{"Line:     2  Column:     1 ", "R: 101 G:   2 B:   7  ",
                           "Gray Tone :    3 ", "Image Size: 3 lines x 4 columns  "}),
              Panels());
    // A gray pixel still gets the red-green-blue text in this window.
    TempImageForm->PointerMoved(QPoint(0, 0));
    EXPECT_EQ("R:   0 G:   0 B:   0  ", form->PanelText(1).toStdString());
    EXPECT_EQ("Gray Tone :  255 ", form->PanelText(2).toStdString());
}

TEST_F(ViewTest, ResultWindowReadsTheClassNumber) {
    SetBandSetSize(4, 3);
    ResultImageForm->ShowImage(SmallColourImage());

    // No crossing yet: nothing to read beside the colour.
    FillPanels("x");
    ResultImageForm->PointerMoved(QPoint(3, 0));
    EXPECT_EQ((QStringList{"", "", "", "x"}), Panels());

    form->ws.crossing.emplace();
    auto classes = tessera::NewByteMatrix(4, 3);
    ASSERT_TRUE(classes.has_value());
    (*classes)[0][3] = 255;  // unclassified
    (*classes)[1][2] = 12;
    form->ws.crossing->classImage = *classes;

    ResultImageForm->PointerMoved(QPoint(3, 0));
    EXPECT_EQ((QStringList{"Line:     0  Column:     3 ", "R: 103 G:   0 B:   7  ",
                           "Gray Tone : 255 ", "Image Size: 3 lines x 4 columns  "}),
              Panels());
    ResultImageForm->PointerMoved(QPoint(2, 1));
    EXPECT_EQ("R:  21 G:  21 B:  21  ", form->PanelText(1).toStdString());
    EXPECT_EQ("Gray Tone : 12 ", form->PanelText(2).toStdString());
}

TEST_F(ViewTest, ReadOutFollowsTheZoom) {
    SetBandSetSize(40, 30);
    ImageForm->ShowImage(GrayRampImage(40, 30));
    ZoomToolOn(true);
    ImageForm->ZoomClick(Qt::LeftButton, QPoint(0, 0));
    ASSERT_EQ(2, ImageForm->ZoomLevel());

    ImageForm->PointerMoved(QPoint(10, 7));
    EXPECT_EQ("Line:     3  Column:     5 ", form->PanelText(0).toStdString());
    EXPECT_EQ("Gray Tone :   14 ", form->PanelText(1).toStdString());

    // At 1:2 surface (10, 7) is column 20, line 14.
    ImageForm->ZoomClick(Qt::RightButton, QPoint(0, 0));
    ImageForm->ZoomClick(Qt::RightButton, QPoint(0, 0));
    ASSERT_EQ(-2, ImageForm->ZoomLevel());
    ImageForm->PointerMoved(QPoint(10, 7));
    EXPECT_EQ("Line:    14  Column:    20 ", form->PanelText(0).toStdString());
}

TEST_F(ViewTest, ZoomClicksWithTheToolOffChangeNothing) {
    SetBandSetSize(40, 30);
    ImageForm->ShowImage(GrayRampImage(40, 30));
    ZoomToolOn(false);
    for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        ImageForm->ZoomClick(button, QPoint(20, 10));
        EXPECT_EQ(1, ImageForm->ZoomLevel());
        EXPECT_EQ(QPoint(0, 0), ImageForm->CentrePoint());
        EXPECT_EQ(" PANEL 1  (1:1)", Title(ImageForm));
    }
    // A real press on the surface goes through the same handler.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5),
                      ImageForm->PaintBox->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(ImageForm->PaintBox, &press);
    EXPECT_EQ(1, ImageForm->ZoomLevel());

    ZoomToolOn(true);
    QApplication::sendEvent(ImageForm->PaintBox, &press);
    EXPECT_EQ(2, ImageForm->ZoomLevel());
}

TEST_F(ViewTest, ZoomCaptionsPerWindow) {
    SetBandSetSize(40, 30);
    ImageForm->BandTitles[2] = " BAND 2. /data/b2.raw";
    TempImageForm->BandTitles[3] = " BAND 3. /data/b3.raw";
    form->ws.SetCurrentBand(2);
    form->ws.CurrentSegmentedBand = 3;
    ZoomToolOn(true);

    ImageForm->ZoomClick(Qt::LeftButton, QPoint(4, 4));
    EXPECT_EQ(" BAND 2. /data/b2.raw (2:1) ", Title(ImageForm));
    ImageForm->ZoomClick(Qt::RightButton, QPoint(4, 4));
    EXPECT_EQ(" BAND 2. /data/b2.raw (1:1)", Title(ImageForm));
    ImageForm->ZoomClick(Qt::RightButton, QPoint(4, 4));
    EXPECT_EQ(" BAND 2. /data/b2.raw (1:2) ", Title(ImageForm));

    TempImageForm->ZoomClick(Qt::RightButton, QPoint(4, 4));
    EXPECT_EQ(" BAND 3. /data/b3.raw Segmented (1:2) ", Title(TempImageForm));
    ResultImageForm->ZoomClick(Qt::LeftButton, QPoint(4, 4));
    EXPECT_EQ("Resulting Image (2:1) ", Title(ResultImageForm));

    // Zoom clicks on one window leave the others alone.
    EXPECT_EQ(-2, ImageForm->ZoomLevel());
    EXPECT_EQ(-2, TempImageForm->ZoomLevel());
    EXPECT_EQ(2, ResultImageForm->ZoomLevel());

    // A middle click re-centres at the same ratio and rewrites the caption.
    ImageForm->setWindowTitle("other");
    ImageForm->ZoomClick(Qt::MiddleButton, QPoint(6, 8));
    EXPECT_EQ(-2, ImageForm->ZoomLevel());
    EXPECT_EQ(QPoint(12, 16), ImageForm->CentrePoint());
    EXPECT_EQ(" BAND 2. /data/b2.raw (1:2) ", Title(ImageForm));
}

// A new picture takes the read-out of the old one away at once, its size included, rather than
// when the pointer next moves.
TEST_F(ViewTest, ANewPictureEmptiesTheReadOutOfTheOldOne) {
    SetBandSetSize(4, 3);
    ImageForm->ShowImage(SmallColourImage());
    ImageForm->PointerMoved(QPoint(2, 1));
    ASSERT_EQ("Image Size: 3 lines x 4 columns  ", form->PanelText(3));
    SetBandSetSize(41, 41);
    ImageForm->ShowImage(GrayRampImage(41, 41));
    EXPECT_EQ((QStringList{"", "", "", ""}), Panels());

    ImageForm->PointerMoved(QPoint(2, 1));
    ASSERT_EQ("Image Size: 41 lines x 41 columns  ", form->PanelText(3));
    const std::optional<tessera::ByteMatrix> plane = tessera::NewByteMatrix(4, 3);
    ASSERT_TRUE(plane.has_value());
    ResultImageForm->ShowPlane(*plane, tessera::GrayRamp());
    EXPECT_EQ((QStringList{"", "", "", ""}), Panels());
}

TEST_F(ViewTest, SegmentedWindowBeforeAnyBandHasAnEmptyTitle) {
    ZoomToolOn(true);
    TempImageForm->ZoomClick(Qt::LeftButton, QPoint(0, 0));
    EXPECT_EQ(" Segmented (2:1) ", Title(TempImageForm));
}

TEST_F(ViewTest, TwentyFiveLeftClicksStopAtTwentyToOne) {
    SetBandSetSize(40, 30);
    ImageForm->ShowImage(GrayRampImage(40, 30));
    ImageForm->BandTitles[1] = " BAND 1. b1";
    form->ws.SetCurrentBand(1);
    ZoomToolOn(true);
    for (int click = 1; click <= 19; ++click) ImageForm->ZoomClick(Qt::LeftButton, QPoint(0, 0));
    ASSERT_EQ(20, ImageForm->ZoomLevel());
    const QPoint centre = ImageForm->CentrePoint();
    ImageForm->setWindowTitle("unchanged");
    for (int click = 20; click <= 25; ++click) {
        ImageForm->ZoomClick(Qt::LeftButton, QPoint(200, 100));
        EXPECT_EQ(20, ImageForm->ZoomLevel()) << "click " << click;
    }
    EXPECT_EQ(centre, ImageForm->CentrePoint());
    // The marker caption took the ratio when it was set (a zoomed window keeps it); the clicks
    // past the limit did not rewrite it from the band title.
    EXPECT_EQ("unchanged (20:1) ", Title(ImageForm));
    ImageForm->ZoomClick(Qt::RightButton, QPoint(0, 0));
    EXPECT_EQ(19, ImageForm->ZoomLevel());
    EXPECT_EQ(" BAND 1. b1 (19:1) ", Title(ImageForm));
}

TEST_F(ViewTest, ZoomClickCentresTheViewAndScrolls) {
    SetBandSetSize(1000, 10);
    ImageForm->ShowImage(GrayRampImage(1000, 10));
    ASSERT_EQ(328, ImageForm->width());
    ZoomToolOn(true);
    ImageForm->ZoomClick(Qt::LeftButton, QPoint(0, 0));
    ImageForm->ZoomClick(Qt::LeftButton, QPoint(0, 0));
    // At 3:1 surface x 16 is column 5; the click takes the view to 4:1.
    ImageForm->ZoomClick(Qt::LeftButton, QPoint(16, 0));
    ASSERT_EQ(4, ImageForm->ZoomLevel());
    EXPECT_EQ(QPoint(5, 0), ImageForm->CentrePoint());
    EXPECT_EQ(QSize(4000, 40), ImageForm->ScrollRange());
    EXPECT_EQ(0, ImageForm->LastCentredView().source.left);
    EXPECT_EQ(82, ImageForm->LastCentredView().source.right);
    EXPECT_EQ(0, ImageForm->ScrollPosition().x());

    // Column 990 (surface 3960 at 4:1), same ratio: the view ends at the last column.
    ImageForm->ZoomClick(Qt::MiddleButton, QPoint(3961, 0));
    EXPECT_EQ(918, ImageForm->LastCentredView().source.left);
    EXPECT_EQ(1000, ImageForm->LastCentredView().source.right);
    EXPECT_EQ(3672, ImageForm->ScrollPosition().x());
    // The centred repaint asked for that rectangle, not the whole picture.
    EXPECT_EQ(ImageForm->LastCentredView().source, ImageForm->SourceRectangleOfLastPaint());
}

TEST_F(ViewTest, ScrollRangesFollowTheZoom) {
    SetBandSetSize(301, 100);
    ResultImageForm->ShowImage(GrayRampImage(301, 100));
    EXPECT_EQ(QSize(301, 100), ResultImageForm->ScrollRange());
    ZoomToolOn(true);
    ResultImageForm->ZoomClick(Qt::LeftButton, QPoint(0, 0));
    EXPECT_EQ(QSize(602, 200), ResultImageForm->ScrollRange());
    for (int click = 0; click < 3; ++click)
        ResultImageForm->ZoomClick(Qt::RightButton, QPoint(0, 0));
    ASSERT_EQ(-3, ResultImageForm->ZoomLevel());
    EXPECT_EQ(QSize(100, 33), ResultImageForm->ScrollRange());
    // A later picture keeps the ratio.
    ResultImageForm->ShowImage(GrayRampImage(301, 100));
    EXPECT_EQ(-3, ResultImageForm->ZoomLevel());
    EXPECT_EQ(QSize(100, 33), ResultImageForm->ScrollRange());
}

TEST_F(ViewTest, RepaintDrawsEachPixelAsABlockAndOnlyTheVisiblePart) {
    SetBandSetSize(1000, 1000);
    ImageForm->ShowImage(GrayRampImage(1000, 1000));
    ZoomToolOn(true);
    ImageForm->ZoomClick(Qt::LeftButton, QPoint(0, 0));
    ImageForm->ZoomClick(Qt::LeftButton, QPoint(0, 0));
    ASSERT_EQ(3, ImageForm->ZoomLevel());
    ASSERT_EQ(QPoint(0, 0), ImageForm->ScrollPosition());

    ImageForm->PaintBox->repaint();
    const QSize visible = ImageForm->ScrollBox->viewport()->size();
    const tessera::PixelRect source = ImageForm->SourceRectangleOfLastPaint();
    EXPECT_EQ(0, source.left);
    EXPECT_EQ(0, source.top);
    EXPECT_EQ(visible.width() / 3 + 1, source.right);
    EXPECT_EQ(visible.height() / 3 + 1, source.bottom);

    const QImage shown = ImageForm->PaintBox->grab(QRect(0, 0, 30, 30)).toImage();
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 30; ++x) {
            const int gray = (x / 3 + 3 * (y / 3)) % 256;
            ASSERT_EQ(qRgb(gray, gray, gray), shown.pixel(x, y) | 0xff000000u)
                << "surface " << x << "," << y;
        }
    }
}

TEST_F(ViewTest, CloseMinimisesAndDiscardsThePicture) {
    SetBandSetSize(4, 3);
    ImageForm->ShowImage(SmallColourImage());
    ImageForm->setWindowTitle(" BAND 1. b1");
    ASSERT_TRUE(ImageForm->HasPicture());

    ImageForm->close();
    EXPECT_FALSE(ImageForm->HasPicture());
    EXPECT_TRUE(ImageForm->isMinimized());
    EXPECT_EQ(ImageForm, MainForm->findChild<TImageForm*>());
    EXPECT_EQ(" BAND 1. b1", Title(ImageForm));

    const int paints = ImageForm->PaintCount();
    ImageForm->PaintBox->repaint();
    EXPECT_EQ(paints, ImageForm->PaintCount());
    FillPanels("x");
    ImageForm->PointerMoved(QPoint(1, 1));
    EXPECT_EQ((QStringList{"", "", "", "x"}), Panels());

    // The next picture is there again; the window stays minimised until the user restores it.
    ImageForm->ShowImage(SmallColourImage());
    ImageForm->BringToFront();
    EXPECT_TRUE(ImageForm->HasPicture());
    EXPECT_TRUE(ImageForm->isMinimized());
}

// ----- histogram window -----

class HistogramTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        ASSERT_TRUE(folder.isValid());
        auto pixels = tessera::NewByteMatrix(5, 3);
        ASSERT_TRUE(pixels.has_value());
        sevens = *pixels;
        for (int line = 0; line < 3; ++line) {
            for (int column = 0; column < 5; ++column) sevens[line][column] = 7;
        }
        HistoGrisForm->Pixels = &sevens;
        HistoGrisForm->SaveDirectory = folder.path();
    }
    QImage Drawn() { return HistoGrisForm->PaintBox->grab().toImage(); }
    static bool Black(const QImage& image, int x, int y) {
        return (image.pixel(x, y) & 0xffffffu) == 0;
    }
    static QStringList LinesOf(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return {};
        QStringList lines = QString::fromLatin1(file.readAll()).split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        return lines;
    }

    QTemporaryDir folder;
    tessera::ByteMatrix sevens;
};

TEST_F(HistogramTest, DialogLayout) {
    EXPECT_EQ(" HISTOGRAM", HistoGrisForm->windowTitle().toStdString());
    // No strip is left below the buttons: they end as far above the bottom as the histogram
    // starts below the top.
    EXPECT_EQ(QSize(301, 337), HistoGrisForm->size());
    EXPECT_EQ(HistoGrisForm->PaintBox->y(),
              HistoGrisForm->height() - HistoGrisForm->BitBtnSave->geometry().bottom() - 1);
    EXPECT_EQ(QRect(16, 16, 256, 249), HistoGrisForm->PaintBox->geometry());
    EXPECT_EQ(QRect(16, 296, 75, 25), HistoGrisForm->BitBtnOK->geometry());
    EXPECT_EQ("OK", HistoGrisForm->BitBtnOK->text().toStdString());
    EXPECT_EQ(QRect(200, 296, 75, 25), HistoGrisForm->BitBtnSave->geometry());
    EXPECT_EQ("Save", HistoGrisForm->BitBtnSave->text().toStdString());
    const std::vector<std::tuple<const char*, const char*, int>> axis = {
        {"Label1", "0", 14},     {"Label2", "20", 30},    {"Label6", "40", 50},
        {"Label7", "60", 70},    {"Label3", "80", 90},    {"Label8", "100", 108},
        {"Label9", "120", 128},  {"Label10", "140", 148}, {"Label11", "160", 168},
        {"Label12", "180", 188}, {"Label13", "200", 208}, {"Label14", "220", 228},
        {"Label15", "240", 248}};
    for (const auto& [name, text, left] : axis) {
        auto* label = HistoGrisForm->findChild<QLabel*>(name);
        ASSERT_NE(nullptr, label) << name;
        EXPECT_EQ(text, label->text().toStdString()) << name;
        EXPECT_EQ(QPoint(left, 270), label->pos()) << name;
    }
}

TEST_F(HistogramTest, BandOfSevensDrawsOneFullHeightLine) {
    const QImage drawn = Drawn();
    EXPECT_EQ(15, HistoGrisForm->Counts[7]);
    const int base = 244;
    for (int y = 1; y <= base; ++y) EXPECT_TRUE(Black(drawn, 7, y)) << "row " << y;
    for (int x = 0; x < 255; ++x) {
        if (x == 7) continue;
        for (int y = 0; y < base; ++y) ASSERT_FALSE(Black(drawn, x, y)) << x << "," << y;
        EXPECT_TRUE(Black(drawn, x, base)) << "base line at " << x;
    }
    // Tick marks under the base line at every twentieth value.
    for (int x = 0; x <= 240; x += 20) EXPECT_TRUE(Black(drawn, x, base + 4)) << "tick " << x;
    EXPECT_FALSE(Black(drawn, 10, base + 4));
}

TEST_F(HistogramTest, NoBandDrawsAnEmptyHistogram) {
    HistoGrisForm->Pixels = nullptr;
    HistoGrisForm->Counts[3] = 99;
    const QImage drawn = Drawn();
    EXPECT_EQ(tessera::Histogram{}, HistoGrisForm->Counts);
    EXPECT_FALSE(Black(drawn, 3, 200));
    EXPECT_TRUE(Black(drawn, 3, 244));
}

TEST_F(HistogramTest, SaveWritesTwoHundredFiftySixCountsWithXlsAppended) {
    Drawn();
    script.Then(guitest::ChooseFile(folder.filePath("sevens")), "Save Histogram");
    HistoGrisForm->BitBtnSave->click();
    EXPECT_TRUE(script.messages.empty());
    const QStringList lines = LinesOf(folder.filePath("sevens.xls"));
    ASSERT_EQ(256, lines.size());
    for (int gray = 0; gray < 256; ++gray) {
        EXPECT_EQ(gray == 7 ? "15" : "0", lines[gray].toStdString()) << "gray " << gray;
    }
    EXPECT_EQ(folder.path(), HistoGrisForm->SaveDialog1->directory().absolutePath());
}

TEST_F(HistogramTest, TsFilterAndTypedSuffixStillGetXls) {
    Drawn();
    script.Then(guitest::ChooseFile(folder.filePath("table"), 2), "Save Histogram");
    HistoGrisForm->BitBtnSave->click();
    script.Then(guitest::ChooseFile(folder.filePath("twice.xls")), "Save Histogram");
    HistoGrisForm->BitBtnSave->click();
    EXPECT_TRUE(script.messages.empty());
    EXPECT_EQ(256, LinesOf(folder.filePath("table.xls")).size());
    EXPECT_FALSE(QFile::exists(folder.filePath("table.ts")));
    EXPECT_FALSE(QFile::exists(folder.filePath("table")));
    EXPECT_EQ(256, LinesOf(folder.filePath("twice.xls.xls")).size());
}

TEST_F(HistogramTest, CancelledSaveWritesNothing) {
    Drawn();
    script.Then(guitest::Cancel(), "Save Histogram");
    HistoGrisForm->BitBtnSave->click();
    EXPECT_TRUE(script.messages.empty());
    EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(HistogramTest, UnwritableFileGivesACautionNamingIt) {
    Drawn();
    QFile plain(folder.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QString target = folder.filePath("plain/histo");
    script.Then(guitest::ChooseFile(target), "Save Histogram");
    HistoGrisForm->BitBtnSave->click();
    ASSERT_EQ(1u, script.messages.size());
    EXPECT_EQ((guitest::Message{"The histogram table\n" + target + ".xls\ncannot be written.",
                                "CAUTION"}),
              script.messages[0]);
    EXPECT_EQ(QStringList{"plain"},
              QDir(folder.path()).entryList(QDir::Files | QDir::NoDotAndDotDot));
    EXPECT_EQ(0, QFile(folder.filePath("plain")).size());
}

TEST_F(HistogramTest, OkCloses) {
    HistoGrisForm->show();
    ASSERT_TRUE(HistoGrisForm->isVisible());
    HistoGrisForm->BitBtnOK->click();
    EXPECT_FALSE(HistoGrisForm->isVisible());
    EXPECT_EQ(QDialog::Accepted, HistoGrisForm->result());
}

}  // namespace
