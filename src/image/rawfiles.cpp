#include "image/rawfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "support/readfile.h"
#include "support/safefile.h"

namespace tessera {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

bool IsWhiteSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One "%d" conversion: white space skipped, an optional sign, at least one digit. A number too
// long for 32 bits saturates, so that the size check refuses it rather than it wrapping.
std::optional<int> ScanInteger(std::FILE* file) {
    int c = std::getc(file);
    while (c != EOF && IsWhiteSpace(c)) c = std::getc(file);
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = std::getc(file);
    }
    if (c == EOF || c < '0' || c > '9') return std::nullopt;
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int>::max()} + 1;
    for (; c != EOF && c >= '0' && c <= '9'; c = std::getc(file)) {
        value = value * 10 + (c - '0');
        if (value > kLimit) value = kLimit;
    }
    if (c != EOF) std::ungetc(c, file);
    if (negative) return static_cast<int>(-value);  // -kLimit is exactly INT_MIN
    return static_cast<int>(
        value > std::numeric_limits<int>::max() ? int64_t{std::numeric_limits<int>::max()} : value);
}

std::string SizeText(ImageSize size) {
    return std::to_string(size.lines) + " lines x " + std::to_string(size.columns) + " columns";
}

}  // namespace

DescriptorRead ReadDescriptor(const std::string& path) {
    DescriptorRead read;
    FileHandle file(std::fopen(path.c_str(), "r"));
    if (!file) return read;  // Missing
    struct stat info;
    if (::fstat(::fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) return read;

    const std::optional<int> lines = ScanInteger(file.get());
    const std::optional<int> columns = lines ? ScanInteger(file.get()) : std::nullopt;
    if (!lines || !columns) {
        read.outcome = DescriptorRead::Malformed;
        return read;
    }
    read.outcome = DescriptorRead::Read;
    read.size = ImageSize{*lines, *columns};
    return read;
}

Status CheckImageSize(ImageSize size) {
    if (size.lines <= 0 || size.columns <= 0) {
        return Status::Failure("the size " + SizeText(size) + " is not a usable image size");
    }
    if (size.lines > kMaximumSide || size.columns > kMaximumSide ||
        int64_t{size.lines} * size.columns > kMaximumPixels) {
        return Status::Failure("the size " + SizeText(size) +
                               " is larger than the program accepts (at most " +
                               std::to_string(kMaximumSide) + " lines or columns and " +
                               std::to_string(kMaximumPixels) + " pixels)");
    }
    return Status::Ok();
}

std::string ShortDescriptorText(ImageSize size) {
    return std::to_string(size.lines) + "\n" + std::to_string(size.columns) + "\n";
}

std::string LongDescriptorText(ImageSize size) {
    return ShortDescriptorText(size) + "1\n0\n255\n";
}

std::string WideDescriptorText(ImageSize size) {
    return ShortDescriptorText(size) + "2\n0\n65535\n";
}

bool ReadRawLines(int fd, int columns, int first, int count, uint8_t* lines) {
    const size_t wanted = static_cast<size_t>(columns) * static_cast<size_t>(std::max(count, 0));
    const off_t start = static_cast<off_t>(int64_t{first} * columns);
    size_t got = 0;
    bool failed = false;
    while (got < wanted) {
        const ssize_t read =
            ::pread(fd, lines + got, wanted - got, start + static_cast<off_t>(got));
        if (read < 0 && errno == EINTR) continue;
        failed = read < 0;
        if (read <= 0) break;
        got += static_cast<size_t>(read);
    }
    // Missing at the end of a short file: 0, as in a zero-filled matrix.
    if (got < wanted) std::memset(lines + got, 0, wanted - got);
    return !failed;
}

Result<ByteMatrix> ReadRawImage(const std::string& path, ImageSize size, Progress& progress) {
    using R = Result<ByteMatrix>;
    if (Status usable = CheckImageSize(size); !usable) return R::Failure(usable.message);

    const ReadOnlyFile file(path);
    if (!file.IsOpen()) return R::Failure(file.Refusal());
    const int fd = file.Descriptor();
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        return R::Failure("it cannot be opened (it is a folder)");
    }

    // Every byte is read or, past the end of a short file, set to 0: no zero fill first.
    std::optional<ByteMatrix> pixels = ByteMatrix::CreateUnfilled(size.columns, size.lines);
    if (!pixels) return R::Failure("there is not enough memory for " + SizeText(size));

    // The lines follow each other in the file as in the matrix: reads of a few lines fill
    // them in turn, and bytes past the end of a short file are set to 0.
    constexpr int64_t kPiece = int64_t{16} << 20;
    const int64_t total = static_cast<int64_t>(pixels->Size());
    const int piece = static_cast<int>(std::max<int64_t>(kPiece / size.columns, 1));
    for (int first = 0; first < size.lines; first += piece) {
        if (!progress.Step(kStageLoading, int64_t{first} * size.columns, total))
            return R::Cancelled();
        ReadRawLines(fd, size.columns, first, std::min(piece, size.lines - first),
                     (*pixels)[first]);
    }
    return R::Of(std::move(*pixels));
}

Status WriteRawImage(const std::string& path, const ByteMatrix& pixels) {
    return WriteFileAtomically(path, [&pixels](std::FILE* file) {
        const size_t columns = static_cast<size_t>(pixels.Columns());
        for (int line = 0; line < pixels.Lines(); ++line) {
            if (std::fwrite(pixels[line], 1, columns, file) != columns) return false;
        }
        return true;
    });
}

}  // namespace tessera
