#include "bands/bandfiles.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image/bitmapfile.h"
#include "testfiles.h"

using namespace tessera;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

namespace {

ByteMatrix Filled(int columns, int lines, uint8_t value) {
    ByteMatrix m = *NewByteMatrix(columns, lines);
    for (int y = 0; y < lines; ++y) {
        for (int x = 0; x < columns; ++x) m[y][x] = value;
    }
    return m;
}

// An 8-bit gray bitmap of the given size; its file is 1078 + lines x stride bytes.
std::string WriteGrayBitmap(const ScratchDir& dir, const std::string& name, int columns,
                            int lines) {
    ByteMatrix rows = *NewByteMatrix(columns, lines);
    for (int y = 0; y < lines; ++y) {
        for (int x = 0; x < columns; ++x) rows[y][x] = static_cast<uint8_t>(x + 2 * y);
    }
    const std::string path = dir.File(name);
    EXPECT_EQ(WriteBitmapFile(path, rows, columns, lines, GrayKind, GrayRamp()), 0);
    return path;
}

}  // namespace

TEST(BandTitles, LabelsAndTitles) {
    EXPECT_EQ(BandLabel(1), " BAND 1. ");
    EXPECT_EQ(BandLabel(9), " BAND 9. ");
    EXPECT_EQ(BandLabel(10), " BAND 10. ");
    EXPECT_EQ(BandTitle(3, "/data/scene/b3.raw"), " BAND 3. /data/scene/b3.raw");
}

TEST(BandTitles, ABandOfAFileOfSeveralNamesItsRasterBand) {
    EXPECT_EQ(" BAND 1. /data/scene.tif (raster band 3)",
              RasterBandTitle(1, "/data/scene.tif", 3, 4));
    EXPECT_EQ(" BAND 2. /data/b2.tif", RasterBandTitle(2, "/data/b2.tif", 1, 1));
}

TEST(BandStatistics, GrayRangeOfAFlatBand) {
    const GrayRange range = ComputeGrayRange(Filled(4, 3, 7));
    EXPECT_EQ(range.minGray, 7);
    EXPECT_EQ(range.maxGray, 7);
}

TEST(BandStatistics, GrayRangeFindsTheExtremesAnywhere) {
    ByteMatrix pixels = Filled(5, 4, 100);
    pixels[3][4] = 0;    // last pixel
    pixels[0][0] = 255;  // first pixel
    pixels[2][1] = 3;
    const GrayRange range = ComputeGrayRange(pixels);
    EXPECT_EQ(range.minGray, 0);
    EXPECT_EQ(range.maxGray, 255);
}

TEST(BandStatistics, GrayRangeOfNoPixelsKeepsItsStartValues) {
    const GrayRange range = ComputeGrayRange(ByteMatrix{});
    EXPECT_EQ(range.minGray, 260);
    EXPECT_EQ(range.maxGray, 0);
}

TEST(BandStatistics, HistogramAndToneCount) {
    ByteMatrix pixels = Filled(3, 2, 9);  // six pixels of 9...
    pixels[0][0] = 0;                     // ...then one 0, two 255
    pixels[1][1] = 255;
    pixels[1][2] = 255;
    const Histogram counts = ComputeHistogram(pixels);
    EXPECT_EQ(counts[0], 1);
    EXPECT_EQ(counts[9], 3);
    EXPECT_EQ(counts[255], 2);
    EXPECT_EQ(counts[1], 0);
    int64_t total = 0;
    for (int64_t c : counts) total += c;
    EXPECT_EQ(total, 6);
    EXPECT_EQ(CountGrayTones(pixels), 3);
    EXPECT_EQ(CountGrayTones(Filled(2, 2, 4)), 1);

    ByteMatrix ramp = *NewByteMatrix(256, 2);
    for (int x = 0; x < 256; ++x) ramp[0][x] = ramp[1][x] = static_cast<uint8_t>(x);
    EXPECT_EQ(CountGrayTones(ramp), 256);
}

// ----- Raw bands -----

TEST(RawBands, ShortFileLoadsWithZeros) {
    ScratchDir dir;
    WriteBytes(dir.File("a.raw"), {5, 6, 7});
    const Result<ByteMatrix> band = LoadRawBand(dir.File("a.raw"), {2, 2});
    ASSERT_TRUE(band) << band.message;
    EXPECT_EQ((std::vector<uint8_t>(band.value->Data(), band.value->Data() + 4)),
              (std::vector<uint8_t>{5, 6, 7, 0}));
}

TEST(RawBands, RefusalsNameTheFile) {
    ScratchDir dir;
    const std::string missing = dir.File("none.raw");
    EXPECT_EQ(LoadRawBand(missing, {2, 2}).message,
              "The raw image\n" + missing + "\ncannot be opened for reading.");
    WriteBytes(dir.File("a.raw"), {1, 2, 3});
    EXPECT_EQ(LoadRawBand(dir.File("a.raw"), {0, 12}).message,
              "The raw image\n" + dir.File("a.raw") +
                  "\ncannot be loaded: the size 0 lines x 12 columns is not a usable image size.");
    // The size is checked before the file is looked at.
    EXPECT_EQ(LoadRawBand(missing, {-1, 5}).message,
              "The raw image\n" + missing +
                  "\ncannot be loaded: the size -1 lines x 5 columns is not a usable image size.");
}

// ----- Bitmap bands and the colour-bitmap rule -----

TEST(BitmapBands, SmallEightBitBitmapIsRefusedAsRgb) {
    ScratchDir dir;
    const std::string path = WriteGrayBitmap(dir, "small.bmp", 20, 20);
    ASSERT_EQ(FileSizeOf(path), 1478);  // 2 x 400 = 800 < 1478
    const Result<ByteMatrix> band = LoadBitmapBand(path);
    EXPECT_FALSE(band.value.has_value());
    EXPECT_EQ(band.message, "This program does not take into account RGB Bitmap");
}

TEST(BitmapBands, LargerEightBitBitmapIsAccepted) {
    ScratchDir dir;
    const std::string path = WriteGrayBitmap(dir, "big.bmp", 100, 100);
    ASSERT_EQ(FileSizeOf(path), 11078);  // 2 x 10000 = 20000 >= 11078
    const Result<ByteMatrix> band = LoadBitmapBand(path);
    ASSERT_TRUE(band) << band.message;
    EXPECT_EQ(band.value->Lines(), 100);
    EXPECT_EQ(band.value->Columns(), 100);
    EXPECT_EQ((*band.value)[0][5], 5);
    EXPECT_EQ((*band.value)[99][1], 199);
}

TEST(BitmapBands, RuleBoundaryIsTwiceThePixelCount) {
    // 155 columns x 7 lines: stride 156, file 1078 + 7 x 156 = 2170 = 2 x 7 x 155: accepted.
    // 34 columns x 32 lines: stride 36, file 1078 + 1152 = 2230 > 2 x 1088 = 2176: refused.
    ScratchDir dir;
    const std::string equal = WriteGrayBitmap(dir, "equal.bmp", 155, 7);
    ASSERT_EQ(FileSizeOf(equal), 2170);
    const Result<ByteMatrix> band = LoadBitmapBand(equal);
    ASSERT_TRUE(band) << band.message;
    EXPECT_EQ(band.value->Columns(), 155);
    const std::string refused = WriteGrayBitmap(dir, "r.bmp", 34, 32);
    ASSERT_EQ(FileSizeOf(refused), 2230);
    EXPECT_EQ(LoadBitmapBand(refused).message, kRgbBitmapRefusal);
}

TEST(BitmapBands, TwentyFourBitBitmapIsRefusedAsRgb) {
    ScratchDir dir;
    ByteMatrix rows = *NewByteMatrix(3 * 200, 200);
    const std::string path = dir.File("colour.bmp");
    ASSERT_EQ(WriteBitmapFile(path, rows, 200, 200, ColourKind, GrayRamp()), 0);
    EXPECT_EQ(LoadBitmapBand(path).message, kRgbBitmapRefusal);
}

TEST(BitmapBands, UnreadableBitmapNamesTheFileAndTheReason) {
    ScratchDir dir;
    const std::string missing = dir.File("gone.bmp");
    EXPECT_EQ(LoadBitmapBand(missing).message,
              "The bitmap\n" + missing +
                  "\ncannot be read: it cannot be opened (No such file or directory).");
}

// ----- Message texts -----

TEST(BandMessages, Texts) {
    EXPECT_EQ(DescriptorMalformedMessage("/path/a.txt"),
              "The descriptor\n/path/a.txt\ndoes not begin with the number of lines and the "
              "number of columns.");
    EXPECT_EQ(
        DescriptorNotWrittenMessage("/p/a.txt", "cannot write /p/a.txt: Read-only file system"),
        "The descriptor\n/p/a.txt\ncannot be written: Read-only file system.");
    EXPECT_EQ(DescriptorNotWrittenMessage("/p/a.txt", "No space left on device"),
              "The descriptor\n/p/a.txt\ncannot be written: No space left on device.");
    EXPECT_EQ(SizeMismatchMessage("/p/b2.raw", {300, 200}, {400, 600}),
              "The image\n/p/b2.raw\nhas 300 lines x 200 columns, but the bands already loaded "
              "have 400 lines x 600 columns.\nAll bands of a set must have the same size.");
    EXPECT_EQ(MissingBandMessage(3), " Band 3 has not been loaded \nOpen the band set again ");
}

// Histograms, nodata marks and their counts over every length from 0 to 67 (the words and
// lanes the kernels read and the pixels left after them), at unaligned starts, against counting
// pixel by pixel.
TEST(BandStatistics, CountsOfAnyLengthAndStartAreThePixelCounts) {
    std::mt19937 random(17);
    for (size_t count = 0; count <= 300; count += count < 67 ? 1 : 77) {
        for (size_t offset = 0; offset < 3; ++offset) {
            std::vector<uint8_t> pixels(count + offset), marks(count + offset);
            for (uint8_t& p : pixels) p = static_cast<uint8_t>(random() % 3 == 0 ? 7 : random());
            // Mostly 0, some runs of marks, both kinds.
            for (size_t i = 0; i < marks.size(); ++i)
                marks[i] = random() % 9 == 0 ? static_cast<uint8_t>(1 + random() % 2) : 0;
            const uint8_t* p = pixels.data() + offset;
            const uint8_t* m = marks.data() + offset;

            Histogram expected{};
            expected[3] = 5;  // added to what is there
            Histogram histogram = expected;
            for (size_t i = 0; i < count; ++i) ++expected[p[i]];
            AddToHistogram(p, count, histogram);
            ASSERT_EQ(expected, histogram) << count << " at " << offset;

            int64_t removedExpected = 0, nonFinite = 0;
            for (size_t i = 0; i < count; ++i) {
                if (m[i] == 0) continue;
                --expected[p[i]];
                ++removedExpected;
                nonFinite += m[i] == kNonFiniteMark;
            }
            ASSERT_EQ(removedExpected, RemoveNodata(p, m, count, histogram)) << count;
            ASSERT_EQ(expected, histogram) << count << " at " << offset;
            ASSERT_EQ(nonFinite, CountMarks(m, count, kNonFiniteMark)) << count;
        }
    }
}

TEST(BandStatistics, MarksCountedPastTheLaneLimit) {
    // 255 blocks of 64 fill a lane counter: more marks than that, all alike.
    std::vector<uint8_t> marks(64 * 600 + 13, kNodataMark);
    EXPECT_EQ(static_cast<int64_t>(marks.size()),
              CountMarks(marks.data(), marks.size(), kNodataMark));
    EXPECT_EQ(0, CountMarks(marks.data(), marks.size(), kNonFiniteMark));
    std::vector<uint8_t> pixels(marks.size(), 200);
    Histogram histogram{};
    AddToHistogram(pixels.data(), pixels.size(), histogram);
    EXPECT_EQ(static_cast<int64_t>(pixels.size()), histogram[200]);
    EXPECT_EQ(static_cast<int64_t>(pixels.size()),
              RemoveNodata(pixels.data(), marks.data(), marks.size(), histogram));
    EXPECT_EQ(0, histogram[200]);
}
