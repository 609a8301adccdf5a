#pragma once
// The crossing: codes and pixel counts, selection of the codes that become classes, class
// colours and the class raster.
#include <array>
#include <cstdint>
#include <vector>

#include "crossing/codetable.h"
#include "image/grayimage.h"
#include "image/matrix.h"
#include "segmentation/thresholding.h"
#include "support/progress.h"
#include "support/randombelow.h"

namespace tessera {

// The classes a crossing keeps at most: 250 by default, so that every class and NoClass fit a
// byte and a 256-colour palette; a job may allow up to kMostClassCount, written as 16-bit
// classes with NoWideClass for the pixels in none.
constexpr int kMaximumClassCount = 250;
constexpr int kMostClassCount = 65534;
constexpr uint8_t NoClass = 255;
constexpr uint16_t NoWideClass = 65535;

struct CodeCounts {
    IntMatrix codeImage;              // code of every pixel, 0 for none (when asked for)
    std::vector<int64_t> pixelCount;  // 1..N, entry 0 = pixels without a code
    int64_t withoutData = 0;          // pixels without data in at least one band
    int64_t masked = 0;               // of those, the pixels only a mask leaves without data
};

// What a value of one band adds to (code - 1): a pixel's code is the sum over the bands plus
// one, or 0 when the sum is negative (a band without a segment there).
using CodeContribution = std::array<int32_t, 256>;
// contributions[b] for b = 1..n, indexed by band b's segment number (NoSegment and numbers
// outside 1..S_b give no code).
std::vector<CodeContribution> SegmentContributions(const CodeTable& table);
// The same indexed by gray level: the band's segment lookup and its digit in one table.
CodeContribution GrayContribution(const CodeContribution& bySegment, const SegmentLookup& lookup);
// codes[x] of one line from the line of each band (values[b], contributions[b] for
// b = 0..bandCount - 1).
void FormCodes(const CodeContribution* const* contributions, const uint8_t* const* values,
               int bandCount, int columns, int32_t* codes);

// The gray contributions of a crossing prepared once for FormCodes below. Where each band's
// table is digit x weight, or negative for no segment (as GrayContribution makes them), every
// band's digit is found by comparing its pixels with the table's steps (graysteps.h), or
// through a byte look-up of the digits when its table has too many steps, and the codes are
// summed by multiplying the digits by their weights, many pixels at once. Tables of any other
// form are summed as the first FormCodes sums them. Either way the codes are the same.
struct CodeKernel {
    struct Band {
        std::array<uint8_t, 256> digit{};  // by gray level: table / weight, or kNone
        GraySteps steps;                   // of `digit`, where usable
        uint32_t weight = 0;               // within its group (0: every digit is 0)
    };
    // Bands whose digits, times their weights within the group, add up to less than 2^16: they
    // are summed in 16 bits, then multiplied by the group's weight in 32 bits.
    struct Group {
        int first = 0;
        int end = 0;
        uint32_t weight = 1;
    };
    static constexpr uint8_t kNone = 255;  // the digit of a gray level without a segment

    std::vector<CodeContribution> tables;  // 0..n - 1: band b + 1's contributions
    bool byDigits = false;                 // false: the tables are summed
    std::vector<Band> bands;               // 0..n - 1, with byDigits
    std::vector<Group> groups;

    int BandCount() const { return static_cast<int>(tables.size()); }
};
// From the gray contributions byGray[1..n] (entry 0 unused).
CodeKernel MakeCodeKernel(const std::vector<CodeContribution>& byGray);
// codes[x] of one line from the line of each band (values[b] for b = 0..n - 1): exactly what
// FormCodes above gives with the same tables. Nothing is read past `columns`.
void FormCodes(const CodeKernel& kernel, const uint8_t* const* values, int columns, int32_t* codes);
// ++pixelCount[codes[x]] for every x.
template <class Count>
void CountLine(const int32_t* codes, int columns, Count* pixelCount) {
    for (int x = 0; x < columns; ++x) ++pixelCount[codes[x]];
}

// The class of every code 0..N: NoClass for code 0 and the codes the selection did not keep.
std::vector<uint8_t> ClassOfCode(const std::vector<int32_t>& selectedCodes, int codeCount);
// classes[x] = classOf[codes[x]] (NoClass beyond the table) for one line.
void ClassifyLine(const int32_t* codes, int columns, const std::vector<uint8_t>& classOf,
                  uint8_t* classes);
// The same in 16 bits, for more than 250 classes: NoWideClass for no class.
std::vector<uint16_t> WideClassOfCode(const std::vector<int32_t>& selectedCodes, int codeCount);
void ClassifyLine(const int32_t* codes, int columns, const std::vector<uint16_t>& classOf,
                  uint16_t* classes);

// One pass over the pixels: each pixel's code is computed from its segment numbers (band b's
// matrix is segmentNumbers[b - 1]). Nothing when memory runs out.
// Nothing too when `progress` cancels.
std::optional<CodeCounts> CountCodes(const std::vector<const ByteMatrix*>& segmentNumbers,
                                     const CodeTable& table, Progress& progress = NoProgress());

// Number of codes 1..N with more than `minimum` pixels.
int64_t CountRetained(const std::vector<int64_t>& pixelCount, int64_t minimum);
// Codes 1..N with more than `minimum` pixels, ascending, as selectedCodes[1..K] (entry 0
// unused).
std::vector<int32_t> SelectByMinimum(const std::vector<int64_t>& pixelCount, int64_t minimum);
// Every code 1..N.
std::vector<int32_t> SelectAll(int codeCount);

// What the code selection dialogs (or the batch options) chose: every code, or the codes with
// more than `minimum` pixels.
struct CodeSelection {
    bool keepAll = false;
    int64_t minimum = 0;
};
// Number of codes the choice keeps (see SelectCodes).
int64_t CountSelected(const std::vector<int64_t>& pixelCount, CodeSelection choice);
// The codes the choice keeps, as selectedCodes[1..K] (entry 0 unused). With more than 250 codes
// a negative minimum keeps none.
std::vector<int32_t> SelectCodes(const std::vector<int64_t>& pixelCount, CodeSelection choice);

// Class values 1..254 drawn red, green, blue each from RandomBelow(254); 0 and 255 white; the
// spare byte 0.
ColourTable BuildClassColourTable(RandomBelow& random);
// The colours of classes 0..classCount: those of `first` up to 254, then each further class
// drawn on as they were (0 white). The classes up to 254 keep their colours whatever the count.
std::vector<ColourEntry> WideClassColours(const ColourTable& first, int classCount,
                                          RandomBelow& random);

// Class number 1..K of each pixel, NoClass where its code was eliminated or it has none.
std::optional<ByteMatrix> MakeClassImage(const IntMatrix& codeImage,
                                         const std::vector<int32_t>& selectedCodes, int codeCount);

}  // namespace tessera
