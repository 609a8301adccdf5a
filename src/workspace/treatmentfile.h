#pragma once
// A treatment that travels: every choice that turned a band set into classes (each band's
// stretch, method and limits, the code table, the selection, the classes with their colours)
// as one JSON document (docs/treatment.md), and the same choices applied to another band set of
// as many bands. Applied, nothing is computed from the new bands' own values: the stretches
// and gray limits are the saved ones, a code keeps its class number and colour, and no colour
// is drawn, so that the class files of two scenes compare byte for byte.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bands/bandfacts.h"
#include "bands/bandset.h"
#include "crossing/crossing.h"
#include "image/guitools.h"
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
    std::vector<int32_t> selectedCodes;  // SelectedCodes[1..K], entry 0 unused
    ColourTable colours{};               // the class colour table, 0..255

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
// breaks the format).
Result<SavedTreatment> ParseTreatment(const std::string& text, const std::string& path);
Result<SavedTreatment> ReadTreatment(const std::string& path);

// ----- applying it -----

// Refuses a band set of another band count than the treatment's.
Status CheckTreatmentBandCount(const SavedTreatment& saved, const std::string& path, int bandCount);
// Refuses band b (of `file`, data type `dataType`) where the saved stretch would not apply:
// a band of 8 bits where the treatment stretches one of more, or the other way round.
Status CheckTreatmentBand(const SavedTreatment& saved, const std::string& path, int band,
                          const std::string& file, const std::string& dataType);

// Takes the saved methods, counts and gray limits into the records of a band set read
// (GatherStatistics done): nothing is computed from its histograms.
void TakeSavedSegmentation(Treatment& treatment, const SavedTreatment& saved);
// The same into records 1..bandCount.
void TakeSavedSegmentation(BandRecord* records, int bandCount, const SavedTreatment& saved);
// A band loaded again for a saved treatment takes its stretch, scale and nodata value, whatever
// its own, and no percentiles.
void TakeSavedLoading(BandLoadOptions& options, const SavedBand& kept);
// After the count: the saved classes (a code keeps its class number) and colours, and the
// selection rule, without a draw; the report then names `path` and counts the pixels of codes
// in no class. Refused when the treatment's code table is not the one segmented.
Status TakeSavedClasses(Treatment& treatment, const SavedTreatment& saved, const std::string& path);

}  // namespace tessera
