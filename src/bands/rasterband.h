#pragma once
// Bands of the rasters GDAL reads (GeoTIFF and the rest): the file held open, one band of it
// read a strip at a time, native values of other types than 8 bits stretched to gray levels.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/rawfiles.h"
#include "segmentation/bandrecord.h"
#include "support/status.h"

namespace tessera {

// GDAL's own error printing would add lines to the program's one-line refusals: its errors
// are kept (CPLGetLastErrorMsg) but not printed while this lives, in this thread.
class QuietGdalErrors {
  public:
    QuietGdalErrors();
    ~QuietGdalErrors();
    QuietGdalErrors(const QuietGdalErrors&) = delete;
    QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;
};

// gray = (value - minimum) x 255 / (maximum - minimum), rounded to the nearest level (halves
// up) and clamped to 0..255, as gdal_translate -ot Byte -scale minimum maximum 0 255 does.
// NaN becomes 0.
uint8_t StretchToGray(double value, StretchRange range);
// The native value gray level `gray` stands for: the inverse of StretchToGray.
double NativeOfGray(double gray, StretchRange range);

// A value as short as it can be written and read back the same ("100", "0.25").
std::string NumberText(double value);

// "The raster\nPATH\nband K cannot be loaded: WHY."
std::string RasterRefusal(const std::string& path, int rasterBand, const std::string& why);
// Refuses a stretch whose minimum is not below its maximum.
Status CheckStretch(const std::string& path, int rasterBand, StretchRange range);

// The number of bands of a raster; refused with a text naming the file when GDAL cannot open it.
Result<int> CountRasterBands(const std::string& path);

// The bands chosen of a raster of `bandCount` bands, typed as numbers and ranges ("1,3,5-8"):
// 2 to 10 bands, each from 1 to bandCount, in the order typed; refused with a "CAUTION" text.
Result<std::vector<int>> ParseBandList(const std::string& text, int bandCount);

// One band of a raster, open. Reads are serialised: a GDAL dataset serves one thread at a time.
class RasterSource {
  public:
    ~RasterSource();
    RasterSource(const RasterSource&) = delete;
    RasterSource& operator=(const RasterSource&) = delete;

    // Band `rasterBand` (1 = the first) of the file; refused when GDAL cannot open the file or
    // the file has no such band.
    static Result<std::shared_ptr<RasterSource>> Open(const std::string& path, int rasterBand);

    ImageSize Size() const { return size_; }
    int Band() const { return rasterBand_; }
    bool IsByte() const { return isByte_; }
    const std::string& DataType() const { return dataType_; }
    // The value that marks pixels without data: the file's own until another is set (none
    // for a file that declares none). Set it before ChooseStretch.
    const std::optional<double>& Nodata() const { return nodata_; }
    void SetNodata(std::optional<double> value) { nodata_ = value; }
    // Where the band lies on the map; none for a file without a geotransform.
    const std::optional<Georeference>& Georef() const { return georeference_; }

    // For a band of another type than 8 bits: `given`, when there is one (refused unless
    // minimum < maximum), else the band's own minimum and maximum over its pixels with data,
    // found by reading it through strip by strip (refused when every such pixel holds one
    // value, or there is none). 8-bit bands are not stretched.
    Status ChooseStretch(const std::optional<StretchRange>& given);
    const std::optional<StretchRange>& Stretch() const { return stretch_; }

    // Lines first..first + count - 1 as gray levels, count x columns bytes; 0 where GDAL fails
    // to read them. With `nodata`, also 1 there for every pixel without data, else 0.
    void ReadLines(int first, int count, uint8_t* lines, uint8_t* nodata = nullptr) const;

  private:
    RasterSource() = default;
    bool ReadNative(int first, int count, double* values) const;
    bool IsNodata(double value) const;

    struct Handles;
    std::unique_ptr<Handles> handles_;
    std::string path_;
    int rasterBand_ = 1;
    ImageSize size_;
    bool isByte_ = true;
    std::string dataType_;
    std::optional<StretchRange> stretch_;
    std::optional<double> nodata_;
    std::optional<Georeference> georeference_;
};

// How two georeferences differ ("their pixel grids differ", "their coordinate systems
// differ"); empty when they agree. Transforms agree within a millionth of a pixel.
std::string GeoreferenceDifference(const Georeference& first, const Georeference& second);

// Why a band whose every pixel is without data is refused.
std::string AllNodataReason(double nodata);

// nodata[i] = 1 where gray[i] is `value`, else 0; a value that is no gray level 0..255 (or
// none) marks nothing.
void MarkGrayNodata(const uint8_t* gray, size_t count, const std::optional<double>& value,
                    uint8_t* nodata);

}  // namespace tessera
