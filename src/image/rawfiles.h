#pragma once
// Raw images (lines x columns bytes, no header) and their text descriptors.
#include <cstdint>
#include <string>

#include "image/matrix.h"
#include "support/progress.h"
#include "support/status.h"

namespace tessera {

// Largest image side and pixel count the program accepts from a descriptor; larger sizes are
// refused before anything is allocated.
constexpr int kMaximumSide = 1 << 20;
constexpr int64_t kMaximumPixels = int64_t{1} << 31;

struct ImageSize {
    int lines = 0;
    int columns = 0;
    friend bool operator==(const ImageSize&, const ImageSize&) = default;
};

struct DescriptorRead {
    enum Outcome { Read, Missing, Malformed } outcome = Missing;
    ImageSize size;
};

// The first two integers of a descriptor ("%d %d", any white space between them); the rest is
// ignored. Missing: the file does not open; Malformed: it does not begin with two integers.
DescriptorRead ReadDescriptor(const std::string& path);

// Refuses a size of zero or below, or beyond the limits above, with a sentence saying so.
Status CheckImageSize(ImageSize size);

// "%d\n%d\n" with lines, then columns.
std::string ShortDescriptorText(ImageSize size);
// Five lines "%d\n": lines, columns, 1, 0, 255.
std::string LongDescriptorText(ImageSize size);
// The same for a raw image of two bytes a pixel (16-bit little-endian): lines, columns, 2, 0,
// 65535.
std::string WideDescriptorText(ImageSize size);

// Reads `size.lines` lines of `size.columns` bytes; bytes missing at the end of a short file
// stay 0. Fails (with the reason) only when the file cannot be opened or memory runs out.
Result<ByteMatrix> ReadRawImage(const std::string& path, ImageSize size,
                                Progress& progress = NoProgress());
// Lines first..first + count - 1 of a raw image of `columns` columns open as `fd`, one after
// another into `lines`; bytes the file does not hold are 0. False when reading fails (an error
// of the device, not the end of a short file).
bool ReadRawLines(int fd, int columns, int first, int count, uint8_t* lines);

// The matrix line by line, no header; written whole or not at all.
Status WriteRawImage(const std::string& path, const ByteMatrix& pixels);

}  // namespace tessera
