#pragma once
// The result put back on the map, for bands that carry a georeference: the class raster as a
// cloud-optimised GeoTIFF (class colours as its colour table, 255 declared as nodata and
// transparent, the bands' place, the treatment in its metadata) and the class table as CSV,
// one row per class, with areas on the map (see CellAreas). maplegend.h makes the legend files
// that go beside the GeoTIFF from the same table.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crossing/codetable.h"
#include "crossing/mapareas.h"
#include "image/grayimage.h"
#include "image/rawfiles.h"
#include "segmentation/bandrecord.h"
#include "support/progress.h"

namespace tessera {

// The place every band shares, when every band 1..n of `records` carries one (the loading
// rule has refused bands that disagree); none when one of them carries none.
std::optional<Georeference> SharedGeoreference(const std::vector<BandRecord>& records);

// Items of a raster's GDAL metadata (its default domain), name and value, in order.
using RasterMetadata = std::vector<std::pair<std::string, std::string>>;

// The layout of the class GeoTIFF: tiles of 512 x 512, DEFLATE, overviews halving the larger
// side until it is at most one tile, their pixels the most frequent class of the pixels they
// cover (never an average of class numbers).
inline constexpr int kClassTileSize = 512;

// A class raster written as a cloud-optimised GeoTIFF, whole or a few lines at a time in any
// order. The lines go to an uncompressed striped GeoTIFF beside `path` (a temporary, recorded
// for removal on an interrupt); Close() gives it its overviews and copies it, tiled and
// compressed, to `path`, with GDAL's block cache bounded to a few rows of tiles. The bytes
// written depend only on the pixels, the colours, the place and the metadata.
class ClassGeoTiff {
  public:
    ClassGeoTiff();
    ~ClassGeoTiff();
    ClassGeoTiff(const ClassGeoTiff&) = delete;
    ClassGeoTiff& operator=(const ClassGeoTiff&) = delete;

    // Creates the file at `path` (written there, whatever its name); false when GDAL cannot.
    bool Create(const std::string& path, ImageSize size, const ColourTable& colours,
                const Georeference& place, const RasterMetadata& metadata = {});
    // The same for 16-bit classes 0..K of `colours` (K + 1 entries), 65535 declared as nodata;
    // their overviews are GDAL's mode.
    bool CreateWide(const std::string& path, ImageSize size,
                    const std::vector<ColourEntry>& colours, const Georeference& place,
                    const RasterMetadata& metadata = {});
    // Lines first..first + count - 1 of class values, `stride` bytes apart; thread-safe. False
    // when this or an earlier write failed.
    bool WriteLines(int first, int count, const uint8_t* lines, size_t stride);
    bool WriteLines(int first, int count, const uint16_t* lines, size_t stride);
    // The threads that compress the tiles when the file is closed (1 at first): the bytes are
    // the same for any number of them.
    void SetThreads(int threads);
    // Ends the file; false when any step of it failed (the file is then not to be kept).
    // `progress` is told of the overviews (kStageOverviews) and the copy (kStageGeoTiffCopy) and
    // may cancel either: false then, and Cancelled() says so.
    bool Close(Progress* progress = nullptr);
    bool Cancelled() const;
    // Gives the file up unfinished: nothing is computed or copied (also when it dies unclosed).
    void Abandon();

  private:
    bool Create(const std::string& path, ImageSize size, const std::vector<ColourEntry>& colours,
                bool wide, const Georeference& place, const RasterMetadata& metadata);
    struct Handles;
    std::unique_ptr<Handles> handles_;
};

// The class raster `classes` (lines x columns, top line first) as a GeoTIFF at `path`.
bool WriteClassGeoTiff(const std::string& path, ImageSize size, const uint8_t* classes,
                       const ColourTable& colours, const Georeference& place,
                       const RasterMetadata& metadata = {});

// One class of the class table, every number as the CSV writes it.
struct ClassRow {
    int classValue = 0;  // k: the class's value in the class raster
    int code = 0;
    struct Band {
        int segment = 0;  // 0 when the code has no such segment
        int64_t grayMin = 0, grayMax = 0;
        // The native values the segment holds, both ends included: "-inf" or "inf" at an end
        // open beyond the stretch; both empty when it holds no value.
        std::string nativeMin, nativeMax;
    };
    std::vector<Band> bands;  // band b at b - 1
    int64_t pixels = 0;
    std::string area;     // empty where no area is known
    std::string percent;  // of the pixels with data in every band, four decimals
};

// The class table: per class its number, code, per band the segment with its gray and native
// limits, the pixel count, the area gathered from the class raster and the share of the
// pixels with data in every band. The CSV, the legend and the attribute table beside the
// class GeoTIFF are all written from it.
struct ClassTable {
    int bandCount = 0;
    std::string areaUnit;        // as CellAreas::Unit() names it
    std::vector<ClassRow> rows;  // class 1 first
};

// `areas` gathered from the class raster: class k of the table is class value k.
ClassTable MakeClassTable(ImageSize size, const std::vector<BandRecord>& records,
                          const CodeTable& table, const std::vector<int64_t>& pixelCount,
                          const std::vector<int32_t>& selectedCodes,
                          std::optional<int64_t> nodataPixels, const ClassAreas& areas);

// The same for a whole class raster (lines x columns, top line first) lying on `place`: its
// areas gathered from it.
ClassTable MakeClassTable(ImageSize size, const std::vector<BandRecord>& records,
                          const CodeTable& table, const std::vector<int64_t>& pixelCount,
                          const std::vector<int32_t>& selectedCodes,
                          std::optional<int64_t> nodataPixels, const uint8_t* classes,
                          const Georeference& place);

// The class table as CSV: a header line, then one line per class.
std::string ClassTableCsv(const ClassTable& classes);
std::string ClassTableCsv(ImageSize size, const std::vector<BandRecord>& records,
                          const CodeTable& table, const std::vector<int64_t>& pixelCount,
                          const std::vector<int32_t>& selectedCodes,
                          std::optional<int64_t> nodataPixels, const ClassAreas& areas);

}  // namespace tessera
