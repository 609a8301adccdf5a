#pragma once
// The change between two class maps of one grid (two dates treated alike): how many pixels go
// from each class of the first map to each class of the second, as a from-to table, a change
// map of one value per pair of classes that occurs, its legend and a short report. Value 255
// of a class map is a pixel without a class (without data, or of a code in no class); such
// pixels are counted on rows of their own and are 255 in the change map. Two 16-bit class maps
// are compared alike, 65535 their pixel without a class.
#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "crossing/mapareas.h"
#include "image/grayimage.h"
#include "image/rawfiles.h"
#include "support/status.h"

namespace tessera {

inline constexpr int kNoClassValue = 255;
inline constexpr int kNoWideClassValue = 65535;
// The change map holds values 1..254; 255: a pixel without a class in either map.
inline constexpr int kMaximumChangePairs = 254;

// Pixels of every pair (from, to) of class values 0..255, at from x 256 + to.
struct ChangeCounts {
    std::vector<int64_t> pairs = std::vector<int64_t>(65536, 0);
    // Adds a line of each map.
    void AddLine(const uint8_t* from, const uint8_t* to, int columns);
    // Of 16-bit maps: the pixels of the pairs that occur, at from x 65536 + to.
    bool wide = false;
    std::unordered_map<uint32_t, int64_t> widePairs;
    void AddLine(const uint16_t* from, const uint16_t* to, int columns);
    void Add(const ChangeCounts& other);
};

// One row of the from-to table. A class of kNoClassValue: without a class in that map.
struct ChangeRow {
    int from = 0, to = 0;
    int value = kNoClassValue;  // in the change map: 1..P for pairs of classes, else 255
    int64_t pixels = 0;
    std::string area;  // empty where no area is known
};

struct ChangeTable {
    std::vector<ChangeRow> rows;  // pairs of classes by (from, to); then those without a class
    std::array<uint8_t, 65536> valueOf{};  // change-map value of every pair
    // Of 16-bit maps: the value of each pair of classes (from x 65536 + to), ascending, and
    // the class value of a pixel without a class.
    std::vector<std::pair<uint32_t, uint8_t>> wideValueOf;
    int none = kNoClassValue;
    uint8_t ValueOf(uint16_t from, uint16_t to) const;
    int pairCount = 0;                     // P
    // The names of the classes of each map (entry = class value), as the legend beside it
    // gives them; empty where there is none.
    std::vector<std::string> fromNames, toNames;
    std::string areaUnit;
    int64_t Pixels(bool changed) const;  // of the pairs of classes, changed or not
    int64_t PixelsWithoutClass() const;
};

// The rows of the pairs that occur; refused, saying so, when more than 254 pairs of classes
// occur (the change map holds one byte a pixel).
Result<ChangeTable> MakeChangeTable(const ChangeCounts& counts);

// The areas of the rows, gathered over the lines of both maps (see ChangeAreas).
class ChangeAreas {
  public:
    ChangeAreas(const CellAreas& cells, const ChangeTable& table);
    // Line `line` of both maps and of the change map.
    void AddLine(int line, const uint8_t* from, const uint8_t* to, const uint8_t* values,
                 int columns);
    void AddLine(int line, const uint16_t* from, const uint16_t* to, const uint8_t* values,
                 int columns);
    // The areas into the table's rows.
    void Fill(ChangeTable& table) const;

  private:
    const ChangeTable& table_;
    // Pairs of classes by change value; a class of the first map where the second has none;
    // the reverse; value 0 where neither has a class.
    ClassAreas pairs_, fromOnly_, toOnly_, neither_;
    std::vector<uint8_t> scratch_;
    std::vector<uint16_t> wideScratch_;
    template <class Class>
    void AddOnly(int line, const Class* from, const Class* to, int columns,
                 std::vector<Class>& scratch);
};

// STEM.csv: "from_class,to_class,pixels,area_UNIT", then a line per row, "none" for a class
// without one, the area empty where it is unknown.
std::string ChangeCsv(const ChangeTable& table);
// The change map's colours: drawn as the class colours are, from a sequence started afresh, so
// that the same maps give the same colours; 0 and 255 white.
ColourTable ChangeColours();
// "3 > 5" and "3 = 3": a pair's label.
std::string ChangeLabel(const ChangeRow& row, int none = kNoClassValue);
// The same, followed by what the two classes are where the maps' legends name them:
// "3 > 5: NAME OF 3 > NAME OF 5".
std::string ChangeLabel(const ChangeTable& table, const ChangeRow& row);
// The class names of a class map's legend (NAME.tif.aux.xml, as the job writes it): entry k of
// its CategoryNames for class k; empty when the file is not there or names no class.
std::vector<std::string> LegendClassNames(const std::string& legendPath);
// STEM.tif.aux.xml: a category name per value and an attribute table of the pairs (Value,
// Count, Red, Green, Blue, Label, from_class, to_class, area).
std::string ChangeLegend(const ChangeTable& table, const ColourTable& colours);
// STEM.qml: a paletted style with the same labels and colours, 255 transparent.
std::string ChangeStyle(const ChangeTable& table, const ColourTable& colours);
// STEM.txt: the two maps, their size, the pixels that kept or changed their class and those
// without a class.
std::string ChangeReport(const std::string& from, const std::string& to, ImageSize size,
                         const ChangeTable& table);

}  // namespace tessera
