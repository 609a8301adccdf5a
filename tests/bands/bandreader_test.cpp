// Band files read a few lines at a time give the pixels that were written, whatever the strip.
#include "bands/bandreader.h"

#include <gtest/gtest.h>

#include <vector>

#include "image/bitmapfile.h"
#include "testfiles.h"

namespace tessera {
namespace {
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

// Lines read `strip` at a time, one after another.
std::vector<uint8_t> ReadInStrips(const BandReader& reader, int strip) {
    const ImageSize size = reader.Size();
    std::vector<uint8_t> pixels(static_cast<size_t>(size.lines) * size.columns);
    for (int first = 0; first < size.lines; first += strip)
        reader.ReadLines(first, std::min(strip, size.lines - first),
                         pixels.data() + static_cast<size_t>(first) * size.columns);
    return pixels;
}

TEST(BandReader, BitmapLinesComeTopFirstWhateverTheStrip) {
    ScratchDir dir;
    // 35 columns: every stored line carries a byte of padding. Each pixel is unique enough.
    const int lines = 33, columns = 35;
    ByteMatrix rows = *NewByteMatrix(columns, lines);
    for (int y = 0; y < lines; ++y)
        for (int x = 0; x < columns; ++x) rows[y][x] = static_cast<uint8_t>(y * 7 + x);
    const std::vector<uint8_t> expected(rows.Data(), rows.Data() + rows.Size());
    ASSERT_EQ(0, WriteBitmapFile(dir.File("band.bmp"), rows, columns, lines, GrayKind, GrayRamp()));

    Result<BandReader> reader = OpenBitmapBand(dir.File("band.bmp"));
    ASSERT_TRUE(reader) << reader.message;
    EXPECT_EQ((ImageSize{lines, columns}), reader.value->Size());
    for (int strip : {1, 4, lines})
        EXPECT_EQ(expected, ReadInStrips(*reader.value, strip)) << strip;
    const Result<ByteMatrix> whole = reader.value->ReadAll();
    ASSERT_TRUE(whole) << whole.message;
    EXPECT_EQ(rows, *whole.value);
}

TEST(BandReader, BytesMissingAtTheEndOfARawFileAreZero) {
    ScratchDir dir;
    // 3 lines x 4 columns promised, 9 bytes held: the last line is 1, 2, 3 and a 0.
    WriteBytes(dir.File("short.raw"), {9, 9, 9, 9, 8, 8, 8, 8, 1});
    Result<BandReader> reader = OpenRawBand(dir.File("short.raw"), {3, 4});
    ASSERT_TRUE(reader) << reader.message;
    std::vector<uint8_t> last(4, 77);
    reader.value->ReadLines(2, 1, last.data());
    EXPECT_EQ((std::vector<uint8_t>{1, 0, 0, 0}), last);
    EXPECT_EQ((std::vector<uint8_t>{9, 9, 9, 9, 8, 8, 8, 8, 1, 0, 0, 0}),
              ReadInStrips(*reader.value, 2));
}

}  // namespace
}  // namespace tessera
