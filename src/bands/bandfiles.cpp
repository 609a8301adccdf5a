#include "bands/bandfiles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "image/bitmapfile.h"

namespace tessera {

namespace {

std::string SizeText(ImageSize size) {
    return std::to_string(size.lines) + " lines x " + std::to_string(size.columns) + " columns";
}

std::string RawRefusal(const std::string& path, const std::string& why) {
    return "The raw image\n" + path + "\ncannot be loaded: " + why + ".";
}

}  // namespace

std::string BandDialogFolder(int band) {
    if (band >= 1 && band <= 3) return "c:\\images";
    if (band >= 4 && band <= 7) return "C:\\images";
    return "";
}

Status CheckBandCount(int bandCount, int maximum) {
    if (bandCount < 2) return Status::Failure(" Insufficient Number of Bands ");
    if (bandCount > maximum)
        return Status::Failure(" More than " + std::to_string(maximum) +
                               " bands \n(Software limit) ");
    return Status::Ok();
}

Status CheckRasterBandCount(int bandCount, int bandsInFile) {
    Status usable = CheckBandCount(bandCount);
    if (!usable && bandsInFile == 1)
        usable.message +=
            "\nThis file holds a single band: open it as one band of a set, "
            "with Files > Open.";
    return usable;
}

std::string BandLabel(int band) {
    return " BAND " + std::to_string(band) + ". ";
}

std::string BandTitle(int band, const std::string& path) {
    return BandLabel(band) + path;
}

std::string RasterBandTitle(int band, const std::string& path, int rasterBand, int bandsInFile) {
    std::string title = BandTitle(band, path);
    if (bandsInFile > 1) title += " (raster band " + std::to_string(rasterBand) + ")";
    return title;
}

GrayRange ComputeGrayRange(const ByteMatrix& pixels) {
    GrayRange range;  // 260 and 0: any pixel lowers the one and raises the other
    if (pixels.Size() == 0) return range;
    // Byte-wide accumulators let the compiler compare many pixels at once.
    const uint8_t* p = pixels.Data();
    uint8_t low = 255;
    uint8_t high = 0;
    for (size_t i = 0, n = pixels.Size(); i < n; ++i) {
        low = std::min(low, p[i]);
        high = std::max(high, p[i]);
    }
    range.minGray = low;
    range.maxGray = high;
    return range;
}

Histogram ComputeHistogram(const ByteMatrix& pixels) {
    Histogram counts{};
    AddToHistogram(pixels.Data(), pixels.Size(), counts);
    return counts;
}

void AddToHistogram(const uint8_t* pixels, size_t count, Histogram& histogram) {
    // Neighbouring pixels of a band are often equal: four tables, filled in turn, keep the
    // increments of one level from waiting on each other. 32-bit counters, emptied into the
    // 64-bit histogram every block, are smaller to keep in cache.
    constexpr size_t kBlock = size_t{1} << 30;
    uint32_t part[4][256];
    while (count > 0) {
        const size_t block = std::min(count, kBlock);
        std::memset(part, 0, sizeof part);
        size_t i = 0;
        for (; i + 4 <= block; i += 4) {
            ++part[0][pixels[i]];
            ++part[1][pixels[i + 1]];
            ++part[2][pixels[i + 2]];
            ++part[3][pixels[i + 3]];
        }
        for (; i < block; ++i) ++part[0][pixels[i]];
        for (int g = 0; g < 256; ++g)
            histogram[g] += int64_t{part[0][g]} + part[1][g] + part[2][g] + part[3][g];
        pixels += block;
        count -= block;
    }
}

int64_t CountMarks(const uint8_t* marks, size_t count, uint8_t mark) {
    // Counted in 64 byte-wide lanes, which the compiler compares a register at a time, each
    // lane emptied before it can overflow (255 blocks of 64).
    constexpr size_t kLanes = 64;
    int64_t found = 0;
    size_t i = 0;
    while (count - i >= kLanes) {
        const size_t end = i + std::min((count - i) / kLanes, size_t{255}) * kLanes;
        uint8_t lanes[kLanes] = {};
        for (; i < end; i += kLanes)
            for (size_t j = 0; j < kLanes; ++j) lanes[j] += marks[i + j] == mark ? 1 : 0;
        for (size_t j = 0; j < kLanes; ++j) found += lanes[j];
    }
    for (; i < count; ++i) found += marks[i] == mark;
    return found;
}

int64_t RemoveNodata(const uint8_t* pixels, const uint8_t* nodata, size_t count,
                     Histogram& histogram) {
    // Most pixels have data: eight marks of 0 are passed over as one 64-bit word.
    int64_t removed = 0;
    size_t i = 0;
    while (i < count) {
        if (count - i >= 8) {
            uint64_t word;
            std::memcpy(&word, nodata + i, sizeof word);
            if (word == 0) {
                i += 8;
                continue;
            }
        }
        for (const size_t end = std::min(i + 8, count); i < end; ++i) {
            if (nodata[i] == 0) continue;
            --histogram[pixels[i]];
            ++removed;
        }
    }
    return removed;
}

GrayRange RangeOfHistogram(const Histogram& histogram) {
    GrayRange range;
    for (int g = 0; g < 256; ++g) {
        if (histogram[g] == 0) continue;
        if (range.minGray > g) range.minGray = g;
        range.maxGray = g;
    }
    return range;
}

int CountGrayTones(const ByteMatrix& pixels) {
    const Histogram counts = ComputeHistogram(pixels);
    int tones = 0;
    for (int64_t count : counts) tones += count > 0 ? 1 : 0;
    return tones;
}

Status CheckRawFileSize(const std::string& path, ImageSize) {
    // A short file loads all the same: the pixels it lacks are 0.
    if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
        std::fclose(probe);
        return Status::Ok();
    }
    return Status::Failure("The raw image\n" + path + "\ncannot be opened for reading.");
}

Result<ByteMatrix> LoadRawBand(const std::string& path, ImageSize size, Progress& progress) {
    using R = Result<ByteMatrix>;
    if (Status usable = CheckImageSize(size); !usable) {
        return R::Failure(RawRefusal(path, usable.message));
    }
    if (Status holds = CheckRawFileSize(path, size); !holds) return R::Failure(holds.message);
    Result<ByteMatrix> read = ReadRawImage(path, size, progress);
    if (read.cancelled) return read;
    if (!read) return R::Failure(RawRefusal(path, read.message));
    return read;
}

Result<ByteMatrix> LoadBitmapBand(const std::string& path) {
    using R = Result<ByteMatrix>;
    Result<BitmapData> read = ReadBitmapFile(path);
    if (!read) return R::Failure("The bitmap\n" + path + "\ncannot be read: " + read.message + ".");

    // A gray band of this many pixels takes at most twice its pixel count on disk (1078 bytes
    // of header and palette aside); anything bigger is taken for a colour bitmap. Very small
    // 8-bit bitmaps fall under the same rule.
    BitmapData& bitmap = *read.value;
    const int64_t pixelCount = int64_t{bitmap.height} * bitmap.width;
    const int64_t fileSize = FileSizeOf(path);
    if (bitmap.bytesPerPixel != 1 || 2 * pixelCount < fileSize) {
        return R::Failure(kRgbBitmapRefusal);
    }
    return R::Of(std::move(bitmap.rows));
}

std::string DescriptorMalformedMessage(const std::string& descriptorPath) {
    return "The descriptor\n" + descriptorPath +
           "\ndoes not begin with the number of lines and the number of columns.";
}

std::string DescriptorNotWrittenMessage(const std::string& descriptorPath, const std::string& why) {
    // A reason from the file writer already names the file; keep only its cause.
    std::string reason = why;
    const std::string prefix = "cannot write " + descriptorPath + ": ";
    if (reason.compare(0, prefix.size(), prefix) == 0) reason = reason.substr(prefix.size());
    return "The descriptor\n" + descriptorPath + "\ncannot be written: " + reason + ".";
}

std::string SizeMismatchMessage(const std::string& path, ImageSize band, ImageSize loaded) {
    return "The image\n" + path + "\nhas " + SizeText(band) +
           ", but the bands already loaded have " + SizeText(loaded) +
           ".\nAll bands of a set must have the same size.";
}

std::string MissingBandMessage(int band) {
    return " Band " + std::to_string(band) + " has not been loaded \nOpen the band set again ";
}

}  // namespace tessera
