#pragma once
// Texts of the crossing: the code table shown in the code selection dialogs and the treatment
// report written after the result's descriptor.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crossing/codetable.h"
#include "image/rawfiles.h"
#include "segmentation/bandrecord.h"

namespace tessera {

// "   CODES\t   B1\t ... \t   Bn\t   NUMPIX"
std::string CodeTableHeader(int bandCount);
// Header, the line "   ", then one line per code 1..N (codes without pixels included).
std::vector<std::string> CodeTableLines(const CodeTable& table,
                                        const std::vector<int64_t>& pixelCount);
// Line `index` (0-based, of CodeCount + 2) of CodeTableLines, made alone: a view of a table of
// millions of codes builds only the lines it shows.
std::string CodeTableLine(const CodeTable& table, const std::vector<int64_t>& pixelCount,
                          int64_t index);

// A treatment read from a file and applied to the band set: its file and the pixels of the
// codes it did not keep, which the report names after the masks.
struct AppliedTreatment {
    std::string file;
    int64_t pixelsInNoClass = 0;
};

// The whole ".txt" file of a saved result: the long descriptor, then the report. records[b]
// for b = 1..n (entry 0 unused); selectedCodes[1..K]. `nodataPixels`, the pixels without data
// in at least one band, is reported when a band has a nodata value. `masks` (a line each) and
// `maskedPixels` (the pixels only they leave without data) when the band set has masks.
std::string ResultReport(ImageSize size, const std::vector<BandRecord>& records,
                         const CodeTable& table, const std::vector<int64_t>& pixelCount,
                         const std::vector<int32_t>& selectedCodes,
                         std::optional<int64_t> nodataPixels = std::nullopt,
                         const std::vector<std::string>& masks = {},
                         std::optional<int64_t> maskedPixels = std::nullopt,
                         const std::optional<AppliedTreatment>& applied = std::nullopt);

}  // namespace tessera
