#pragma once
// Bitmap files: the uncompressed 8-bit and 24-bit bitmaps the program reads as bands and writes
// as results, read whole or line by line, written whole or not at all.
#include <cstdint>
#include <string>
#include <vector>

#include "image/grayimage.h"
#include "image/matrix.h"
#include "support/status.h"

namespace tessera {

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

// The file-size field of a bitmap is 32 bits wide: an 8-bit bitmap of more lines or columns
// than that holds cannot be written.
inline bool BitmapFits(int columns, int lines) {
    return kBitmapPixelOffset + BitmapStride(columns) * lines <= int64_t{0xffffffff};
}

// The bytes WriteBitmapFile writes (for tests and for writers that stream).
std::vector<uint8_t> BitmapFileHeader(int width, int height, ImageKind kind,
                                      const ColourTable& palette);

// Size in bytes, or -1 when the file cannot be opened for reading.
int64_t FileSizeOf(const std::string& path);

}  // namespace tessera
