#pragma once
// A band's file held open for reading its lines, a few at a time or all at once: the batch
// tool streams each band through memory strip by strip, the interactive program reads it
// whole, and both read the same bytes the same way.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bands/bandfiles.h"
#include "bands/rasterband.h"
#include "bands/stretchchoice.h"
#include "image/matrix.h"
#include "image/rawfiles.h"
#include "support/progress.h"
#include "support/status.h"

namespace tessera {

class BandReader {
  public:
    BandReader() = default;
    ~BandReader();
    BandReader(BandReader&& other) noexcept;
    BandReader& operator=(BandReader&& other) noexcept;
    BandReader(const BandReader&) = delete;
    BandReader& operator=(const BandReader&) = delete;

    ImageSize Size() const { return size_; }
    BandFileType Type() const { return type_; }
    bool IsOpen() const { return fd_ >= 0 || raster_ != nullptr; }
    // The raster band behind this reader; none for raw files and bitmaps.
    const RasterSource* Raster() const { return raster_.get(); }
    RasterSource* MutableRaster() { return raster_.get(); }
    // A raster band's stretch to gray levels, for a band of another type than 8 bits.
    std::optional<GrayStretch> Stretch() const;
    // RasterSource::ChooseStretch for a raster band; nothing to do for the others.
    Status ChooseStretch(const std::optional<StretchRange>& given);
    // The value that marks pixels without data: a raster's own until another is set; none for
    // raw files and bitmaps until one is set (then a gray level). Set before ChooseStretch.
    std::optional<double> Nodata() const;
    void SetNodata(std::optional<double> value);
    // Where a raster band lies on the map; none for raw files, bitmaps and rasters without.
    std::optional<Georeference> Georef() const;
    // "The raw image\nPATH\ncannot be loaded: WHY." and the like for the other types.
    std::string Refusal(const std::string& why) const;

    // True when some pixel may be without data: a nodata value is set, the band holds
    // floating-point values (NaN and infinite values are without data), or a mask is set.
    bool MayLackData() const;
    // The mask of the band set: its pixels are marked kMaskedMark and left out of the band's
    // own range. Set before ChooseStretch.
    void SetExclusion(std::shared_ptr<const PixelExclusion> exclusion);
    // Reads only lines line..line + lines - 1 and columns column..column + columns - 1 of a raw
    // file or bitmap (rasters are cut by a RasterView); refused when they leave the file.
    Status Cut(int line, int column, int lines, int columns);
    // Lines first..first + count - 1 (0 = top), one after another into `lines` (count x
    // columns bytes). Bytes a short raw file does not hold are 0, as in a band loaded whole
    // from it. With `nodata`, also a mark there for each pixel (0: with data; kNodataMark,
    // kNonFiniteMark). Refused, with a text naming the file, the band and the line, when the
    // file cannot be read. Safe to call from several threads at once.
    Status ReadLines(int first, int count, uint8_t* lines, uint8_t* nodata = nullptr) const;
    // Every line, in a new matrix, read a piece at a time with `progress` told after each;
    // refused with the reader's text when memory runs out or a read fails. With `nodata`, when
    // MayLackData(), also the matrix of ReadLines's marks.
    Result<ByteMatrix> ReadAll(Progress& progress = NoProgress(),
                               ByteMatrix* nodata = nullptr) const;

    friend Result<BandReader> OpenRawBand(const std::string& path, ImageSize size);
    friend Result<BandReader> OpenBitmapBand(const std::string& path);
    friend Result<BandReader> OpenRasterBand(const std::string& path, int rasterBand,
                                             const RasterView* view);

  private:
    friend Status ChooseStretchesTogether(const std::vector<BandReader*>& readers, int threads);
    void Close();

    int fd_ = -1;
    std::string path_;
    BandFileType type_ = BandFileType::Raw;
    ImageSize size_;
    int64_t pixelOffset_ = 0;  // bitmaps: where the bottom line is stored
    int64_t stride_ = 0;       // bitmaps: bytes from one stored line to the next
    std::shared_ptr<RasterSource> raster_;  // rasters GDAL reads
    std::optional<double> nodata_;          // raw files and bitmaps
    std::shared_ptr<const PixelExclusion> exclusion_;
    ImageSize fileSize_{0, 0};  // a cut file's whole size (columns 0: not cut)
    int windowLine_ = 0, windowColumn_ = 0;
};

// BandReader::ReadLines for every reader at once (lines[i], nodata[i] for readers[i]; nodata[i]
// may be null): the bands of one pixel-interleaved raster are read together, in one read of
// their file. `turn` of `turns`: as DecodedGroup::ReadLinesTogether.
Status ReadLinesTogether(const std::vector<const BandReader*>& readers, int first, int count,
                         uint8_t* const* lines, uint8_t* const* nodata, int turn = 0,
                         int turns = 1);
// The own stretch of every raster band of `readers` that has none yet, all read through
// together strip by strip (ChooseStretchesTogether of stretchchoice.h).
Status ChooseStretchesTogether(const std::vector<BandReader*>& readers, int threads);

// Bytes of GDAL's block cache that strips read from these bands at once need: a row of blocks
// of every raster band (once per pixel-interleaved file), twice; 0 without rasters.
int64_t RasterCacheNeed(const std::vector<const BandReader*>& readers);

// A raw band of the given size, refused as LoadRawBand refuses it (an unusable size, a file
// far shorter than the size, a file that does not open or is a folder), with the same texts.
Result<BandReader> OpenRawBand(const std::string& path, ImageSize size);
// An 8-bit bitmap band, refused as LoadBitmapBand refuses it, with the same texts, from its
// header and its length alone.
Result<BandReader> OpenBitmapBand(const std::string& path);
// Band `rasterBand` of a raster GDAL reads, opened without reading a pixel: RasterSource::Open
// refuses what it refuses. ChooseStretch comes before the first read of a band of another type
// than 8 bits.
// With `view`, the band as GDAL's utility cuts or resamples it (RasterView).
Result<BandReader> OpenRasterBand(const std::string& path, int rasterBand,
                                  const RasterView* view = nullptr);

}  // namespace tessera
