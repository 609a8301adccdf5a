#pragma once
// The areas of the class table: what one cell of the class raster covers on the map, line by
// line, and per class the sum over the lines of its pixels in the line times the line's cell
// area, gathered where the class raster is made.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/rawfiles.h"
#include "segmentation/bandrecord.h"

namespace tessera {

// The cells of a class raster of `size` lying on `place`:
// - in a projected or local coordinate system (or none): every cell covers |t1 t5 - t2 t4|,
//   in the square of the system's linear unit;
// - in a geographic coordinate system, on a north-up grid (t2 = t4 = 0): the cells of a line
//   share one area, in square metres on the system's ellipsoid, that of the cell's polygon
//   (corners joined by geodesics; a cell wider than a hundredth of a degree is taken as equal
//   pieces at most that wide side by side, so that its top and bottom follow their parallels);
// - in a geographic coordinate system, on a rotated or sheared grid: no area is known.
class CellAreas {
  public:
    CellAreas(ImageSize size, const Georeference& place);
    ~CellAreas();
    CellAreas(const CellAreas&) = delete;
    CellAreas& operator=(const CellAreas&) = delete;

    // The unit as the class table's header names it: "square_metre", "square_us_survey_foot",
    // "square_unit" when the system names none.
    const std::string& Unit() const { return unit_; }
    bool Known() const { return kind_ != Kind::Unknown; }

  private:
    // What one cell of `line` (0 = top) counts in the sums of ClassAreas; `quantum_` is the
    // area one unit of those sums stands for. Every line counts 1 when the cells are all alike.
    int64_t LineUnits(int line) const;
    // The area of one cell of a line of a north-up geographic grid, unrounded.
    double LineArea(int line) const;

    enum class Kind { Unknown, Uniform, ByLine };
    struct Geodesic;
    Kind kind_ = Kind::Unknown;
    std::string unit_;
    int decimals_ = 0;  // of the areas written (see the rule in mapareas.cpp)
    double quantum_ = 1;
    // Uniform: the cell's area as written with `decimals_` decimals, times 10^decimals_, when
    // that is the area within the grid's own precision; 0 when the area has no such form.
    int64_t scaledCell_ = 0;
    // ByLine: the ellipsoid, the latitude of the top edge and the step down a line, the width
    // of a cell, all in degrees.
    std::unique_ptr<Geodesic> geodesic_;
    double top_ = 0, step_ = 0, width_ = 0;

    friend class ClassAreas;
};

// Per class value 0..254 (0..65534 once 16-bit lines are added),
// the sum over the lines added of (pixels of the class in the line) x
// (the line's cell units), kept exactly, so that the same lines give the same sums whatever
// their order and however they are shared among accumulators.
class ClassAreas {
  public:
    // `cells` must outlive this.
    explicit ClassAreas(const CellAreas& cells);
    // Adds line `line` (0 = top) of a class raster: `columns` class values.
    void AddLine(int line, const uint8_t* classes, int columns);
    // The same for 16-bit class values.
    void AddLine(int line, const uint16_t* classes, int columns);
    // Adds what `other` gathered (on other lines of the same cells).
    void Add(const ClassAreas& other);
    const CellAreas& Cells() const { return *cells_; }
    // The sums as words, class value k's high 64 bits at 2k and low ones at 2k + 1 (512 words
    // for 8-bit class values, 131072 once 16-bit lines are added), so that sums gathered
    // elsewhere (another process) travel as plain numbers; AddParts adds such words back,
    // exactly.
    std::vector<uint64_t> Parts() const;
    void AddParts(const std::vector<uint64_t>& parts);
    // The sums of two such sets of words, exactly, without the cells they were measured on.
    static std::vector<uint64_t> SumOfParts(const std::vector<uint64_t>& a,
                                            const std::vector<uint64_t>& b);
    // The area of class value `k` as the class table writes it: rounded to the cells'
    // decimals, without trailing zeros; empty when no area is known.
    std::string Text(int k) const;

  private:
    __extension__ typedef unsigned __int128 Sum;
    const CellAreas* cells_;
    std::vector<Sum> sums_ = std::vector<Sum>(256);  // grows to 65536 for 16-bit values
};

}  // namespace tessera
