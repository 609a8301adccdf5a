#pragma once
// The three ways of cutting a band's dynamic scale into segments, and segment numbering.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "bands/bandfiles.h"
#include "image/grayimage.h"
#include "image/matrix.h"
#include "segmentation/graysteps.h"
#include "support/randombelow.h"

namespace tessera {

enum ThresholdingType : int32_t { Segmentation = 0, Equipopulation = 1, Definition = 2 };
constexpr uint8_t NoSegment = 255;
constexpr int kMaximumSegmentCount = 254;

// "Segmentation", "Equipopulation", "Definition".
const char* ThresholdingName(int type);

// lower[k]..upper[k] for k = 1..N (entry 0 unused). Not required to be ordered, disjoint or
// inside 0..255. Held in 64 bits: a typed upper limit may be the largest 32-bit number, and the
// next segment's lower limit is one more.
struct SegmentLimits {
    std::vector<int64_t> lower;
    std::vector<int64_t> upper;
    int Count() const { return lower.empty() ? 0 : static_cast<int>(lower.size()) - 1; }
    friend bool operator==(const SegmentLimits&, const SegmentLimits&) = default;
};

// Refuses a segment count outside 1..254 with a "CAUTION" text giving the allowed range.
Status CheckSegmentCount(int count);

// Equal-width ranges: s = (2R + N) div (2N), every segment but the last spans s + 1 levels.
SegmentLimits StrictoSensuLimits(int minGray, int maxGray, int count);

// Ranges of about (pixels) div N pixels each, by the scan over the histogram.
SegmentLimits EquipopulationLimits(const Histogram& histogram, int minGray, int maxGray, int count);

// Typed upper limits, one per segment (typedUpper[k - 1] for segment k, so N = its size):
// lower[1] = minGray, lower[k+1] = upper[k] + 1.
SegmentLimits DefinitionLimits(int minGray, const std::vector<int32_t>& typedUpper);

// The limits of a band cut by `type` into `count` segments: equal-width or equipopulation
// ranges of its gray range, or the typed upper limits of a Definition band, where a segment
// without a typed limit takes the band's maximum. `histogram` is read by Equipopulation only.
SegmentLimits BandSegmentLimits(int type, int count, const std::vector<int32_t>& typedUpper,
                                GrayRange range, const Histogram& histogram);

// Segment number of each gray level: the highest segment covering it, or NoSegment.
using SegmentLookup = std::array<uint8_t, 256>;
SegmentLookup SegmentLookupTable(const SegmentLimits& limits);

// numbers[y][x] = lookup[pixels[y][x]] over the lines and columns both matrices have (in place
// when they are the same matrix).
void NumberSegments(const ByteMatrix& pixels, const SegmentLookup& lookup, ByteMatrix& numbers);

// A lookup made ready for whole lines: its steps (graysteps.h) where it is a staircase of a few
// steps, as the lookups of up to 16 segments are, gaps and overlaps included; the lookup
// itself serves the others.
struct SegmentNumbering {
    SegmentLookup lookup{};
    GraySteps steps;
};
SegmentNumbering MakeSegmentNumbering(const SegmentLookup& lookup);

// numbers[i] = lookup[gray[i]] for i < count (in place when gray == numbers); nothing is read
// or written past `count`. The first form keeps the steps of the last lookup it was given (one
// per thread): a caller numbering many lines with a few lookups may as well prepare them once
// and use the second.
void NumberSegmentLine(const uint8_t* gray, size_t count, const SegmentLookup& lookup,
                       uint8_t* numbers);
void NumberSegmentLine(const uint8_t* gray, size_t count, const SegmentNumbering& numbering,
                       uint8_t* numbers);

// numbers[i] = NoSegment wherever nodata[i] is not 0: pixels without data have no segment.
void ClearNodata(const uint8_t* nodata, size_t count, uint8_t* numbers);

// Entries 1..254 drawn red, green, blue per entry from RandomBelow(254); 0 and 255 white.
ColourTable BuildSegmentColourTable(RandomBelow& random);

// A ColourKind image painting every value of `numbers` with its colour-table entry; nothing
// when memory runs out.
std::optional<GrayImage> PaintByTable(const ByteMatrix& numbers, const ColourTable& colours);

}  // namespace tessera
