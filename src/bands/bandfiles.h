#pragma once
// Loading rules for one band, shared by the GUI and the batch tool, and per-band statistics.
#include <array>
#include <cstdint>
#include <string>

#include "image/matrix.h"
#include "image/rawfiles.h"
#include "support/status.h"

namespace tessera {

// The interactive program's band sets: 2 to 10 bands.
constexpr int kMaximumBands = 10;
// The band sets of the jobs that read their bands from files or arrays (the batch tool, the
// Python module, its dask layer): 2 to 32 bands, as a whole multispectral scene may hold.
constexpr int kMaximumJobBands = 32;

// Filter index of the band open dialogs: 1 raw images, 2 bitmaps; 3 any raster GDAL reads.
enum class BandFileType { Raw = 1, Bitmap = 2, Raster = 3 };

inline constexpr const char* kRgbBitmapRefusal =
    "This program does not take into account RGB Bitmap";

// The notices of band and segmented-band stepping at either end of the set ("INFO").
inline constexpr const char* kFirstImageNotice =
    "This image corresponds to the first one\nUse Rigth Speed Button to go up inside the file";
inline constexpr const char* kLastImageNotice =
    "This image corresponds to the last one\nUse Left Speed Button to go down inside the file";

// The folder band k's open dialog starts in: "c:\images" for bands 1 to 3, "C:\images" for
// bands 4 to 7, none (empty) for bands 8 to 10.
std::string BandDialogFolder(int band);

// Refuses a band count outside 2..maximum with its "ERROR" text.
Status CheckBandCount(int bandCount, int maximum = kMaximumBands);
// CheckBandCount for the bands opened from one raster of `bandsInFile` bands: refusing a file
// of a single band, it says so and where such a band is opened.
Status CheckRasterBandCount(int bandCount, int bandsInFile);

// " BAND 1. " ... " BAND 10. "
std::string BandLabel(int band);
// The band's label followed by the full path of its file.
std::string BandTitle(int band, const std::string& path);
// The title of band `rasterBand` of a raster of `bandsInFile` bands: BandTitle, followed by
// " (raster band K)" when the file holds several bands.
std::string RasterBandTitle(int band, const std::string& path, int rasterBand, int bandsInFile);

struct GrayRange {
    int minGray = 260;
    int maxGray = 0;
};
GrayRange ComputeGrayRange(const ByteMatrix& pixels);

using Histogram = std::array<int64_t, 256>;
Histogram ComputeHistogram(const ByteMatrix& pixels);
// Adds `count` pixels to `histogram` (a band read a strip at a time).
void AddToHistogram(const uint8_t* pixels, size_t count, Histogram& histogram);
// The marks of pixels without data: a pixel holding the band's nodata value, or a NaN or
// infinite value of a floating-point band (0: a pixel with data).
constexpr uint8_t kNodataMark = 1;
constexpr uint8_t kNonFiniteMark = 2;
// A pixel that a mask of the band set leaves without data (and that holds data of its own).
constexpr uint8_t kMaskedMark = 4;
// The pixels that carry `mark`.
int64_t CountMarks(const uint8_t* marks, size_t count, uint8_t mark);
// Takes the pixels marked (not 0) in `nodata` back out of `histogram`: what is left counts the pixels
// with data only. Returns the number taken out.
int64_t RemoveNodata(const uint8_t* pixels, const uint8_t* nodata, size_t count,
                     Histogram& histogram);
// The lowest and highest gray level the histogram holds (260 and 0 when it holds none), as
// ComputeGrayRange finds them in the pixels.
GrayRange RangeOfHistogram(const Histogram& histogram);
// Number of gray values that occur at least once.
int CountGrayTones(const ByteMatrix& pixels);

// A raw band of the given size (from its descriptor or the size dialog). Refuses an unusable
// size, a file that does not open, or a size memory cannot hold, with a "CAUTION" text that
// names the file. Bytes missing at the end of a short file are 0.
Result<ByteMatrix> LoadRawBand(const std::string& path, ImageSize size,
                               Progress& progress = NoProgress());

// Refuses a raw file that cannot be opened for reading, before anything is allocated. A file
// shorter than its size is not refused: its missing bytes load as 0.
Status CheckRawFileSize(const std::string& path, ImageSize size);

// An 8-bit bitmap band. Refuses a file the bitmap reader refuses (with its reason) and, by
// size, a file larger than 2 x lines x columns bytes (kRgbBitmapRefusal, exactly).
Result<ByteMatrix> LoadBitmapBand(const std::string& path);

// "CAUTION" texts of the loader, each naming the file concerned.
std::string DescriptorMalformedMessage(const std::string& descriptorPath);
std::string DescriptorNotWrittenMessage(const std::string& descriptorPath, const std::string& why);
std::string SizeMismatchMessage(const std::string& path, ImageSize band, ImageSize loaded);
// "ERROR" text of a command that needs every band of the set.
std::string MissingBandMessage(int band);
// "ERROR" text of a command on the current band when no band set is open (its count was
// refused).
inline constexpr const char* kNoBandSetMessage =
    " No band set is open \nOpen a set of 2 to 10 bands first ";

}  // namespace tessera
