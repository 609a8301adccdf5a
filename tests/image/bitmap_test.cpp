#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/bitmapfile.h"
#include "testfiles.h"

using namespace tessera;
using testing_support::ListFolder;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint32_t Get32(const Bytes& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
           uint32_t{b[at + 3]} << 24;
}
uint16_t Get16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// The two headers of a bitmap, field by field, with every value chosen by the test.
struct Header {
    int32_t width = 0, height = 0;
    uint16_t bits = 8;
    uint32_t offset = 1078;
    uint32_t compression = 0;
    uint32_t fileSize = 0;  // 0: left as the builder computes it
    const char* signature = "BM";
};

Bytes HeaderBytes(const Header& h, uint32_t fileSize) {
    Bytes out;
    out.push_back(static_cast<uint8_t>(h.signature[0]));
    out.push_back(static_cast<uint8_t>(h.signature[1]));
    Put32(out, fileSize);
    Put16(out, 0);
    Put16(out, 0);
    Put32(out, h.offset);
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(h.width));
    Put32(out, static_cast<uint32_t>(h.height));
    Put16(out, 1);
    Put16(out, h.bits);
    Put32(out, h.compression);
    Put32(out, 0);
    Put32(out, 10000);
    Put32(out, 10000);
    Put32(out, 0);
    Put32(out, 0);
    return out;
}

// A bitmap file: headers, `paletteEntries` palette entries (entry i = i, i, i, 0 unless
// `palette` is given), then `data` as the pixel rows, stored as given (bottom row first).
Bytes BitmapBytes(const Header& h, int paletteEntries, const Bytes& data,
                  const Bytes& palette = {}) {
    Bytes body;
    for (int i = 0; i < paletteEntries; ++i) {
        for (int c = 0; c < 3; ++c)
            body.push_back(palette.empty() ? static_cast<uint8_t>(i) : palette[4 * i + c]);
        body.push_back(0);
    }
    body.insert(body.end(), data.begin(), data.end());
    Bytes out = HeaderBytes(h, h.fileSize ? h.fileSize : static_cast<uint32_t>(54 + body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

ByteMatrix MatrixOf(int columns, const std::vector<Bytes>& lines) {
    ByteMatrix m = *NewByteMatrix(columns, static_cast<int>(lines.size()));
    for (size_t y = 0; y < lines.size(); ++y) {
        for (int x = 0; x < columns; ++x) m[static_cast<int>(y)][x] = lines[y][x];
    }
    return m;
}

std::string Refusal(const Bytes& file) {
    ScratchDir dir;
    WriteBytes(dir.File("b.bmp"), file);
    Result<BitmapData> read = ReadBitmapFile(dir.File("b.bmp"));
    EXPECT_FALSE(read.value.has_value());
    return read.message;
}

}  // namespace

// ----- The image object -----

TEST(GrayImageObject, CreateSetsSizeKindAndRamp) {
    std::optional<GrayImage> image = CreateGrayImage(3, 2, PaletteKind);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 3);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(image->kind, PaletteKind);
    EXPECT_EQ(image->pixels.size(), 6u);
    EXPECT_EQ(image->palette[0], (ColourEntry{0, 0, 0, 0, 0}));
    EXPECT_EQ(image->palette[200], (ColourEntry{200, 200, 200, 200, 0}));
    EXPECT_EQ(image->palette, GrayRamp());

    std::optional<GrayImage> colour = CreateGrayImage(3, 2, ColourKind);
    ASSERT_TRUE(colour);
    EXPECT_EQ(colour->pixels.size(), 18u);
}

TEST(GrayImageObject, CreateRefusesNegativeAndImpossibleSizes) {
    EXPECT_FALSE(CreateGrayImage(-1, 5, GrayKind));
    EXPECT_FALSE(CreateGrayImage(5, -1, GrayKind));
    // More bytes than any machine holds: no image, no exception.
    EXPECT_FALSE(CreateGrayImage(2000000000, 2000000000, ColourKind));
}

TEST(GrayImageObject, SetColourOnOneByteImageStoresTheMean) {
    GrayImage image = *CreateGrayImage(2, 1, GrayKind);
    image.SetColour(1, 0, 10, 20, 31);  // 61 / 3 = 20, remainder dropped
    EXPECT_EQ(image.Row(0)[1], 20);
    EXPECT_EQ(image.GetColour(1, 0), (Colour{20, 20, 20}));
    image.SetColour(0, 0, 255, 255, 254);  // no overflow of the byte sum
    EXPECT_EQ(image.Row(0)[0], 254);
}

TEST(GrayImageObject, ColourImageKeepsBlueGreenRed) {
    GrayImage image = *CreateGrayImage(2, 2, ColourKind);
    image.SetColour(1, 1, 1, 2, 3);
    image.SetGray(0, 1, 77);
    EXPECT_EQ(image.GetColour(1, 1), (Colour{1, 2, 3}));
    EXPECT_EQ(image.GetColour(0, 1), (Colour{77, 77, 77}));
    const uint8_t* row = image.Row(1);
    EXPECT_EQ((Bytes{row, row + 6}), (Bytes{77, 77, 77, 1, 2, 3}));
    uint8_t rgb[6] = {};
    image.ToRgbLine(1, rgb);
    EXPECT_EQ((Bytes{rgb, rgb + 6}), (Bytes{77, 77, 77, 3, 2, 1}));  // red first
}

TEST(GrayImageObject, PaletteImageShowsItsPaletteColours) {
    GrayImage image = *CreateGrayImage(2, 1, PaletteKind);
    image.palette[5] = ColourEntry{10, 20, 30, 5, 0};
    image.SetGray(0, 0, 5);
    image.SetGray(1, 0, 6);
    EXPECT_EQ(image.GetColour(0, 0), (Colour{10, 20, 30}));
    EXPECT_EQ(image.GetColour(1, 0), (Colour{6, 6, 6}));
    uint8_t rgb[6] = {};
    image.ToRgbLine(0, rgb);
    EXPECT_EQ((Bytes{rgb, rgb + 6}), (Bytes{30, 20, 10, 6, 6, 6}));
}

TEST(GrayImageObject, OutOfRangeWritesAreIgnored) {
    GrayImage image = *CreateGrayImage(2, 2, GrayKind);
    image.SetGray(-1, 0, 9);
    image.SetGray(2, 0, 9);
    image.SetGray(0, -1, 9);
    image.SetGray(0, 2, 9);
    image.SetColour(2, 1, 9, 9, 9);
    image.SetColour(-1, 1, 9, 9, 9);
    EXPECT_EQ(image.pixels, (Bytes{0, 0, 0, 0}));
    image.SetGray(1, 1, 9);
    EXPECT_EQ(image.pixels, (Bytes{0, 0, 0, 9}));
}

// ----- Writing bitmaps -----

TEST(BitmapFiles, EightBitRowsOfThreePixelsArePaddedToFour) {
    ScratchDir dir;
    const ByteMatrix rows = MatrixOf(3, {{1, 2, 3}, {4, 5, 6}});
    ColourTable table = GrayRamp();
    table[1] = ColourEntry{11, 12, 13, 1, 14};
    ASSERT_EQ(WriteBitmapFile(dir.File("a.bmp"), rows, 3, 2, PaletteKind, table), 0);

    const Bytes file = ReadBytes(dir.File("a.bmp"));
    ASSERT_EQ(file.size(), 1078u + 2 * 4);
    Header h;
    h.width = 3;
    h.height = 2;
    Bytes expected = HeaderBytes(h, 1086);
    expected[34] = 8;  // size of the pixel data: 2 rows of 4 bytes
    for (int i = 0; i < 256; ++i) {
        const ColourEntry& e = table[i];
        expected.insert(expected.end(), {e.blue, e.green, e.red, e.spare});
    }
    // Bottom line first, one zero byte after every row.
    expected.insert(expected.end(), {4, 5, 6, 0, 1, 2, 3, 0});
    EXPECT_EQ(file, expected);
    EXPECT_EQ((Bytes{file.begin() + 58, file.begin() + 62}), (Bytes{11, 12, 13, 14}));
}

TEST(BitmapFiles, TwentyFourBitRowOfOnePixelIsPaddedToFour) {
    ScratchDir dir;
    const ByteMatrix rows = MatrixOf(3, {{10, 20, 30}, {40, 50, 60}});  // blue, green, red
    ASSERT_EQ(WriteBitmapFile(dir.File("c.bmp"), rows, 1, 2, ColourKind, GrayRamp()), 0);
    const Bytes file = ReadBytes(dir.File("c.bmp"));
    Header h;
    h.width = 1;
    h.height = 2;
    h.bits = 24;
    h.offset = 54;
    Bytes expected = HeaderBytes(h, 62);
    expected[34] = 8;
    expected.insert(expected.end(), {40, 50, 60, 0, 10, 20, 30, 0});
    EXPECT_EQ(file, expected);
}

TEST(BitmapFiles, HeaderFieldsAndFileSizeMatchTheFile) {
    ScratchDir dir;
    const int width = 5, height = 3;  // 8-bit stride 8
    ByteMatrix rows = *NewByteMatrix(width, height);
    ASSERT_EQ(WriteBitmapFile(dir.File("h.bmp"), rows, width, height, GrayKind, GrayRamp()), 0);
    const Bytes file = ReadBytes(dir.File("h.bmp"));
    ASSERT_GE(file.size(), 54u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Get32(file, 2), file.size());
    EXPECT_EQ(Get32(file, 2), 1078u + 3 * 8);
    EXPECT_EQ(Get32(file, 6), 0u);  // both reserved fields
    EXPECT_EQ(Get32(file, 10), 1078u);
    EXPECT_EQ(Get32(file, 14), 40u);
    EXPECT_EQ(Get32(file, 18), 5u);
    EXPECT_EQ(Get32(file, 22), 3u);
    EXPECT_EQ(Get16(file, 26), 1);
    EXPECT_EQ(Get16(file, 28), 8);
    EXPECT_EQ(Get32(file, 30), 0u);
    EXPECT_EQ(Get32(file, 34), 24u);
    EXPECT_EQ(Get32(file, 38), 10000u);
    EXPECT_EQ(Get32(file, 42), 10000u);
    EXPECT_EQ(Get32(file, 46), 0u);
    EXPECT_EQ(Get32(file, 50), 0u);
    // The header the streaming writers use is the file's first bytes.
    const Bytes header = BitmapFileHeader(width, height, GrayKind, GrayRamp());
    ASSERT_EQ(header.size(), 1078u);
    EXPECT_EQ(header, (Bytes{file.begin(), file.begin() + 1078}));

    ByteMatrix colourRows = *NewByteMatrix(3 * 7, 2);  // 21 bytes -> stride 24
    ASSERT_EQ(WriteBitmapFile(dir.File("c.bmp"), colourRows, 7, 2, ColourKind, GrayRamp()), 0);
    const Bytes colour = ReadBytes(dir.File("c.bmp"));
    EXPECT_EQ(colour.size(), 54u + 2 * 24);
    EXPECT_EQ(Get32(colour, 2), colour.size());
    EXPECT_EQ(Get32(colour, 10), 54u);
    EXPECT_EQ(Get16(colour, 28), 24);
    EXPECT_EQ(Get32(colour, 34), 48u);
}

TEST(BitmapFiles, RoundTripKeepsTopLine) {
    ScratchDir dir;
    const int width = 7, height = 5;
    ByteMatrix rows = *NewByteMatrix(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) rows[y][x] = static_cast<uint8_t>(y * 40 + x * 3);
    }
    ASSERT_EQ(WriteBitmapFile(dir.File("r.bmp"), rows, width, height, PaletteKind, GrayRamp()), 0);
    const Result<BitmapData> read = ReadBitmapFile(dir.File("r.bmp"));
    ASSERT_TRUE(read) << read.message;
    EXPECT_EQ(read.value->width, width);
    EXPECT_EQ(read.value->height, height);
    EXPECT_EQ(read.value->bytesPerPixel, 1);
    EXPECT_EQ(read.value->rows, rows);
    EXPECT_EQ(read.value->rows[0][1], 3);  // line 0 is the top of the picture
}

TEST(BitmapFiles, ColourRoundTripKeepsBlueGreenRed) {
    ScratchDir dir;
    const ByteMatrix rows = MatrixOf(6, {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}});
    ASSERT_EQ(WriteBitmapFile(dir.File("c.bmp"), rows, 2, 2, ColourKind, GrayRamp()), 0);
    const Result<BitmapData> read = ReadBitmapFile(dir.File("c.bmp"));
    ASSERT_TRUE(read) << read.message;
    EXPECT_EQ(read.value->bytesPerPixel, 3);
    EXPECT_EQ(read.value->rows, rows);
}

TEST(BitmapFiles, FailedWriteReportsAndKeepsTheOldFile) {
    ScratchDir dir;
    const ByteMatrix rows = MatrixOf(1, {{9}});
    EXPECT_EQ(WriteBitmapFile(dir.File("missing/a.bmp"), rows, 1, 1, GrayKind, GrayRamp()), -1);
    testing_support::WriteText(dir.File("old.bmp"), "old");
    // Rows smaller than the size claimed: refused before the old file is touched.
    EXPECT_EQ(WriteBitmapFile(dir.File("old.bmp"), rows, 4, 4, GrayKind, GrayRamp()), -1);
    EXPECT_EQ(testing_support::ReadText(dir.File("old.bmp")), "old");
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"old.bmp"});
}

TEST(BitmapFiles, NonGrayPaletteIsReadAsRawIndices) {
    Header h;
    h.width = 2;
    h.height = 1;
    Bytes palette(1024);
    for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(255 - i % 256);
    ScratchDir dir;
    WriteBytes(dir.File("p.bmp"), BitmapBytes(h, 256, {3, 250, 0, 0}, palette));
    const Result<BitmapData> read = ReadBitmapFile(dir.File("p.bmp"));
    ASSERT_TRUE(read) << read.message;
    EXPECT_EQ(read.value->rows[0][0], 3);
    EXPECT_EQ(read.value->rows[0][1], 250);
}

TEST(BitmapFiles, FileSizeOf) {
    ScratchDir dir;
    WriteBytes(dir.File("f"), Bytes(1234, 7));
    EXPECT_EQ(FileSizeOf(dir.File("f")), 1234);
    WriteBytes(dir.File("empty"), {});
    EXPECT_EQ(FileSizeOf(dir.File("empty")), 0);
    EXPECT_EQ(FileSizeOf(dir.File("none")), -1);
    EXPECT_EQ(FileSizeOf(dir.path()), -1);
}

// ----- Bitmaps the reader refuses -----

TEST(BitmapRefusals, WrongSignatureOrTooShortHeader) {
    Header h;
    h.width = h.height = 1;
    h.signature = "MB";
    EXPECT_EQ(Refusal(BitmapBytes(h, 256, {0, 0, 0, 0})), "it is not a bitmap file");
    EXPECT_EQ(Refusal({}), "it is not a bitmap file");
    EXPECT_EQ(Refusal({'B', 'M', 0, 0}), "it is truncated");
    EXPECT_EQ(Refusal({'B'}), "it is not a bitmap file");
}

TEST(BitmapRefusals, OtherPixelDepths) {
    Header h;
    h.width = h.height = 4;
    h.offset = 54 + 16 * 4;
    h.bits = 4;
    EXPECT_EQ(Refusal(BitmapBytes(h, 16, Bytes(16))),
              "it has 4 bits per pixel; only 8-bit bitmaps are read");
    h.offset = 54;
    h.bits = 16;
    EXPECT_EQ(Refusal(BitmapBytes(h, 0, Bytes(32))),
              "it has 16 bits per pixel; only 8-bit bitmaps are read");
    h.bits = 32;
    EXPECT_EQ(Refusal(BitmapBytes(h, 0, Bytes(64))),
              "it has 32 bits per pixel; only 8-bit bitmaps are read");
    h.bits = 1;
    h.offset = 62;
    EXPECT_EQ(Refusal(BitmapBytes(h, 2, Bytes(16))),
              "it has 1 bit per pixel; only 8-bit bitmaps are read");
}

TEST(BitmapRefusals, PixelDataAtAnotherOffset) {
    Header h;
    h.width = h.height = 4;
    h.offset = 54 + 16 * 4;  // an 8-bit file with a 16-colour palette
    EXPECT_EQ(Refusal(BitmapBytes(h, 16, Bytes(16))), "its palette has fewer than 256 colours");
    h.offset = 1078 + 4;  // a gap after the palette
    EXPECT_EQ(Refusal(BitmapBytes(h, 256, Bytes(4 + 16))),
              "its pixel data do not follow its palette");
    h.bits = 24;
    h.offset = 1078;  // a 24-bit file that carries a palette
    EXPECT_EQ(Refusal(BitmapBytes(h, 256, Bytes(4 * 12))),
              "its pixel data do not follow its header");
}

TEST(BitmapRefusals, CompressedTopDownAndUnsupportedSizes) {
    Header h;
    h.width = h.height = 2;
    h.compression = 1;  // run-length encoded
    EXPECT_EQ(Refusal(BitmapBytes(h, 256, Bytes(8))), "it is compressed");
    h.compression = 3;
    EXPECT_EQ(Refusal(BitmapBytes(h, 256, Bytes(8))), "it is compressed");
    h.compression = 0;
    h.height = -2;
    EXPECT_EQ(Refusal(BitmapBytes(h, 256, Bytes(8))), "it is stored top-down");
    h.height = 0;
    EXPECT_EQ(Refusal(BitmapBytes(h, 256, {})), "its size (2 x 0) is not supported");
    h.height = 2;
    h.width = 0;
    EXPECT_EQ(Refusal(BitmapBytes(h, 256, {})), "its size (0 x 2) is not supported");
    h.width = -3;
    EXPECT_EQ(Refusal(BitmapBytes(h, 256, {})), "its size (-3 x 2) is not supported");
    h.width = 40000;
    EXPECT_EQ(Refusal(BitmapBytes(h, 256, Bytes(8))), "its size (40000 x 2) is not supported");
}

TEST(BitmapRefusals, ShortPaletteAndShortRows) {
    Header h;
    h.width = 3;
    h.height = 2;
    Bytes whole = BitmapBytes(h, 256, {1, 2, 3, 0, 4, 5, 6, 0});
    EXPECT_EQ(Refusal(Bytes(whole.begin(), whole.begin() + 600)), "its palette is incomplete");
    EXPECT_EQ(Refusal(Bytes(whole.begin(), whole.end() - 1)), "it is truncated");
    EXPECT_EQ(Refusal(Bytes(whole.begin(), whole.begin() + 1078)), "it is truncated");
}

TEST(BitmapRefusals, HugeSizeClaimedByASmallFileIsRefusedBeforeAllocating) {
    Header h;
    h.width = 32767;
    h.height = 32767;
    h.bits = 24;
    h.offset = 54;  // would need 3.2 GB of rows
    EXPECT_EQ(Refusal(BitmapBytes(h, 0, Bytes(100))), "it is truncated");
}

TEST(BitmapRefusals, MissingFileOrFolder) {
    ScratchDir dir;
    const Result<BitmapData> missing = ReadBitmapFile(dir.File("none.bmp"));
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.message, "it cannot be opened (No such file or directory)");
    const Result<BitmapData> folder = ReadBitmapFile(dir.path());
    EXPECT_FALSE(folder);
    EXPECT_EQ(folder.message, "it cannot be opened (it is a folder)");
}
