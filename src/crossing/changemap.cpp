#include "crossing/changemap.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include "crossing/crossing.h"
#include "crossing/maplegend.h"
#include "support/numbers.h"

namespace tessera {

void ChangeCounts::AddLine(const uint8_t* from, const uint8_t* to, int columns) {
    for (int x = 0; x < columns; ++x) ++pairs[static_cast<size_t>(from[x]) * 256 + to[x]];
}

void ChangeCounts::AddLine(const uint16_t* from, const uint16_t* to, int columns) {
    wide = true;
    for (int x = 0; x < columns; ++x) ++widePairs[uint32_t{from[x]} << 16 | to[x]];
}

void ChangeCounts::Add(const ChangeCounts& other) {
    for (size_t k = 0; k < pairs.size(); ++k) pairs[k] += other.pairs[k];
    wide = wide || other.wide;
    for (const auto& [pair, pixels] : other.widePairs) widePairs[pair] += pixels;
}

uint8_t ChangeTable::ValueOf(uint16_t from, uint16_t to) const {
    const uint32_t pair = uint32_t{from} << 16 | to;
    const auto found = std::lower_bound(
        wideValueOf.begin(), wideValueOf.end(), pair,
        [](const std::pair<uint32_t, uint8_t>& entry, uint32_t key) { return entry.first < key; });
    return found != wideValueOf.end() && found->first == pair ? found->second
                                                              : static_cast<uint8_t>(kNoClassValue);
}

int64_t ChangeTable::Pixels(bool changed) const {
    int64_t pixels = 0;
    for (const ChangeRow& row : rows)
        if (row.value != kNoClassValue && (row.from != row.to) == changed) pixels += row.pixels;
    return pixels;
}

int64_t ChangeTable::PixelsWithoutClass() const {
    int64_t pixels = 0;
    for (const ChangeRow& row : rows)
        if (row.value == kNoClassValue) pixels += row.pixels;
    return pixels;
}

Result<ChangeTable> MakeChangeTable(const ChangeCounts& counts) {
    ChangeTable table;
    table.valueOf.fill(kNoClassValue);
    const int none = counts.wide ? kNoWideClassValue : kNoClassValue;
    table.none = none;
    // Every pair that occurs, by (from, to).
    std::vector<std::pair<uint32_t, int64_t>> occurring;
    if (counts.wide) {
        occurring.assign(counts.widePairs.begin(), counts.widePairs.end());
        std::sort(occurring.begin(), occurring.end());
    } else {
        for (uint32_t pair = 0; pair < 65536; ++pair)
            if (counts.pairs[pair] != 0) occurring.emplace_back(pair, counts.pairs[pair]);
    }
    const int shift = counts.wide ? 16 : 8;
    std::vector<ChangeRow> without;
    for (const auto& [pair, pixels] : occurring) {
        if (pixels == 0) continue;
        const int from = static_cast<int>(pair >> shift);
        const int to = static_cast<int>(pair & ((1u << shift) - 1));
        ChangeRow row{from, to, kNoClassValue, pixels, {}};
        if (from == none || to == none) {
            without.push_back(row);
            continue;
        }
        if (table.pairCount == kMaximumChangePairs)
            return Result<ChangeTable>::Failure(
                "more than 254 pairs of classes occur: the change map cannot hold them");
        row.value = ++table.pairCount;
        if (counts.wide)
            table.wideValueOf.emplace_back(pair, static_cast<uint8_t>(row.value));
        else
            table.valueOf[pair] = static_cast<uint8_t>(row.value);
        table.rows.push_back(row);
    }
    // Where only the second map lacks a class, then only the first, then both.
    for (const bool secondLacks : {true, false})
        for (const ChangeRow& row : without)
            if (row.from != row.to && (row.to == none) == secondLacks)
                table.rows.push_back(row);
    for (const ChangeRow& row : without)
        if (row.from == row.to) table.rows.push_back(row);
    return Result<ChangeTable>::Of(std::move(table));
}

ChangeAreas::ChangeAreas(const CellAreas& cells, const ChangeTable& table)
    : table_(table), pairs_(cells), fromOnly_(cells), toOnly_(cells), neither_(cells) {}

template <class Class>
void ChangeAreas::AddOnly(int line, const Class* from, const Class* to, int columns,
                          std::vector<Class>& scratch) {
    const Class none = static_cast<Class>(table_.none);
    scratch.resize(static_cast<size_t>(columns));
    const auto only = [&](const Class* kept, const Class* other, ClassAreas& areas) {
        for (int x = 0; x < columns; ++x) scratch[x] = other[x] == none ? kept[x] : none;
        areas.AddLine(line, scratch.data(), columns);
    };
    only(from, to, fromOnly_);
    only(to, from, toOnly_);
    for (int x = 0; x < columns; ++x)
        scratch[x] = from[x] == none && to[x] == none ? Class{0} : none;
    neither_.AddLine(line, scratch.data(), columns);
}

void ChangeAreas::AddLine(int line, const uint8_t* from, const uint8_t* to, const uint8_t* values,
                          int columns) {
    pairs_.AddLine(line, values, columns);
    AddOnly(line, from, to, columns, scratch_);
}

void ChangeAreas::AddLine(int line, const uint16_t* from, const uint16_t* to,
                          const uint8_t* values, int columns) {
    pairs_.AddLine(line, values, columns);
    AddOnly(line, from, to, columns, wideScratch_);
}

void ChangeAreas::Fill(ChangeTable& table) const {
    table.areaUnit = pairs_.Cells().Unit();
    for (ChangeRow& row : table.rows) {
        if (row.value != kNoClassValue)
            row.area = pairs_.Text(row.value);
        else if (row.from != table.none)
            row.area = fromOnly_.Text(row.from);
        else if (row.to != table.none)
            row.area = toOnly_.Text(row.to);
        else
            row.area = neither_.Text(0);
    }
}

namespace {

std::string ClassText(int value, int none) {
    return value == none ? "none" : std::to_string(value);
}

std::string Hex(const ColourEntry& colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.red, colour.green, colour.blue);
    return text;
}

}  // namespace

std::string ChangeCsv(const ChangeTable& table) {
    std::string text = "from_class,to_class,pixels,area_" +
                       (table.areaUnit.empty() ? std::string("unit") : table.areaUnit) + "\n";
    for (const ChangeRow& row : table.rows) {
        text += ClassText(row.from, table.none) + "," + ClassText(row.to, table.none) + ",";
        AppendNumber(text, row.pixels);
        text += "," + row.area + "\n";
    }
    return text;
}

ColourTable ChangeColours() {
    RandomBelow random;
    return BuildClassColourTable(random);
}

std::string ChangeLabel(const ChangeRow& row, int none) {
    return ClassText(row.from, none) + (row.from == row.to ? " = " : " > ") +
           ClassText(row.to, none);
}

std::string ChangeLabel(const ChangeTable& table, const ChangeRow& row) {
    const auto name = [](const std::vector<std::string>& names, int value) -> std::string {
        return value >= 0 && static_cast<size_t>(value) < names.size() ? names[value] : "";
    };
    const std::string from = name(table.fromNames, row.from), to = name(table.toNames, row.to);
    if (from.empty() || to.empty()) return ChangeLabel(row, table.none);
    return ChangeLabel(row) + ": " + from + " > " + to;
}

std::vector<std::string> LegendClassNames(const std::string& legendPath) {
    std::vector<std::string> names;
    std::ifstream file(legendPath, std::ios::binary);
    if (!file) return names;
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t begin = text.find("<CategoryNames>");
    const size_t end = text.find("</CategoryNames>", begin);
    if (begin == std::string::npos || end == std::string::npos) return names;
    const auto unescaped = [](std::string value) {
        const std::pair<const char*, const char*> entities[] = {
            {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
        for (const auto& [entity, character] : entities)
            for (size_t at = value.find(entity); at != std::string::npos;
                 at = value.find(entity, at + 1))
                value.replace(at, std::strlen(entity), character);
        return value;
    };
    for (size_t at = text.find("<Category", begin); at != std::string::npos && at < end;
         at = text.find("<Category", at + 1)) {
        if (text.compare(at, 15, "<CategoryNames>") == 0) continue;
        const size_t open = text.find('>', at);
        if (open == std::string::npos || open > end) break;
        if (text[open - 1] == '/') {  // <Category/>
            names.emplace_back();
            continue;
        }
        const size_t close = text.find("</Category>", open);
        if (close == std::string::npos || close > end) break;
        names.push_back(unescaped(text.substr(open + 1, close - open - 1)));
    }
    return names;
}

std::string ChangeLegend(const ChangeTable& table, const ColourTable& colours) {
    std::vector<std::string> names(static_cast<size_t>(table.pairCount) + 1);
    for (const ChangeRow& row : table.rows)
        if (row.value != kNoClassValue)
            names[static_cast<size_t>(row.value)] = ChangeLabel(table, row);
    // GDAL's field types (0 integer, 1 real, 2 string) and usages (5 min-max, 1 pixel count,
    // 6..8 red, green, blue, 2 name, 0 generic).
    const std::vector<LegendField> fields = {
        {"Value", 0, 5},      {"Count", 0, 1},    {"Red", 0, 6},
        {"Green", 0, 7},      {"Blue", 0, 8},     {"Label", 2, 2},
        {"from_class", 0, 0}, {"to_class", 0, 0}, {"area_" + table.areaUnit, 1, 0}};
    std::vector<std::vector<std::string>> rows;
    for (const ChangeRow& row : table.rows) {
        if (row.value == kNoClassValue) continue;
        const ColourEntry& colour = colours[static_cast<size_t>(row.value)];
        rows.push_back({std::to_string(row.value), std::to_string(row.pixels),
                        std::to_string(colour.red), std::to_string(colour.green),
                        std::to_string(colour.blue), ChangeLabel(table, row),
                        std::to_string(row.from), std::to_string(row.to),
                        row.area.empty() ? "nan" : row.area});
    }
    return PamLegendText(names, fields, rows);
}

std::string ChangeStyle(const ChangeTable& table, const ColourTable& colours) {
    std::string text =
        "<!DOCTYPE qgis PUBLIC 'http://mrcc.com/qgis.dtd' 'SYSTEM'>\n"
        "<qgis version=\"3.22.0\" styleCategories=\"Symbology\">\n"
        "  <pipe>\n"
        "    <rasterrenderer type=\"paletted\" band=\"1\" opacity=\"1\" alphaBand=\"-1\" "
        "nodataColor=\"\">\n"
        "      <rasterTransparency>\n"
        "        <singleValuePixelList>\n"
        "          <pixelListEntry min=\"255\" max=\"255\" percentTransparent=\"100\"/>\n"
        "        </singleValuePixelList>\n"
        "      </rasterTransparency>\n"
        "      <colorPalette>\n";
    for (const ChangeRow& row : table.rows) {
        if (row.value == kNoClassValue) continue;
        text += "        <paletteEntry value=\"" + std::to_string(row.value) + "\" color=\"" +
                Hex(colours[static_cast<size_t>(row.value)]) + "\" alpha=\"255\" label=\"" +
                XmlEscaped(ChangeLabel(table, row)) + "\"/>\n";
    }
    text +=
        "      </colorPalette>\n"
        "    </rasterrenderer>\n"
        "  </pipe>\n"
        "</qgis>\n";
    return text;
}

std::string ChangeReport(const std::string& from, const std::string& to, ImageSize size,
                         const ChangeTable& table) {
    std::string text =
        "Change between two class maps\n\nFrom : " + from + "\nTo : " + to + "\nLines : ";
    AppendNumber(text, size.lines);
    text += "\nColumns : ";
    AppendNumber(text, size.columns);
    text += "\n\nPairs of classes that occur : ";
    AppendNumber(text, table.pairCount);
    text += "\nPixels that keep their class : ";
    AppendNumber(text, table.Pixels(false));
    text += "\nPixels that change their class : ";
    AppendNumber(text, table.Pixels(true));
    text += "\nPixels without a class in either map : ";
    AppendNumber(text, table.PixelsWithoutClass());
    text += "\n";
    return text;
}

}  // namespace tessera
