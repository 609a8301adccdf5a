#pragma once
// What travels with the class GeoTIFF so that a GIS can say what each class is: the legend
// beside it (STEM.tif.aux.xml, GDAL's own side file: a name per class and a raster attribute
// table), a QGIS style (STEM.qml) with the same labels and colours, and the treatment in the
// GeoTIFF's metadata. Every number comes from the class table the CSV is written from.
#include <optional>
#include <string>
#include <vector>

#include "bands/pixelmask.h"
#include "crossing/crossing.h"
#include "crossing/mapresult.h"
#include "image/grayimage.h"
#include "segmentation/bandrecord.h"
#include "support/safefile.h"
#include "support/status.h"

namespace tessera {

// The names of the files beside STEM.tif: STEM + suffix.
inline constexpr const char* kLegendSuffix = ".tif.aux.xml";
inline constexpr const char* kStyleSuffix = ".qml";

// Text for an XML element or attribute: & < > and " as entities.
std::string XmlEscaped(const std::string& text);

// A field of a raster attribute table, with GDAL's type and usage numbers (gdal.h:
// GDALRATFieldType: 0 integer, 1 real, 2 string; GDALRATFieldUsage: 0 generic, 1 pixel count,
// 2 name, 5 min-max, 6..8 red, green, blue).
struct LegendField {
    std::string name;
    int type = 0;
    int usage = 0;
};
// GDAL's side file of a paletted raster: a name for every value from 0 on (`names`, empty for
// none), then a thematic raster attribute table of these fields and rows of cells.
std::string PamLegendText(const std::vector<std::string>& names,
                          const std::vector<LegendField>& fields,
                          const std::vector<std::vector<std::string>>& rows);

// A class's label: its number, then per band its segment and the native values the segment
// holds, both ends included: "3: b1 s2 [1495, 2794] · b2 s1 (-inf, 1494]". Natives are written
// with six significant digits at most; "(no value)" for a segment that holds none.
std::string ClassLabel(const ClassRow& row);

// STEM.tif.aux.xml: for band 1, a category name per class value (0 and values without a class
// unnamed) and a thematic raster attribute table, one row per class: Value, Count, Red, Green,
// Blue, Label, Code, per band bB_segment, bB_native_min, bB_native_max, then area_UNIT and
// percent_of_data_pixels (nan where the class table's cell is empty).
// `colours` by class value: 256 entries, or 0..K for 16-bit classes.
std::string ClassRasterLegend(const ClassTable& classes, const std::vector<ColourEntry>& colours);

// STEM.qml: a paletted renderer of band 1 with one entry per class, the same labels and
// colours, and the pixels in no class (255) transparent.
// Past kPalettedStyleClasses classes (16-bit maps only) the style is a pseudocolour renderer
// whose ramp is interpolated through kStyleRampStops classes spread evenly over 1..K, each with
// its colour and label, and 65535 transparent: a style of an entry a class (paletted, or an
// exact pseudocolour ramp) grows with the classes, up to 65534 entries, which QGIS reads and
// lists whenever the layer is loaded (bench/qgis_load.py); the ramp stays at 256. The legend
// beside the GeoTIFF still names every class.
inline constexpr int kPalettedStyleClasses = 10000;
inline constexpr int kStyleRampStops = 256;
std::string ClassRasterStyle(const ClassTable& classes, const std::vector<ColourEntry>& colours);
inline std::string ClassRasterLegend(const ClassTable& classes, const ColourTable& colours) {
    return ClassRasterLegend(classes, std::vector<ColourEntry>(colours.begin(), colours.end()));
}
inline std::string ClassRasterStyle(const ClassTable& classes, const ColourTable& colours) {
    return ClassRasterStyle(classes, std::vector<ColourEntry>(colours.begin(), colours.end()));
}

// The treatment as metadata items of the class GeoTIFF: the program that made it
// (TIFFTAG_SOFTWARE), the band count, per band its file, method, segments with their gray
// limits, stretch and nodata value, the masks of the band set (when it has any: their count,
// and per mask its file and raster band and its rule), the selection rule (when known) and the
// class count.
RasterMetadata TreatmentMetadata(const std::string& program, const std::vector<BandRecord>& records,
                                 const std::optional<CodeSelection>& selection, int classCount,
                                 const std::vector<MaskDescription>& masks = {});

// The side files of one save, staged as every saved file is (safefile.h): made whole under
// temporary names, then put in place with the other files of the save (AddTo). Those not asked
// for are not written; a save of the GeoTIFF without its style removes an earlier STEM.qml,
// which would describe other classes.
class MapSideFiles {
  public:
    struct Wanted {
        bool table = true;   // STEM.csv
        bool legend = true;  // STEM.tif.aux.xml (with the GeoTIFF)
        bool style = true;   // STEM.qml
    };
    MapSideFiles(const std::string& stem, const ClassTable& classes,
                 const std::vector<ColourEntry>& colours, Wanted wanted);
    ~MapSideFiles();
    MapSideFiles(const MapSideFiles&) = delete;
    MapSideFiles& operator=(const MapSideFiles&) = delete;

    // Adds the files to `set` (STEM.csv, STEM.tif.aux.xml, STEM.qml, in that order, each that
    // could not be written as failed), with the removal of an earlier STEM.qml when the
    // GeoTIFF goes without its style.
    void AddTo(FileSet& set);

  private:
    struct Staged;
    std::string stem_;
    Wanted wanted_;
    std::vector<std::unique_ptr<Staged>> staged_;
};

}  // namespace tessera
