#pragma once
// Bands of the rasters GDAL reads (GeoTIFF and the rest): the file held open and the facts of
// one band of it, read a strip at a time, native values of other types than 8 bits stretched to
// gray levels. The reads of windows (one band's or several decoded together) are defined in
// decodedgroup.cpp, which calls into this file and never the other way; choosing the
// stretch is stretchchoice.h's (with the steps of one band declared here); the gray-level
// tables of kept values are graytable.h's.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bands/bandfacts.h"
#include "bands/gdalsupport.h"
#include "bands/graytable.h"
#include "bands/keptvalues.h"
#include "bands/percentiles.h"
#include "bands/percentilestretch.h"
#include "bands/stretch.h"
#include "image/rawfiles.h"
#include "support/progress.h"
#include "support/status.h"

namespace tessera {

// The least and greatest value of a band's pixels with data; low > high when it has none.
struct ValueRange {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    bool Empty() const { return !(low <= high); }
};

// "The raster\nPATH\nband K cannot be loaded: WHY."
std::string RasterRefusal(const std::string& path, int rasterBand, const std::string& why);
// Refuses a stretch whose minimum is not below its maximum.
Status CheckStretch(const std::string& path, int rasterBand, StretchRange range);

// The number of bands of a raster; refused with a text naming the file when GDAL cannot open it.
Result<int> CountRasterBands(const std::string& path);

// The bands chosen of a raster of `bandCount` bands, typed as numbers and ranges ("1,3,5-8"):
// 2 to 10 bands, each from 1 to bandCount, in the order typed; refused with a "CAUTION" text.
Result<std::vector<int>> ParseBandList(const std::string& text, int bandCount);

// The pixels of the band set's grid that are without data whatever the bands hold there (a
// cloud mask): masked[i] = 1 for such a pixel of lines first..first + count - 1, columns
// x0..x0 + width - 1 (width bytes a line), else 0. Safe to call from several threads at once.
class PixelExclusion {
  public:
    virtual ~PixelExclusion() = default;
    virtual Status Mark(int first, int count, int x0, int width, uint8_t* masked) const = 0;
};
// kMaskedMark on every pixel of such a window that `exclusion` masks and that carries no other
// mark; `marks` holds count lines of width marks.
Status MarkExcluded(const PixelExclusion& exclusion, int first, int count, int x0, int width,
                    uint8_t* marks);

// A raster as one of GDAL's utilities makes it of the file, read through a VRT that GDAL
// writes in memory: gdal_translate's arguments (a window: -srcwin or -projwin) or gdalwarp's
// (-te, -tr and -r near: another grid). A warped band marks the pixels of the grid that it
// does not cover as without data.
struct RasterView {
    enum class Tool { Translate, Warp };
    Tool tool = Tool::Translate;
    std::vector<std::string> arguments;
};

// One band of a raster, open. The bands of one file share its dataset, so that a tile of a
// pixel-interleaved file is decoded once for all of them. Reads are serialised per file: a GDAL
// dataset serves one thread at a time.
class RasterSource {
  public:
    ~RasterSource();
    RasterSource(const RasterSource&) = delete;
    RasterSource& operator=(const RasterSource&) = delete;

    // Band `rasterBand` (1 = the first) of the file; refused when GDAL cannot open the file or
    // the file has no such band.
    static Result<std::shared_ptr<RasterSource>> Open(const std::string& path, int rasterBand,
                                                      const RasterView* view = nullptr);

    ImageSize Size() const { return size_; }
    int Band() const { return rasterBand_; }
    // 8-bit unsigned: read as gray levels, not stretched.
    bool IsByte() const { return isByte_; }
    // Float32 or Float64: NaN and infinite values are pixels without data.
    bool IsFloating() const { return isFloating_; }
    const std::string& DataType() const { return dataType_; }
    // The value that marks pixels without data: the file's own until another is set (none
    // for a file that declares none), cast as NodataOfType casts it. Set it before ChooseStretch.
    const std::optional<double>& Nodata() const { return nodata_; }
    void SetNodata(std::optional<double> value);
    // The nodata value the file declares for the band, whatever SetNodata set since.
    const std::optional<double>& FileNodata() const { return fileNodata_; }
    // The number of bands of the file.
    int FileBands() const { return fileBands_; }
    // The bytes of one row of the file's blocks for this band (the cache a strip read needs);
    // for a pixel-interleaved file, of every band of the file, which one decode fills.
    int64_t BlockRowBytes() const;
    // A pixel-interleaved file: one decode fills the blocks of all its bands.
    bool SharesBlocks() const { return sharesBlocks_; }
    bool SameFile(const RasterSource& other) const { return handles_ == other.handles_; }
    // Where the band lies on the map; none for a file without a geotransform.
    const std::optional<Georeference>& Georef() const { return georeference_; }
    // Pixels left without data whatever the band holds: marked kMaskedMark, and out of the
    // band's own range. Set before ChooseStretch.
    void SetExclusion(std::shared_ptr<const PixelExclusion> exclusion) {
        exclusion_ = std::move(exclusion);
    }
    bool HasExclusion() const { return exclusion_ != nullptr; }
    // Pixels without data of their own (marked kNodataMark): the grid's pixels a band brought
    // onto another grid does not cover.
    bool Excludes() const { return exclusion_ != nullptr || coverage_ != nullptr; }
    // ----- a window's stored values, which the tasks of a cluster keep between reads -----
    // The band holds whole numbers of 16 bits (Int16 or UInt16): a window of it is kept as
    // stored, 2 bytes a pixel, and brought to gray levels through a table.
    bool StoresSixteenBits() const;
    // Lines first..first + count - 1 as stored (count x columns values in the machine's order),
    // every block decoded once; refused as ReadLines refuses lines that cannot be read.
    Status ReadStored(int first, int count, uint8_t* stored) const;
    // Of such lines: the least and greatest (physical) value with data, folded into low and high
    // as FindRange folds them; and their gray levels and marks (may be null), as ReadLines
    // gives them.
    Status FoldStoredRange(int first, int count, const uint8_t* stored, double& low,
                           double& high) const;
    Status GrayOfStored(int first, int count, const uint8_t* stored, uint8_t* lines,
                        uint8_t* marks) const;
    // Native values of columns x0..x0 + width - 1 of lines first..first + count - 1, a line
    // after another; refused as ReadLines refuses lines that cannot be read.
    Status ReadValues(int first, int count, int x0, int width, double* values) const;

    // Lines first..first + count - 1 as gray levels, count x columns bytes. With `nodata`, also
    // a mark there for every pixel: 0 with data, kNodataMark holding the nodata value,
    // kNonFiniteMark NaN or infinite. Refused, naming the file, the band and the first line
    // that cannot be read, when GDAL fails to read them.
    Status ReadLines(int first, int count, uint8_t* lines, uint8_t* nodata = nullptr) const;

    // The band's physical values (stored value x scale + offset) in place of its stored ones:
    // the file's own scale and offset until others are set (none: the stored values). Every
    // value read, the stretch and the range are then physical; the nodata value stays a stored
    // value. 8-bit bands, read as gray levels, have none. Set before ChooseStretch.
    void SetScaling(std::optional<Scaling> scaling) { scaling_ = isByte_ ? std::nullopt : scaling; }
    const std::optional<Scaling>& Scaled() const { return scaling_; }

    // The stretch of a band of more than 8 bits, chosen (stretchchoice.cpp). ChooseStretch:
    // for a band of another type than 8 bits: `given`, when there is one (refused unless
    // minimum < maximum), else the band's own minimum and maximum over its pixels with data,
    // found by reading it through strip by strip (refused when every such pixel holds one
    // value, or there is none). 8-bit bands are not stretched.
    Status ChooseStretch(const std::optional<StretchRange>& given);
    // The band's least and greatest value with data (neither the nodata value nor NaN or
    // infinite), read through a strip at a time with `progress` told after each strip
    // (kStageRange); TakeOwnRange makes it the stretch without reading the band again. Refused
    // as ReadLines refuses a strip that cannot be read; cancelled when the progress says so.
    Result<ValueRange> FindRange(Progress& progress = NoProgress()) const;
    const std::optional<StretchRange>& Stretch() const { return stretch_; }
    // A band of more than 8 bits whose stretch is still to be found (ChooseStretch not called)
    // from its own least and greatest values.
    bool NeedsStretch() const { return !isByte_ && !stretch_ && !percentiles_; }
    // A stretch from two percentiles of the band's values with data instead of its least and
    // greatest; set before ChooseStretch, which then finds them (a few passes through the
    // band) unless a stretch is given.
    void SetPercentiles(std::optional<PercentileRange> percentiles) { percentiles_ = percentiles; }
    const std::optional<PercentileRange>& Percentiles() const { return percentiles_; }
    // The same search in steps, for passes shared out among processes: a finder for the band's
    // values (NewPercentileFinder); each pass counts every window of lines into a copy of it
    // (CountPercentileLines) and the copies are merged; after the first pass
    // RankPercentileFinder picks the ranks (refused when no pixel has data), after each later
    // one RankFinder::EndPass; once it is done, TakePercentilesFound makes the stretch.
    RankFinder NewPercentileFinder() const;
    Status CountPercentileLines(RankFinder& finder, int first, int count) const;
    Status RankPercentileFinder(RankFinder& finder) const;
    Status TakePercentilesFound(const RankFinder& finder);
    // The band's own range, low..high over its pixels with data, as its stretch; refused when
    // there is none (no pixel with data) or it is one value.
    Status TakeOwnRange(double low, double high);

    // The lines of each of its rows of blocks (1 for a file stored line by line).
    int BlockLines() const { return blockLines_; }
    // Columns a window read of DecodedGroup::ReadRows takes: whole blocks, a few of them.
    int WindowColumns() const;
    // From now on every block of the band decoded is kept (KeptValues), and the later reads
    // of it take their values from there: a compressed tile is decoded once for all the passes.
    // The blocks of the pixels a warped view covers are kept likewise.
    void KeepDecoded(std::shared_ptr<KeptValues> kept, std::shared_ptr<KeptValues> coverage);
    bool KeepsValues() const { return kept_ != nullptr; }
    // Stops keeping: what was kept (and the kept blocks of its coverage) is handed back, for the
    // caller to let go where it likes.
    std::vector<std::shared_ptr<KeptValues>> DropKept();
    // The band's stretch is its last: its blocks of 16-bit values kept in memory become its gray
    // levels and marks from now on, as they are read through (or by KeepRowAsGray), so that
    // each value is brought to gray once and half the memory is given back. False where they
    // do not (see KeptValues::KeepGrayLevels).
    bool KeepGrayLevels();
    // The kept blocks of block row `row` made gray levels now (after KeepGrayLevels), those
    // not kept decoded first (by worker `worker` of threads doing so at once); the number of
    // such rows (0 when nothing is kept).
    void KeepRowAsGray(int row, int worker = 0) const;
    int KeptBlockRows() const { return kept_ ? kept_->BlockRows() : 0; }
    // The memory of values become gray levels that no band has taken again, back to the system
    // (for every band that keeps its values with this one); with `later`, that of values
    // become gray levels from now on too, until TrimKept(false).
    void TrimKept(bool later = false);
    // Once every kept block is gray levels of the band's stretch, and nothing but the band's
    // values leaves its pixels without data: the histogram of its pixels with data, and its
    // pixels without (`nonFinite` of them NaN or infinite), counted as the blocks became gray
    // levels. False otherwise (the band is then read through for them).
    bool KeptStatistics(Histogram& histogram, int64_t& withoutData, int64_t& nonFinite) const;
    // How many pixels with data hold each value, for a band of whole numbers of at most 16 bits
    // read without a scale: counts[value - lowest], 65,536 entries (256 for 8 bits). Refused,
    // naming the band, for another band, or as ReadLines refuses a strip.
    // Lines first..first + count - 1 only, when count >= 0.
    Status CountValues(std::vector<int64_t>& counts, int64_t& lowest, int first = 0,
                       int count = -1) const;
    // Every value of the band is kept, in a kind that strips are made of through a table: they
    // are read from what is kept a strip at a time, as from a raw file.
    bool ReadsFromKept() const;
    // What keeping the band whole takes: its own blocks, and those of its coverage.
    int64_t KeptBytes() const;
    int64_t CoverageKeptBytes() const;
    // KeepDecoded for each source: in memory while their blocks fit in `memoryBytes` in all,
    // the rest in temporary files in `spillFolder` (none there: not kept). A band whose file
    // cannot be made is read as before.
    static void KeepDecodedValues(const std::vector<RasterSource*>& sources, int64_t memoryBytes,
                                  const std::string& spillFolder);
    // After KeepDecodedValues, for sources whose ranges are read one after another in this
    // order: each keeps as values, in memory, no more than the gray levels (or 8-bit values)
    // of every source take, less those of the sources read before it; its blocks beyond that
    // are decoded again once its range is known. So reading the ranges takes no more memory
    // than what is kept once they are known. Not for bands of a pixel-interleaved file (one
    // decode serves them all), nor where a band's percentiles are still to be found.
    static void KeepValuesWithinGrayLevels(const std::vector<RasterSource*>& sources);
    // Whether GDAL decodes the band's blocks straight into what is kept, bypassing its block
    // cache (kept values stored in a type of their own and in blocks as the file's).
    bool KeepsBlocksAsDecoded() const;

  private:
    friend class DecodedGroup;
    friend Status ChoosePercentileStretches(const std::vector<RasterSource*>& sources);
    friend Status ChooseStretchesTogether(const std::vector<RasterSource*>& sources, int threads);

    RasterSource() = default;
    struct Handles;
    // The steps of Open: the VRT a view is read through (its path), the dataset of what is
    // opened (shared with the other bands of it open), and the band's facts read from it.
    static Result<std::string> MakeView(const std::string& path, int rasterBand,
                                        const RasterView& view);
    static Result<std::shared_ptr<Handles>> SharedHandles(const std::string& path, int rasterBand,
                                                          const std::string& opened, bool view);
    Status ReadFacts(int count, bool warped, const std::string& opened);
    // The dataset worker `worker` of threads reading at once reads through: its own, or the
    // shared one, then held by `lock`.
    void* DatasetFor(int worker, std::unique_lock<std::mutex>& lock) const;
    // How the band's native values become gray levels now (its stretch and nodata value), and
    // what tells that from another way.
    GrayConversion ConversionToGray() const;
    GrayKey KeyOfGray() const;
    // The least and greatest physical value with data among the values of a type of at most
    // 16 bits marked in seen[value - lowest] (lowest the type's least), folded into low and high.
    void FoldOccurring(const std::vector<uint8_t>& seen, double& low, double& high) const;
    // Native values to gray levels and marks, as ReadLines gives them.
    void ToGray(const double* values, size_t cells, uint8_t* lines, uint8_t* nodata) const;
    bool ReadNative(int first, int count, double* values) const;
    Status ReadFailure(int first, int count) const;
    bool IsNodata(double value) const;
    // The nodata value as values are read: physical for a scaled band.
    std::optional<double> NodataAsRead() const;

    std::shared_ptr<Handles> handles_;  // the file's dataset, shared with its other bands
    void* band_ = nullptr;              // this band of it (GDALRasterBandH)
    std::string path_;
    int rasterBand_ = 1;
    ImageSize size_;
    bool isByte_ = true;
    bool isFloating_ = false;
    bool isSignedByte_ = false;  // 8-bit values stored as signed (PIXELTYPE=SIGNEDBYTE)
    int blockLines_ = 1;
    int blockColumns_ = 1;
    int64_t blockRowBytes_ = 0;
    bool sharesBlocks_ = false;
    int fileBands_ = 1;
    std::string dataType_;
    std::optional<StretchRange> stretch_;
    std::optional<double> nodata_;
    std::optional<double> fileNodata_;
    std::optional<Georeference> georeference_;
    std::shared_ptr<const PixelExclusion> exclusion_;
    std::optional<PercentileRange> percentiles_;
    std::optional<Scaling> scaling_;
    Status TakePercentileStretch();
    PercentileBand PercentileBandOf() const;
    void Scale(double* values, size_t count) const;
    // Lines first..first + count - 1 as GDAL reads them as bytes (an 8-bit band, or one without
    // its stretch yet); false when GDAL cannot.
    bool ReadBytes(int first, int count, uint8_t* lines) const;
    // The marks the coverage and the masks give a window's pixels (kNodataMark, kMaskedMark),
    // in `flags` (none when neither is set); MarkExclusions puts them where marks holds 0.
    Status Excluded(int first, int count, int x0, int width, std::vector<uint8_t>& flags) const;
    Status MarkExclusions(int first, int count, int x0, int width, uint8_t* marks) const;
    std::shared_ptr<const PixelExclusion> coverage_;
    std::shared_ptr<RasterSource> coverageSource_;  // the alpha band behind coverage_
    std::shared_ptr<KeptValues> kept_;
    // The gray level and mark of every value a band of at most 16 bits can store, by ToGray.
    std::shared_ptr<const GrayTable> TableOfGray() const;
    GrayTableCache grayTables_;
    std::string ValueType() const { return scaling_ ? "Float64" : dataType_; }
};

// How two georeferences differ ("their pixel grids differ", "their coordinate systems
// differ"); empty when they agree. Transforms agree within a millionth of a pixel.
std::string GeoreferenceDifference(const Georeference& first, const Georeference& second);

// nodata[i] = 1 where gray[i] is `value`, else 0; a value that is no gray level 0..255 (or
// none) marks nothing.
void MarkGrayNodata(const uint8_t* gray, size_t count, const std::optional<double>& value,
                    uint8_t* nodata);

}  // namespace tessera
