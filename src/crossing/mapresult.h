#pragma once
// The result put back on the map, for bands that carry a georeference: the class raster as a
// GeoTIFF (class colours as its colour table, 255 declared as nodata, the bands' place) and
// the class table as CSV, one row per class, with areas on the map (see CellAreas).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crossing/codetable.h"
#include "crossing/mapareas.h"
#include "image/guitools.h"
#include "image/rawfiles.h"
#include "segmentation/bandrecord.h"

namespace tessera {

// The place every band shares, when every band 1..n of `records` carries one (the loading
// rule has refused bands that disagree); none when one of them carries none.
std::optional<Georeference> SharedGeoreference(const std::vector<BandRecord>& records);

// A class raster written as a GeoTIFF, whole or a few lines at a time in any order.
class ClassGeoTiff {
  public:
    ClassGeoTiff();
    ~ClassGeoTiff();
    ClassGeoTiff(const ClassGeoTiff&) = delete;
    ClassGeoTiff& operator=(const ClassGeoTiff&) = delete;

    // Creates the file at `path` (written there, whatever its name); false when GDAL cannot.
    bool Create(const std::string& path, ImageSize size, const ColourTable& colours,
                const Georeference& place);
    // Lines first..first + count - 1 of class values, `stride` bytes apart; thread-safe. False
    // when this or an earlier write failed.
    bool WriteLines(int first, int count, const uint8_t* lines, size_t stride);
    // Ends the file; false when any step of it failed (the file is then not to be kept).
    bool Close();

  private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
};

// The class raster `classes` (lines x columns, top line first) as a GeoTIFF at `path`.
bool WriteClassGeoTiff(const std::string& path, ImageSize size, const uint8_t* classes,
                       const ColourTable& colours, const Georeference& place);

// The class table: a header, then per class its number, code, per band the segment with its
// gray and native limits, the pixel count, the area `areas` gathered from the class raster
// (class k of the table is class value k; the cell is empty where no area is known) and the
// share of the pixels with data in every band.
std::string ClassTableCsv(ImageSize size, const std::vector<BandRecord>& records,
                          const CodeTable& table, const std::vector<int64_t>& pixelCount,
                          const std::vector<int32_t>& selectedCodes,
                          std::optional<int64_t> nodataPixels, const ClassAreas& areas);

}  // namespace tessera
