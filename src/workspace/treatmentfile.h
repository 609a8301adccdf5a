#pragma once
// A treatment that travels: every choice that turned a band set into classes (each band's
// stretch, method and limits, the code table, the selection, the classes with their colours)
// as one JSON document (docs/treatment.md), written and read back. treatmentapply.h applies
// it to another band set.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bands/bandfacts.h"
#include "bands/bandset.h"
#include "crossing/crossing.h"
#include "image/grayimage.h"
#include "segmentation/thresholding.h"
#include "support/json.h"
#include "support/status.h"
#include "workspace/passes.h"

namespace tessera {

inline constexpr int kTreatmentVersion = 1;
inline constexpr const char* kTreatmentFormat = "tessera-treatment";

// One band of a saved treatment.
struct SavedBand {
    std::string file;
    int rasterBand = 0;  // 0: a raw file or a bitmap
    std::string dataType = "Byte";
    std::optional<double> nodata;
    std::optional<StretchRange> stretch;  // bands of more than 8 bits
    std::optional<PercentileRange> percentiles;
    std::optional<Scaling> scaling;
    int type = Segmentation;
    int count = 0;
    SegmentLimits limits;              // gray levels, 1..count
    std::vector<double> nativeLimits;  // a definition band's limits typed as native values
};

struct SavedTreatment {
    std::vector<SavedBand> bands;  // band b at b - 1
    std::vector<std::string> masks;
    std::optional<CodeSelection> selection;
    std::vector<int32_t> selectedCodes;  // 1..K, entry 0 unused
    ColourTable colours{};               // the class colour table, 0..255
    std::vector<ColourEntry> wideColours;  // with more than 250 classes: those of 0..K
    // Of a sparse table, whose codes selectedCodes numbers among those that occurred: the
    // offset (code - 1) of each code kept, 1..K (entry 0 unused).
    std::vector<CodeOffset> selectedOffsets;

    int BandCount() const { return static_cast<int>(bands.size()); }
    int ClassCount() const {
        return selectedCodes.empty() ? 0 : static_cast<int>(selectedCodes.size()) - 1;
    }
};

// The choices of a crossed treatment.
SavedTreatment SavedOf(const Treatment& treatment);
// The document: pretty-printed, members in a fixed order, "\n" line ends.
std::string TreatmentJson(const SavedTreatment& saved);
// Written whole or not at all, as every saved file; a "CAUTION" text naming the file on failure.
Status SaveTreatment(const std::string& path, const Treatment& treatment);

// The document read back and checked: refused with one sentence naming `path` and saying why
// (not JSON, with the line and column; not a treatment; an unknown version; the field that
// breaks the format). A document of more than `mostClasses` classes is refused.
Result<SavedTreatment> ParseTreatment(const std::string& text, const std::string& path,
                                      int mostClasses = kMaximumClassCount);
Result<SavedTreatment> ReadTreatment(const std::string& path,
                                     int mostClasses = kMaximumClassCount);

}  // namespace tessera
