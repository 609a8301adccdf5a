#pragma once
// The image object that every display goes through, colour tables, and bitmap files.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "image/matrix.h"
#include "support/status.h"

namespace tessera {

enum ImageKind : int8_t { GrayKind = 0, PaletteKind = 1, ColourKind = 2 };

struct Colour {
    uint8_t blue = 0, green = 0, red = 0;
    friend bool operator==(const Colour&, const Colour&) = default;
};

// One entry of a segment or class colour table; `spare` is the fourth byte of the bitmap
// palette entry written from it.
struct ColourEntry {
    uint8_t blue = 0, green = 0, red = 0;
    int32_t index = 0;
    uint8_t spare = 0;
    friend bool operator==(const ColourEntry&, const ColourEntry&) = default;
};
using ColourTable = std::array<ColourEntry, 256>;

// The gray ramp (entry i = i, i, i), the palette of a PaletteKind image and of a bitmap written
// without a colour table.
ColourTable GrayRamp();

class GrayImage {
  public:
    int height = 0;
    int width = 0;
    ImageKind kind = GrayKind;
    std::vector<uint8_t> pixels;  // height rows of width x BytesPerPixel bytes, row 0 on top
    ColourTable palette{};        // PaletteKind only

    int BytesPerPixel() const { return kind == ColourKind ? 3 : 1; }
    bool Empty() const { return pixels.empty(); }
    uint8_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * width * BytesPerPixel(); }
    const uint8_t* Row(int y) const {
        return pixels.data() + static_cast<size_t>(y) * width * BytesPerPixel();
    }

    // Out-of-range coordinates are ignored.
    void SetGray(int x, int y, uint8_t value);
    // On a one-byte image stores (blue + green + red) / 3.
    void SetColour(int x, int y, uint8_t blue, uint8_t green, uint8_t red);
    // No range test: the caller keeps x and y inside the image.
    Colour GetColour(int x, int y) const;

    // Red, green, blue bytes of line y, width x 3 bytes, for building a display picture
    // scanline by scanline.
    void ToRgbLine(int y, uint8_t* rgb) const;
};

// Width and height must not be negative; nothing when memory runs out. The pixel bytes are
// zero (the creator writes every pixel before the image is shown).
std::optional<GrayImage> CreateGrayImage(int width, int height, ImageKind kind);

// ----- Bitmap files -----

// Limits of what the reader accepts (16-bit signed header fields, bottom-up rows).
constexpr int kMaximumBitmapSide = 32767;

struct BitmapData {
    ByteMatrix rows;  // height lines of width x bytesPerPixel bytes, line 0 = top of the picture
    int width = 0;
    int height = 0;
    int bytesPerPixel = 1;
};

// An uncompressed bottom-up 8-bit (pixel data at 1078) or 24-bit (at 54) bitmap. The stored
// indices of an 8-bit file are the gray values, whatever its palette. On refusal the message
// says why, without the file name ("it is not a bitmap file", "it has 16 bits per pixel", ...).
Result<BitmapData> ReadBitmapFile(const std::string& path);

// Where the pixels of a bitmap lie in its file.
struct BitmapLayout {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 1;
    int64_t pixelOffset = 0;  // of the bottom line, stored first
    int64_t stride = 0;       // bytes from one stored line to the next
    int64_t fileSize = 0;
};
// The header of the bitmap open as `fd`, checked as ReadBitmapFile checks it (same reasons),
// and against the file's length, without reading a pixel.
Result<BitmapLayout> ReadBitmapLayout(int fd);

// Reads lines first..first + count - 1 (0 = top) of a bottom-up raster of `height` lines
// stored from `offset`, `stride` bytes apart, `lineBytes` of each into lines[0..count - 1].
// Bytes the file does not hold are 0 when `zeroMissing`; otherwise they make it fail.
bool ReadStoredLines(int fd, int64_t offset, int64_t stride, int64_t lineBytes, int first,
                     int count, int height, uint8_t* const* lines, bool zeroMissing);

// kind GrayKind or PaletteKind: an 8-bit bitmap with `palette` (entry i = blue, green, red,
// spare); ColourKind: a 24-bit bitmap whose rows hold blue, green, red. `rows` holds height lines
// of width x bytes-per-pixel bytes. Written whole or not at all. 0 on success, -1 on failure.
int WriteBitmapFile(const std::string& path, const ByteMatrix& rows, int width, int height,
                    ImageKind kind, const ColourTable& palette);

// Where the lines of an 8-bit bitmap start (after the headers and the palette), and the bytes
// from one stored line to the next (lines padded to whole words).
inline constexpr int64_t kBitmapPixelOffset = 1078;
inline int64_t BitmapStride(int columns) {
    return (int64_t{columns} + 3) / 4 * 4;
}

// The bytes WriteBitmapFile writes (for tests and for writers that stream).
std::vector<uint8_t> BitmapFileHeader(int width, int height, ImageKind kind,
                                      const ColourTable& palette);

// Size in bytes, or -1 when the file cannot be opened for reading.
int64_t FileSizeOf(const std::string& path);

}  // namespace tessera
