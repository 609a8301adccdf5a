#include "crossing/maplegend.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "bands/stretch.h"
#include "crossing/codetable.h"
#include "segmentation/thresholding.h"
#include "support/numbers.h"
#include "support/safefile.h"

namespace tessera {

std::string XmlEscaped(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                // XML 1.0 cannot hold the other control characters, even as references: a
                // file name holding one is written with U+FFFD in its place.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                    escaped += "\xEF\xBF\xBD";
                else
                    escaped += c;
        }
    }
    return escaped;
}

namespace {

// A native value of the class table as a legend shows it: six significant digits at most.
std::string LegendNumber(const std::string& text) {
    if (text == "-inf" || text == "inf") return text;
    std::string shown;
    AppendSixDigits(shown, std::strtod(text.c_str(), nullptr));
    return shown;
}

// A real cell of the attribute table: the class table's text, nan where it is empty.
std::string RealCell(const std::string& text) {
    return text.empty() ? "nan" : text;
}

std::string HexColour(const ColourEntry& colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.red, colour.green, colour.blue);
    return text;
}

const char* MethodText(int type) {
    switch (type) {
        case Segmentation:
            return "segmentation (equal-width ranges)";
        case Equipopulation:
            return "equipopulation (equal-population ranges)";
        case Definition:
            return "definition (typed limits)";
        default:
            return "";
    }
}

// GDAL's field types and usages of a raster attribute table (gdal.h: GDALRATFieldType,
// GDALRATFieldUsage), as its side file writes them.
enum FieldType { kInteger = 0, kReal = 1, kString = 2 };
enum FieldUsage {
    kGeneric = 0,
    kPixelCount = 1,
    kName = 2,
    kMinMax = 5,
    kRed = 6,
    kGreen = 7,
    kBlue = 8
};

}  // namespace

std::string ClassLabel(const ClassRow& row) {
    std::string label = std::to_string(row.classValue);
    label.push_back(':');
    for (size_t b = 0; b < row.bands.size(); ++b) {
        const ClassRow::Band& band = row.bands[b];
        if (b > 0) label.append(" \u00b7");
        label.append(" b").append(std::to_string(b + 1));
        label.append(" s").append(std::to_string(band.segment)).push_back(' ');
        if (band.nativeMin.empty() || band.nativeMax.empty()) {
            label += "(no value)";
            continue;
        }
        label += band.nativeMin == "-inf" ? "(" : "[";
        label += LegendNumber(band.nativeMin) + ", " + LegendNumber(band.nativeMax);
        label += band.nativeMax == "inf" ? ")" : "]";
    }
    return label;
}

std::string PamLegendText(const std::vector<std::string>& names,
                          const std::vector<LegendField>& fields,
                          const std::vector<std::vector<std::string>>& rows) {
    std::string text = "<PAMDataset>\n  <PAMRasterBand band=\"1\">\n    <CategoryNames>\n";
    for (const std::string& name : names)
        text += name.empty() ? "      <Category></Category>\n"
                             : "      <Category>" + XmlEscaped(name) + "</Category>\n";
    text += "    </CategoryNames>\n    <GDALRasterAttributeTable tableType=\"thematic\">\n";
    for (size_t f = 0; f < fields.size(); ++f) {
        text += "      <FieldDefn index=\"" + std::to_string(f) + "\">\n        <Name>" +
                XmlEscaped(fields[f].name) + "</Name>\n        <Type>" +
                std::to_string(fields[f].type) + "</Type>\n        <Usage>" +
                std::to_string(fields[f].usage) + "</Usage>\n      </FieldDefn>\n";
    }
    for (size_t r = 0; r < rows.size(); ++r) {
        text += "      <Row index=\"" + std::to_string(r) + "\">\n";
        for (const std::string& cell : rows[r]) text += "        <F>" + XmlEscaped(cell) + "</F>\n";
        text += "      </Row>\n";
    }
    text += "    </GDALRasterAttributeTable>\n  </PAMRasterBand>\n</PAMDataset>\n";
    return text;
}

namespace {
ColourEntry ColourOf(const std::vector<ColourEntry>& colours, int value) {
    return value >= 0 && static_cast<size_t>(value) < colours.size()
               ? colours[static_cast<size_t>(value)]
               : ColourEntry{255, 255, 255, value, 0};
}
}  // namespace

std::string ClassRasterLegend(const ClassTable& classes, const std::vector<ColourEntry>& colours) {
    std::vector<LegendField> fields{{"Value", kInteger, kMinMax}, {"Count", kInteger, kPixelCount},
                                    {"Red", kInteger, kRed},      {"Green", kInteger, kGreen},
                                    {"Blue", kInteger, kBlue},    {"Label", kString, kName},
                                    {"Code", kInteger, kGeneric}};
    for (int b = 1; b <= classes.bandCount; ++b) {
        std::string band(1, 'b');
        band += std::to_string(b);
        fields.push_back({band + "_segment", kInteger, kGeneric});
        fields.push_back({band + "_native_min", kReal, kGeneric});
        fields.push_back({band + "_native_max", kReal, kGeneric});
    }
    fields.push_back({"area_" + classes.areaUnit, kReal, kGeneric});
    fields.push_back({"percent_of_data_pixels", kReal, kGeneric});

    // Names by class value from 0: value 0 is never a class.
    std::vector<std::string> names(1);
    for (const ClassRow& row : classes.rows) {
        if (row.classValue < 1 || row.classValue > kMostClassCount) continue;
        if (names.size() <= static_cast<size_t>(row.classValue)) names.resize(row.classValue + 1);
        names[row.classValue] = ClassLabel(row);
    }
    std::vector<std::vector<std::string>> rows;
    for (const ClassRow& row : classes.rows) {
        const ColourEntry colour = ColourOf(colours, row.classValue);
        std::vector<std::string>& cells = rows.emplace_back(std::vector<std::string>{
            std::to_string(row.classValue), std::to_string(row.pixels), std::to_string(colour.red),
            std::to_string(colour.green), std::to_string(colour.blue), ClassLabel(row),
            std::to_string(row.code)});
        for (const ClassRow::Band& band : row.bands) {
            cells.push_back(std::to_string(band.segment));
            cells.push_back(RealCell(band.nativeMin));
            cells.push_back(RealCell(band.nativeMax));
        }
        cells.push_back(RealCell(row.area));
        cells.push_back(RealCell(row.percent));
    }
    return PamLegendText(names, fields, rows);
}

std::string ClassRasterStyle(const ClassTable& classes, const std::vector<ColourEntry>& colours) {
    const bool wide = classes.rows.size() > static_cast<size_t>(kMaximumClassCount);
    const bool paletted = classes.rows.size() <= static_cast<size_t>(kPalettedStyleClasses);
    const std::string none = std::to_string(wide ? NoWideClass : NoClass);
    std::string text =
        "<!DOCTYPE qgis PUBLIC 'http://mrcc.com/qgis.dtd' 'SYSTEM'>\n"
        "<qgis version=\"3.22.0\" styleCategories=\"Symbology\">\n"
        "  <pipe>\n"
        "    <provider>\n"
        "      <resampling enabled=\"false\" zoomedInResamplingMethod=\"nearestNeighbour\" "
        "zoomedOutResamplingMethod=\"nearestNeighbour\" maxOversampling=\"2\"/>\n"
        "    </provider>\n";
    text += paletted ? "    <rasterrenderer type=\"paletted\" band=\"1\" opacity=\"1\" "
                       "alphaBand=\"-1\" nodataColor=\"\">\n"
                     : "    <rasterrenderer type=\"singlebandpseudocolor\" band=\"1\" opacity=\"1\" "
                       "alphaBand=\"-1\" nodataColor=\"\" classificationMin=\"1\" "
                       "classificationMax=\"" + std::to_string(classes.rows.size()) + "\">\n";
    text +=
        "      <rasterTransparency>\n"
        "        <singleValuePixelList>\n"
        "          <pixelListEntry min=\"" + none + "\" max=\"" + none +
        "\" percentTransparent=\"100\"/>\n"
        "        </singleValuePixelList>\n"
        "      </rasterTransparency>\n";
    text += paletted ? "      <colorPalette>\n"
                     : "      <rastershader>\n"
                       "        <colorrampshader colorRampType=\"INTERPOLATED\" "
                       "classificationMode=\"1\" "
                       "clip=\"0\" minimumValue=\"1\" maximumValue=\"" +
                           std::to_string(classes.rows.size()) + "\">\n";
    // A ramp's stops: row (count - 1) * i / (stops - 1) for every i, the first and last rows
    // among them.
    const size_t count = classes.rows.size();
    std::vector<bool> shown(count, paletted);
    for (size_t i = 0; !paletted && i < kStyleRampStops; ++i)
        shown[(count - 1) * i / (kStyleRampStops - 1)] = true;
    for (size_t k = 0; k < count; ++k) {
        if (!shown[k]) continue;
        const ClassRow& row = classes.rows[k];
        const ColourEntry colour = ColourOf(colours, row.classValue);
        text += paletted ? "        <paletteEntry value=\"" : "          <item value=\"";
        text += std::to_string(row.classValue) + "\" color=\"" + HexColour(colour) +
                "\" alpha=\"255\" label=\"" + XmlEscaped(ClassLabel(row)) + "\"/>\n";
    }
    text += paletted ? "      </colorPalette>\n"
                     : "        </colorrampshader>\n"
                       "      </rastershader>\n";
    text +=
        "    </rasterrenderer>\n"
        "    <brightnesscontrast brightness=\"0\" contrast=\"0\" gamma=\"1\"/>\n"
        "    <rasterresampler maxOversampling=\"2\"/>\n"
        "    <resamplingStage>resamplingFilter</resamplingStage>\n"
        "  </pipe>\n"
        "  <blendMode>0</blendMode>\n"
        "</qgis>\n";
    return text;
}

RasterMetadata TreatmentMetadata(const std::string& program, const std::vector<BandRecord>& records,
                                 const std::optional<CodeSelection>& selection, int classCount,
                                 const std::vector<MaskDescription>& masks) {
    const int n = records.empty() ? 0 : static_cast<int>(records.size()) - 1;
    RasterMetadata items{{"TIFFTAG_SOFTWARE", "Tessera_V2 " + program},
                         {"TESSERA_BANDS", std::to_string(n)}};
    for (int b = 1; b <= n; ++b) {
        const BandRecord& record = records[b];
        const std::string key = "TESSERA_BAND_" + std::to_string(b) + "_";
        std::string file = record.filePath;
        if (record.rasterBand > 0)
            file += " (raster band " + std::to_string(record.rasterBand) + ")";
        items.emplace_back(key + "FILE", file);
        items.emplace_back(key + "METHOD", MethodText(record.thresholdingType));
        std::string limits;
        const SegmentLimits& segments = record.segmentLimits;
        for (int j = 1; j <= segments.Count(); ++j) {
            if (j > 1) limits += ',';
            limits += std::to_string(segments.lower[j]) + "-" + std::to_string(segments.upper[j]);
        }
        items.emplace_back(key + "SEGMENTS", std::to_string(record.segmentCount));
        items.emplace_back(key + "GRAY_LIMITS", limits);
        if (record.stretch) {
            items.emplace_back(key + "STRETCH", StretchEndText(*record.stretch, false) + "," +
                                                    StretchEndText(*record.stretch, true) + " (" +
                                                    record.stretch->dataType + ")");
        }
        if (record.nodata) {
            items.emplace_back(
                key + "NODATA",
                NativeText(*record.nodata, record.stretch ? record.stretch->dataType : "Byte"));
        }
    }
    if (!masks.empty()) {
        items.emplace_back("TESSERA_MASKS", std::to_string(masks.size()));
        for (size_t k = 0; k < masks.size(); ++k) {
            const std::string key = "TESSERA_MASK_" + std::to_string(k + 1) + "_";
            items.emplace_back(key + "FILE", masks[k].name);
            items.emplace_back(key + "RULE", masks[k].rule);
        }
    }
    if (selection) {
        items.emplace_back("TESSERA_SELECTION",
                           selection->keepAll ? std::string("every code")
                                              : "the codes with more than " +
                                                    std::to_string(selection->minimum) + " pixels");
    }
    items.emplace_back("TESSERA_CLASSES", std::to_string(classCount));
    return items;
}

struct MapSideFiles::Staged {
    std::string path;
    StagedFile file;
    bool written = false;
};

MapSideFiles::MapSideFiles(const std::string& stem, const ClassTable& classes,
                           const std::vector<ColourEntry>& colours, Wanted wanted)
    : stem_(stem), wanted_(wanted) {
    const auto stage = [this](const std::string& path, const std::string& text) {
        auto staged = std::make_unique<Staged>();
        staged->path = path;
        staged->written =
            staged->file.Open(path) && staged->file.WriteAt(0, text.data(), text.size());
        staged_.push_back(std::move(staged));
    };
    if (wanted.table) stage(stem + ".csv", ClassTableCsv(classes));
    if (wanted.legend) stage(stem + kLegendSuffix, ClassRasterLegend(classes, colours));
    if (wanted.style) stage(stem + kStyleSuffix, ClassRasterStyle(classes, colours));
}

MapSideFiles::~MapSideFiles() = default;

void MapSideFiles::AddTo(FileSet& set) {
    for (const std::unique_ptr<Staged>& staged : staged_) {
        if (staged->written)
            set.Add(staged->path, staged->file);
        else
            set.AddUnwritten(staged->path);
    }
    if (wanted_.legend && !wanted_.style) set.Remove(stem_ + kStyleSuffix);
}

}  // namespace tessera
