#pragma once
// The loading rule of a band set, the same for every front end: which reader a band's file
// goes to, the checks in their order (descriptor, size, the file opens, the same size as the
// bands accepted before it, the same place on the map, memory) and the texts that refuse a
// band. It keeps what the later checks compare with: the size, the file and the place of every
// band accepted since the set began.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "bands/bandfacts.h"
#include "bands/bandfiles.h"
#include "bands/bandgrid.h"
#include "bands/bandreader.h"
#include "support/progress.h"
#include "support/status.h"

namespace tessera {

// How a band's file is loaded.
struct BandLoadOptions {
    // Asked for the size of a raw file that has no descriptor; nothing means no answer. Left
    // empty, such a file is refused.
    std::function<std::optional<ImageSize>()> askSize;
    // Refuse a band set the machine's memory cannot treat.
    bool checkMemory = true;
    // The bytes a treatment of `bandCount` bands of this size needs; left empty, what the
    // band set's owner gave (BandSet::SetMemoryNeed).
    std::function<int64_t(ImageSize size, int bandCount)> memoryNeed;
    // Told how the reading goes; may cancel it (the band then stays as it was).
    Progress* progress = nullptr;
    // A raster GDAL reads: the band of the file (1 = the first), and for a band of another type
    // than 8 bits its stretch to gray levels (none: the band's own minimum and maximum).
    int rasterBand = 1;
    std::optional<StretchRange> stretch;
    // Without a stretch: MIN and MAX at these percentiles of the band's values with data.
    std::optional<PercentileRange> percentiles;
    // A raster read as GDAL's utility cuts or resamples it (a window, another grid).
    std::optional<RasterView> rasterView;
    // Asked, once, when a raster band lies on the map in the coordinate system of a band
    // accepted before it but on another grid (another resolution or origin), with the question
    // to show (RegridQuestion): true brings it onto that band's grid by nearest neighbour, as
    // gdalwarp does, its pixels outside that band's being without data; false, or left empty,
    // refuses it as a band of another size or place. Not asked with a rasterView given.
    std::function<bool(const std::string& question)> askRegrid;
    // A raw file or bitmap read only in this window: LINE,COLUMN,LINES,COLUMNS.
    std::optional<std::array<int64_t, 4>> window;
    // The band's physical values in place of the file's own scale and offset.
    std::optional<Scaling> scaling;
    // The band set's masks: their pixels are without data in this band too.
    std::shared_ptr<const PixelExclusion> exclusion;
    // A band of more than 8 bits without a stretch given is left without one, for the caller
    // to find with the other bands (ChooseStretchesTogether), instead of being read through
    // for its range when it is opened.
    bool ownStretchLater = false;
    // The value that marks pixels without data, in place of the file's own (a raster's), or
    // for a raw file or bitmap, a gray level; none: the file's own, if any.
    std::optional<double> nodata;
    // Asked, for a raster band, once the file is open and checked and before a pixel is read:
    // the stretch and nodata value, shown as the options give them and the file declares them
    // (the band's type tells whether a stretch applies). Nothing means no answer: the band is
    // not loaded, and the load counts as cancelled.
    // A band that is stretched is read through for its own minimum and maximum first (told to
    // `progress`), which the question shows and which become its stretch when the answer gives
    // none and keeps the nodata value. When the question offers the choice of the band of the
    // file and the answer names another, that band is opened, checked and asked about instead.
    struct RasterQuestion {
        std::string dataType;
        bool stretched = false;
        std::optional<StretchRange> stretch;
        // Without a stretch: MIN and MAX at these percentiles of the band's values with data.
        std::optional<PercentileRange> percentiles;
        std::optional<double> nodata;
        // The nodata value the file declares for the band.
        std::optional<double> fileNodata;
        // The band's least and greatest value with data; none for a band that is not
        // stretched, or whose every pixel is without data.
        std::optional<double> minimum, maximum;
        // The band's values are physical values (minimum and maximum are in them).
        std::optional<Scaling> scaling;
        // A value the band holds (minimum, maximum) as the report writes it: HeldValueText.
        std::string ValueText(double value) const;
        // The band of the file asked about (1 = the first), or the one the answer chooses.
        int rasterBand = 1;
        // The bands of the file the answer may choose among (1..bandsInFile); 0: the band is
        // not the answer's to choose, and its rasterBand is not looked at.
        int bandsInFile = 0;
    };
    std::function<std::optional<RasterQuestion>(const RasterQuestion& proposed)> askRaster;
    // The raster question offers the choice of the band of the file.
    bool askRasterBand = false;
    // A stretched raster band read through for the question keeps the values it decodes, for
    // a caller that reads the whole band right after (ReadAll): each tile is decoded once. They
    // go with the band's reader.
    bool keepDecoded = false;
};

// The reader a file takes when it was chosen as `chosen`: the file's own first bytes decide
// where they say plainly what it is, so that a GeoTIFF picked as a raw image is not read as
// bytes (nor given a descriptor), and a raw image with its descriptor picked as a raster is
// read as raw. Otherwise `chosen`.
BandFileType ReaderFor(const std::string& path, BandFileType chosen);
// What a file's first bytes say it is, for messages ("a TIFF file"); empty when they say nothing.
std::string FileKindText(const std::string& path);

// The question that asks whether band `band` of `path`, of this size and place, is brought onto
// the grid of band `gridBand`, of that size and place.
std::string RegridQuestion(int band, const std::string& path, ImageSize size,
                           const Georeference& place, int gridBand, ImageSize gridSize,
                           const Georeference& gridPlace);

class BandSet {
  public:
    // The start of an open sequence of `bandCount` bands: bands accepted from now on must
    // share one size and one place.
    void Begin(int bandCount);
    int Count() const { return count_; }
    // The bytes a treatment of `bandCount` bands of `size` needs, for the memory check.
    void SetMemoryNeed(std::function<int64_t(ImageSize size, int bandCount)> need) {
        memoryNeed_ = std::move(need);
    }

    // Every check of a band's loading, in order, without reading a pixel: the band's file, open
    // for reading, or the "CAUTION" text that names it. Writes the descriptor of a size asked
    // for once the band is accepted; changes nothing else.
    Result<BandReader> Open(int band, const std::string& path, BandFileType type,
                            const BandLoadOptions& options) const;
    // Band `band` is taken: later bands are compared with its size, file and place.
    void Accept(int band, const std::string& path, ImageSize size,
                std::optional<Georeference> place);
    // The size of band `band` accepted since Begin (0 x 0: none).
    ImageSize SizeOf(int band) const { return Valid(band) ? bands_[band].size : ImageSize{}; }

    // Refuses a band whose size differs from a band accepted earlier in this sequence.
    Status CheckBandSize(int band, const std::string& path, ImageSize size) const;
    // Refuses a band whose place differs from that of a band accepted earlier that lies on
    // the map, naming both.
    Status CheckGeoreference(int band, const std::string& path,
                             const std::optional<Georeference>& place) const;
    // Refuses, with a "CAUTION" text, a band set of Count() bands of this size whose treatment
    // needs `neededBytes`, more than the machine has (`physicalBytes`, 0: ask the system)
    // can give it: refused at the start rather than failing half-way or swapping.
    Status CheckMemoryNeed(const std::string& path, ImageSize size, int64_t neededBytes,
                           int64_t physicalBytes = 0) const;

    // The band accepted before whose grid band `band`, lying at `place`, can be brought onto
    // (CanBringOntoGrid); 0: none.
    int GridToBringOnto(int band, const std::optional<Georeference>& place) const;

  private:
    static bool Valid(int band) { return band >= 1 && band <= kMaximumJobBands; }
    struct Accepted {
        ImageSize size;  // 0 x 0: not accepted in this sequence
        std::string path;
        std::optional<Georeference> place;
    };
    int count_ = 0;
    std::array<Accepted, kMaximumJobBands + 1> bands_{};
    std::function<int64_t(ImageSize, int)> memoryNeed_;
};

// A mask band opened for a band set of this grid (PlanOntoGrid for the bands' size and place, or
// the plan of a window or grid): a raster of another grid or a window of its own is read onto
// the bands' grid by nearest neighbour, and its values are read as stored, whatever scale its
// file declares. Refused when it does not then lie on the bands' grid.
Result<BandReader> OpenMaskBand(const std::string& path, BandFileType type, int rasterBand,
                                ImageSize size, const std::optional<Georeference>& place,
                                const GridPlan& plan);

}  // namespace tessera
