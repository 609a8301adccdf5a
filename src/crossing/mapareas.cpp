#include "crossing/mapareas.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "bands/gdalapi.h"
#include "bands/gdalsupport.h"

namespace tessera {

// How areas are written. A class covers whole cells, and a grid's transform is only as
// precise as its file stored it, so an area is written with seven significant digits of one
// cell's area at most (of the largest cell, in a geographic system):
// D = 6 - floor(log10(cell area)) decimals, none for cells of 10^7 units or more.
// A cell area that is, within a relative 1e-9 (the noise of a transform stored in binary or
// worked out from an extent), a decimal of d <= D decimals is taken as that decimal, and the
// areas are written exactly as pixels x that decimal, with d decimals: 30 m x 30 m cells give
// whole square metres, and cells of 5 x 0.49999999997454525 (2.4999999998727263) give 73102.5
// for 29241 pixels. Trailing zeros after the decimal point are left out.
namespace {

constexpr double kCellTolerance = 1e-9;
constexpr int kMostDecimals = 22;  // 10^22 is the largest power of ten a double holds exactly
// Cells wider than this (in degrees) are taken as pieces of this width at most side by side.
constexpr double kWidestPiece = 0.01;

double PowerOfTen(int exponent) {
    double power = 1;
    for (int i = 0; i < exponent; ++i) power *= 10;
    return power;
}

// D above, for cells of area `cell`.
int MostDecimals(double cell) {
    if (!(cell > 0) || !std::isfinite(cell)) return 0;
    const double decimals = 6 - std::floor(std::log10(cell));
    return static_cast<int>(std::clamp(decimals, 0.0, double{kMostDecimals}));
}

// A coordinate system read from its WKT: what OSR says of it; none when there is no system,
// it cannot be read or the GDAL module cannot be loaded.
struct SystemFacts {
    bool read = false;
    GdalSystemFacts facts;
    std::string linearUnit;
};

SystemFacts ReadSystem(const std::string& wkt) {
    SystemFacts system;
    if (wkt.empty()) return system;
    const GdalApi* gdal = Gdal();
    if (gdal == nullptr) return system;
    void* handle = gdal->readSystem(wkt.c_str(), 0);
    if (handle == nullptr) return system;
    system.read = true;
    gdal->systemFacts(handle, &system.facts);
    if (system.facts.linearUnit != nullptr) system.linearUnit = system.facts.linearUnit;
    system.facts.linearUnit = nullptr;  // it lived with the handle
    gdal->freeSystem(handle);
    return system;
}

// "square_metre", from the coordinate system's linear unit; "square_unit" when it names none.
std::string SquareUnit(const SystemFacts& system) {
    std::string unit;
    if (system.read && (system.facts.projected || system.facts.local)) unit = system.linearUnit;
    std::string field = "square_";
    for (char c : unit.empty() ? std::string("unit") : unit) {
        const auto byte = static_cast<unsigned char>(c);
        field += std::isalnum(byte) ? static_cast<char>(std::tolower(byte)) : '_';
    }
    return field;
}

bool IsGeographic(const SystemFacts& system) {
    return system.read && !system.facts.projected && !system.facts.local && system.facts.geographic;
}

// `text` (digits, a point, digits) without the zeros that end its decimals, nor a bare point.
std::string TrimmedDecimals(std::string text) {
    if (text.find('.') == std::string::npos) return text;
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

}  // namespace

// An ellipsoid of PROJ's geodesics, made by the GDAL module.
struct CellAreas::Geodesic {
    Geodesic(const GdalApi& module, double semiMajor, double flattening)
        : gdal(module), ellipsoid(module.newEllipsoid(semiMajor, flattening)) {}
    ~Geodesic() { gdal.freeEllipsoid(ellipsoid); }
    Geodesic(const Geodesic&) = delete;
    Geodesic& operator=(const Geodesic&) = delete;
    const GdalApi& gdal;
    void* ellipsoid;
};

CellAreas::CellAreas(ImageSize size, const Georeference& place) {
    const auto& t = place.transform;
    // A system that is given but cannot be read, the GDAL module being missing, gives no area.
    if (!place.coordinateSystem.empty() && Gdal() == nullptr) {
        unit_ = SquareUnit(SystemFacts{});
        return;
    }
    const SystemFacts system = ReadSystem(place.coordinateSystem);
    if (!IsGeographic(system)) {
        unit_ = SquareUnit(system);
        kind_ = Kind::Uniform;
        const double cell = std::fabs(t[1] * t[5] - t[2] * t[4]);
        quantum_ = cell;
        decimals_ = MostDecimals(cell);
        // The fewest decimals that write the cell's area within the tolerance.
        for (int d = 0; d <= decimals_ && cell < 0x1p53; ++d) {
            const double scaled = std::round(cell * PowerOfTen(d));
            if (std::fabs(scaled / PowerOfTen(d) - cell) <= kCellTolerance * cell) {
                decimals_ = d;
                scaledCell_ = static_cast<int64_t>(scaled);
                break;
            }
        }
        return;
    }

    // Geographic: square metres on the ellipsoid, for a north-up grid only.
    unit_ = "square_metre";
    const double semiMajor = system.facts.semiMajor;
    const double inverseFlattening = system.facts.inverseFlattening;
    double degrees = system.facts.angularUnit * 180 / std::numbers::pi;
    if (std::fabs(degrees - 1) < 1e-12) degrees = 1;  // the degree itself, given in radians
    top_ = t[3] * degrees;
    step_ = t[5] * degrees;
    width_ = std::fabs(t[1]) * degrees;
    const bool ellipsoid = system.facts.semiMajorOk && system.facts.inverseFlatteningOk &&
                           semiMajor > 0 && std::isfinite(semiMajor) &&
                           (inverseFlattening == 0 || inverseFlattening > 1) &&
                           std::isfinite(inverseFlattening);
    const bool northUp = t[2] == 0 && t[4] == 0;
    if (!ellipsoid || !northUp || !std::isfinite(top_) || !std::isfinite(step_) ||
        !std::isfinite(width_))
        return;
    kind_ = Kind::ByLine;
    width_ = std::min(width_, 360.0);
    geodesic_ = std::make_unique<Geodesic>(*Gdal(), semiMajor,
                                           inverseFlattening == 0 ? 0 : 1 / inverseFlattening);

    // The largest cells are those of the line nearest the equator: at either end, or around
    // the line the equator crosses.
    double largest = 0;
    if (size.lines > 0) {
        const double last = size.lines - 1;
        const double equator = step_ != 0 ? std::clamp(std::floor(-top_ / step_), 0.0, last) : 0;
        for (double line : {0.0, last, equator - 1, equator, equator + 1})
            largest = std::max(largest, LineArea(static_cast<int>(std::clamp(line, 0.0, last))));
    }
    decimals_ = MostDecimals(largest);
    // Units of at most 2^52 for the largest cell: 2^31 pixels of them fit in the sums.
    quantum_ = largest > 0 ? std::ldexp(1.0, std::ilogb(largest) - 51) : 1;
}

CellAreas::~CellAreas() = default;

double CellAreas::LineArea(int line) const {
    const double y = line;
    const double top = std::clamp(top_ + y * step_, -90.0, 90.0);
    const double bottom = std::clamp(top_ + (y + 1) * step_, -90.0, 90.0);
    if (top == bottom || width_ == 0) return 0;
    // Pieces of the cell side by side share their meridians: the cell's polygon with vertices
    // along its top and bottom every piece's width covers as much as the pieces together.
    const double pieces = std::ceil(width_ / kWidestPiece);
    const double piece = width_ / pieces;
    double lats[4] = {top, top, bottom, bottom};
    double lons[4] = {0, piece, piece, 0};
    const double area = geodesic_->gdal.polygonArea(geodesic_->ellipsoid, lats, lons, 4);
    return pieces * std::fabs(area);
}

int64_t CellAreas::LineUnits(int line) const {
    switch (kind_) {
        case Kind::Uniform:
            return 1;
        case Kind::ByLine:
            return std::llround(LineArea(line) / quantum_);
        case Kind::Unknown:
            break;
    }
    return 0;
}

ClassAreas::ClassAreas(const CellAreas& cells) : cells_(&cells) {}

void ClassAreas::AddLine(int line, const uint8_t* classes, int columns) {
    if (!cells_->Known()) return;
    std::array<uint32_t, 256> counts{};
    for (int x = 0; x < columns; ++x) ++counts[classes[x]];
    const Sum units = static_cast<Sum>(cells_->LineUnits(line));
    for (size_t k = 0; k < counts.size(); ++k)
        if (counts[k] != 0) sums_[k] += counts[k] * units;
}

void ClassAreas::AddLine(int line, const uint16_t* classes, int columns) {
    if (!cells_->Known()) return;
    sums_.resize(65536);
    const Sum units = static_cast<Sum>(cells_->LineUnits(line));
    for (int x = 0; x < columns; ++x) sums_[classes[x]] += units;
}

void ClassAreas::Add(const ClassAreas& other) {
    if (other.sums_.size() > sums_.size()) sums_.resize(other.sums_.size());
    for (size_t k = 0; k < other.sums_.size(); ++k) sums_[k] += other.sums_[k];
}

std::vector<uint64_t> ClassAreas::Parts() const {
    std::vector<uint64_t> parts(2 * sums_.size());
    for (size_t k = 0; k < sums_.size(); ++k) {
        parts[2 * k] = static_cast<uint64_t>(sums_[k] >> 64);
        parts[2 * k + 1] = static_cast<uint64_t>(sums_[k]);
    }
    return parts;
}

void ClassAreas::AddParts(const std::vector<uint64_t>& parts) {
    if (parts.size() / 2 > sums_.size()) sums_.resize(parts.size() / 2);
    for (size_t k = 0; 2 * k + 1 < parts.size(); ++k)
        sums_[k] += (static_cast<Sum>(parts[2 * k]) << 64) | parts[2 * k + 1];
}

std::vector<uint64_t> ClassAreas::SumOfParts(const std::vector<uint64_t>& a,
                                             const std::vector<uint64_t>& b) {
    const std::vector<uint64_t>& longer = a.size() >= b.size() ? a : b;
    const std::vector<uint64_t>& shorter = a.size() >= b.size() ? b : a;
    std::vector<uint64_t> sum = longer;
    for (size_t k = 0; 2 * k + 1 < shorter.size(); ++k) {
        const Sum total = ((static_cast<Sum>(longer[2 * k]) << 64) | longer[2 * k + 1]) +
                          ((static_cast<Sum>(shorter[2 * k]) << 64) | shorter[2 * k + 1]);
        sum[2 * k] = static_cast<uint64_t>(total >> 64);
        sum[2 * k + 1] = static_cast<uint64_t>(total);
    }
    return sum;
}

std::string ClassAreas::Text(int k) const {
    if (!cells_->Known() || k < 0 || k >= static_cast<int>(sums_.size())) return {};
    const int decimals = cells_->decimals_;
    if (cells_->scaledCell_ > 0) {
        // Exactly: pixels x the cell's area as a decimal.
        Sum scaled = sums_[k] * static_cast<Sum>(cells_->scaledCell_);
        std::string digits;
        do {
            digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(scaled % 10)));
            scaled /= 10;
        } while (scaled != 0);
        if (decimals == 0) return digits;
        if (digits.size() <= static_cast<size_t>(decimals))
            digits.insert(0, static_cast<size_t>(decimals) + 1 - digits.size(), '0');
        digits.insert(digits.end() - decimals, '.');
        return TrimmedDecimals(digits);
    }
    const double area = static_cast<double>(sums_[k]) * cells_->quantum_;
    const int length = std::snprintf(nullptr, 0, "%.*f", decimals, area);
    if (length <= 0) return {};
    std::vector<char> text(static_cast<size_t>(length) + 1);
    std::snprintf(text.data(), text.size(), "%.*f", decimals, area);
    return TrimmedDecimals(std::string(text.data(), static_cast<size_t>(length)));
}

}  // namespace tessera
