#pragma once
// The crossing: codes and pixel counts, selection of the codes that become classes, class
// colours and the class raster.
#include <cstdint>
#include <vector>

#include "crossing/codetable.h"
#include "image/guitools.h"
#include "image/matrix.h"
#include "support/progress.h"
#include "support/randombelow.h"

namespace tessera {

constexpr int kMaximumClassCount = 250;
constexpr uint8_t NoClass = 255;

struct CodeCounts {
    IntMatrix CodeImage;              // code of every pixel, 0 for none
    std::vector<int64_t> PixelCount;  // 1..N, entry 0 = pixels without a code
};

// One pass over the pixels: each pixel's code is computed from its segment numbers (band b's
// matrix is segmentNumbers[b - 1]). Nothing when memory runs out.
// Nothing too when `progress` cancels.
std::optional<CodeCounts> CountCodes(const std::vector<const ByteMatrix*>& segmentNumbers,
                                     const CodeTable& table, Progress& progress = NoProgress());

// Number of codes 1..N with more than `minimum` pixels.
int64_t CountRetained(const std::vector<int64_t>& pixelCount, int64_t minimum);
// Codes 1..N with more than `minimum` pixels, ascending, as SelectedCodes[1..K] (entry 0
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
// The codes the choice keeps, as SelectedCodes[1..K] (entry 0 unused). With more than 250 codes
// a negative minimum keeps none.
std::vector<int32_t> SelectCodes(const std::vector<int64_t>& pixelCount, CodeSelection choice);

// Class values 1..254 drawn red, green, blue each from RandomBelow(254); 0 and 255 white; the
// spare byte 0.
ColourTable BuildClassColourTable(RandomBelow& random);

// Class number 1..K of each pixel, NoClass where its code was eliminated or it has none.
std::optional<ByteMatrix> MakeClassImage(const IntMatrix& codeImage,
                                         const std::vector<int32_t>& selectedCodes, int codeCount);

}  // namespace tessera
