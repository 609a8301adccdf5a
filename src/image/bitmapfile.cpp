#include "image/bitmapfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "support/readfile.h"
#include "support/safefile.h"

namespace tessera {

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
constexpr int kHeadersSize = kFileHeaderSize + kInfoHeaderSize;  // 54
constexpr int kPaletteSize = 256 * 4;
constexpr int kPalettedOffset = kHeadersSize + kPaletteSize;  // 1078
static_assert(kPalettedOffset == kBitmapPixelOffset);
constexpr int kPixelsPerMetre = 10000;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

uint32_t ReadU32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t ReadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
int32_t ReadI32(const uint8_t* p) {
    return static_cast<int32_t>(ReadU32(p));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}
void PutU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

// Bytes of one stored row: whole 4-byte words.
int64_t StrideOf(int64_t width, int bytesPerPixel) {
    return (width * bytesPerPixel + 3) / 4 * 4;
}

bool IsPaletted(ImageKind kind) {
    return kind != ColourKind;
}

}  // namespace

Result<BitmapLayout> ReadBitmapLayout(int fd) {
    using R = Result<BitmapLayout>;
    struct stat info;
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        return R::Failure("it cannot be opened (it is a folder)");
    }
    const int64_t fileSize = static_cast<int64_t>(info.st_size);

    uint8_t header[kHeadersSize];
    size_t headerRead = 0;
    while (headerRead < sizeof header) {
        const ssize_t got = ::pread(fd, header + headerRead, sizeof header - headerRead,
                                    static_cast<off_t>(headerRead));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        headerRead += static_cast<size_t>(got);
    }
    const bool signature = headerRead >= 2 && header[0] == 'B' && header[1] == 'M';
    if (!signature) return R::Failure("it is not a bitmap file");
    if (headerRead < sizeof header) return R::Failure("it is truncated");

    const uint32_t pixelOffset = ReadU32(header + 10);
    const int32_t width = ReadI32(header + 18);
    const int32_t height = ReadI32(header + 22);
    const uint16_t bitsPerPixel = ReadU16(header + 28);
    const uint32_t compression = ReadU32(header + 30);

    // Only the two layouts whose pixels follow the headers (and the palette) directly.
    int bytesPerPixel = 0;
    if (bitsPerPixel == 8) {
        if (pixelOffset < kPalettedOffset) {
            return R::Failure("its palette has fewer than 256 colours");
        }
        if (pixelOffset != kPalettedOffset) {
            return R::Failure("its pixel data do not follow its palette");
        }
        bytesPerPixel = 1;
    } else if (bitsPerPixel == 24) {
        if (pixelOffset != kHeadersSize) {
            return R::Failure("its pixel data do not follow its header");
        }
        bytesPerPixel = 3;
    } else {
        return R::Failure("it has " + std::to_string(bitsPerPixel) +
                          (bitsPerPixel == 1 ? " bit" : " bits") +
                          " per pixel; only 8-bit bitmaps are read");
    }
    if (compression != 0) return R::Failure("it is compressed");
    if (height < 0) return R::Failure("it is stored top-down");
    if (width <= 0 || height <= 0 || width > kMaximumBitmapSide || height > kMaximumBitmapSide) {
        return R::Failure("its size (" + std::to_string(width) + " x " + std::to_string(height) +
                          ") is not supported");
    }

    // A corrupt header can promise far more rows than the file holds: measure before allocating.
    const int64_t stride = StrideOf(width, bytesPerPixel);
    if (bytesPerPixel == 1 && fileSize < kPalettedOffset) {
        return R::Failure("its palette is incomplete");
    }
    if (fileSize < static_cast<int64_t>(pixelOffset) + stride * height) {
        return R::Failure("it is truncated");
    }

    BitmapLayout layout;
    layout.width = width;
    layout.height = height;
    layout.bytesPerPixel = bytesPerPixel;
    layout.pixelOffset = pixelOffset;
    layout.stride = stride;
    layout.fileSize = fileSize;
    return R::Of(layout);
}

bool ReadStoredLines(int fd, int64_t offset, int64_t stride, int64_t lineBytes, int first,
                     int count, int height, uint8_t* const* lines, bool zeroMissing) {
    if (count <= 0) return true;
    // The stored lines first + count - 1 down to first lie one after another in the file
    // (bottom-up): one vector of pieces takes them straight into their lines, the padding of
    // each into a scratch area.
    const int64_t padding = stride - lineBytes;
    uint8_t scratch[4];
    std::vector<struct iovec> pieces;
    pieces.reserve(static_cast<size_t>(count) * (padding > 0 ? 2 : 1));
    for (int line = first + count - 1; line >= first; --line) {
        pieces.push_back({lines[line - first], static_cast<size_t>(lineBytes)});
        if (padding > 0) pieces.push_back({scratch, static_cast<size_t>(padding)});
    }
    const int64_t start = offset + (int64_t{height} - first - count) * stride;
    size_t next = 0;
    int64_t at = start;
    while (next < pieces.size()) {
        const int batch = static_cast<int>(std::min<size_t>(pieces.size() - next, IOV_MAX));
        const ssize_t got = ::preadv(fd, pieces.data() + next, batch, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        at += got;
        size_t left = static_cast<size_t>(got);
        while (next < pieces.size() && left >= pieces[next].iov_len) left -= pieces[next++].iov_len;
        if (left > 0) {
            pieces[next].iov_base = static_cast<uint8_t*>(pieces[next].iov_base) + left;
            pieces[next].iov_len -= left;
        }
    }
    if (next == pieces.size()) return true;
    if (!zeroMissing) return false;
    for (; next < pieces.size(); ++next)
        if (pieces[next].iov_base != scratch && pieces[next].iov_len > 0)
            std::memset(pieces[next].iov_base, 0, pieces[next].iov_len);
    return true;
}

Result<BitmapData> ReadBitmapFile(const std::string& path) {
    using R = Result<BitmapData>;
    const ReadOnlyFile file(path);
    if (!file.IsOpen()) return R::Failure(file.Refusal());
    const int fd = file.Descriptor();

    const Result<BitmapLayout> layout = ReadBitmapLayout(fd);
    if (!layout) return R::Failure(layout.message);
    const BitmapLayout& shape = *layout.value;

    // Every cell is read from the file: no zero fill.
    std::optional<ByteMatrix> rows =
        ByteMatrix::CreateUnfilled(shape.width * shape.bytesPerPixel, shape.height);
    std::vector<uint8_t*> lines;
    try {
        if (rows) lines.resize(static_cast<size_t>(shape.height));
    } catch (const std::bad_alloc&) {
        rows.reset();
    }
    if (!rows) return R::Failure("there is not enough memory for it");
    for (int line = 0; line < shape.height; ++line) lines[line] = (*rows)[line];

    const int64_t rowBytes = int64_t{shape.width} * shape.bytesPerPixel;
    if (!ReadStoredLines(fd, shape.pixelOffset, shape.stride, rowBytes, 0, shape.height,
                         shape.height, lines.data(), false)) {
        return R::Failure("it is truncated");
    }

    BitmapData data;
    data.rows = std::move(*rows);
    data.width = shape.width;
    data.height = shape.height;
    data.bytesPerPixel = shape.bytesPerPixel;
    return R::Of(std::move(data));
}

std::vector<uint8_t> BitmapFileHeader(int width, int height, ImageKind kind,
                                      const ColourTable& palette) {
    const bool paletted = IsPaletted(kind);
    const int bytesPerPixel = paletted ? 1 : 3;
    const uint32_t offset = paletted ? kPalettedOffset : kHeadersSize;
    const int64_t dataSize =
        StrideOf(width < 0 ? 0 : width, bytesPerPixel) * (height < 0 ? 0 : height);

    std::vector<uint8_t> out;
    out.reserve(offset);
    out.push_back('B');
    out.push_back('M');
    PutU32(out, static_cast<uint32_t>(offset + dataSize));  // file size
    PutU16(out, 0);                                         // reserved
    PutU16(out, 0);                                         // reserved
    PutU32(out, offset);
    PutU32(out, kInfoHeaderSize);
    PutU32(out, static_cast<uint32_t>(width));
    PutU32(out, static_cast<uint32_t>(height));  // positive: rows stored bottom-up
    PutU16(out, 1);                              // planes
    PutU16(out, static_cast<uint16_t>(bytesPerPixel * 8));
    PutU32(out, 0);  // no compression
    PutU32(out, static_cast<uint32_t>(dataSize));
    PutU32(out, kPixelsPerMetre);
    PutU32(out, kPixelsPerMetre);
    PutU32(out, 0);  // colours used: all
    PutU32(out, 0);  // important colours: all
    if (paletted) {
        for (const ColourEntry& entry : palette) {
            out.push_back(entry.blue);
            out.push_back(entry.green);
            out.push_back(entry.red);
            out.push_back(entry.spare);
        }
    }
    return out;
}

int WriteBitmapFile(const std::string& path, const ByteMatrix& rows, int width, int height,
                    ImageKind kind, const ColourTable& palette) {
    if (width < 0 || height < 0) return -1;
    const int bytesPerPixel = IsPaletted(kind) ? 1 : 3;
    const int64_t rowBytes = int64_t{width} * bytesPerPixel;
    const int64_t stride = StrideOf(width, bytesPerPixel);
    const int64_t offset = IsPaletted(kind) ? kPalettedOffset : kHeadersSize;
    // The file-size field is 32 bits wide.
    if (offset + stride * height > int64_t{0xffffffff}) return -1;
    if (height > 0 && (rows.Lines() < height || rows.Columns() < rowBytes)) return -1;

    std::vector<uint8_t> header;
    std::vector<uint8_t> buffer;
    try {
        header = BitmapFileHeader(width, height, kind, palette);
        buffer.assign(static_cast<size_t>(stride), 0);  // the padding bytes stay zero
    } catch (const std::bad_alloc&) {
        return -1;
    }

    const Status status = WriteFileAtomically(path, [&](std::FILE* file) {
        if (std::fwrite(header.data(), 1, header.size(), file) != header.size()) return false;
        for (int line = height - 1; line >= 0; --line) {
            if (rowBytes > 0) std::memcpy(buffer.data(), rows[line], static_cast<size_t>(rowBytes));
            if (std::fwrite(buffer.data(), 1, buffer.size(), file) != buffer.size()) return false;
        }
        return true;
    });
    return status ? 0 : -1;
}

int64_t FileSizeOf(const std::string& path) {
    FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) return -1;
    struct stat info;
    if (::fstat(::fileno(file.get()), &info) != 0 || S_ISDIR(info.st_mode)) return -1;
    if (S_ISREG(info.st_mode)) return static_cast<int64_t>(info.st_size);
    // Not a regular file: measure it the classic way.
    if (::fseeko(file.get(), 0, SEEK_END) != 0) return -1;
    return static_cast<int64_t>(::ftello(file.get()));
}

}  // namespace tessera
