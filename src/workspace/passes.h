#pragma once
// The treatment of a band set, written once for every front end: its state between passes and
// the three passes over a source of strips.
//   1. GatherStatistics: every band's histogram and its pixels without data;
//   2. CountCodes: every pixel's code from the bands' gray levels, and the pixels of each code;
//   3. ClassifyStrips: the class of every pixel, strip by strip, for the caller to keep or write.
// Between them, the steps that decide: SetBandSegmentation, FinishSegmentation (code table,
// look-ups, segment colours) and FinishCrossing (the classes kept, class colours). The passes
// keep no state of their own and may run on several threads; their results do not depend on
// the thread count.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bands/bandfiles.h"
#include "bands/pixelmask.h"
#include "crossing/codetable.h"
#include "crossing/crossing.h"
#include "crossing/report.h"
#include "crossing/sparsecount.h"
#include "image/grayimage.h"
#include "segmentation/bandrecord.h"
#include "segmentation/thresholding.h"
#include "support/progress.h"
#include "support/randombelow.h"
#include "support/status.h"
#include "workspace/strips.h"

namespace tessera {

// The start of the texts of a step refused for want of memory.
inline constexpr const char* kMemoryRefusal = " Not enough memory ";

// What the treatment knows between its passes; every vector indexed by band 1..n (entry 0
// unused) or by code 0..N.
struct Treatment {
    std::vector<BandRecord> records;
    // After the statistics: each band's gray levels with data.
    std::vector<Histogram> histograms;
    std::vector<GrayRange> ranges;
    // After FinishSegmentation.
    CodeTable table;
    std::vector<SegmentLookup> lookups;
    std::vector<CodeContribution> byGray;  // each band's share of a code, by gray level
    CodeKernel kernel;                     // the codes of whole lines from byGray
    std::vector<SegmentNumbering> numberings;  // the look-ups made ready for whole lines
    // A job's tables may be sparse (codes counted only where they occur); the interactive
    // program's never are.
    bool sparseCounts = false;
    OffsetKernel offsetKernel;  // the codes of a sparse table, by offset
    ColourTable segmentColourTable{};
    // After the count: pixelCount[0..N] (entry 0: pixels without a code), and the pixels
    // without data in at least one band (none when no band can lack data).
    std::vector<int64_t> pixelCount;
    std::optional<int64_t> nodataPixels;
    // The masks of the band set, a line each for the report, and after the count the pixels
    // that only they leave without data (none without masks).
    std::vector<std::string> masks;
    std::vector<MaskDescription> maskDescriptions;  // the same masks, file and rule apart
    std::optional<int64_t> maskedPixels;
    // Every pixel without a code: without data of its own or masked.
    int64_t PixelsWithoutData() const {
        return nodataPixels.value_or(0) + maskedPixels.value_or(0);
    }
    // After FinishCrossing.
    std::vector<int32_t> selectedCodes;  // 1..K
    std::vector<uint8_t> classOf;        // class of every code 0..N
    int classCount = 0;
    ColourTable classColourTable{};
    // With more than 250 classes (a job's choice), the classes are 16-bit: each code's class
    // (NoWideClass for none) and the colours of classes 0..K, the first 254 classColourTable's.
    std::vector<uint16_t> wideClassOf;
    std::vector<ColourEntry> wideColours;
    // Of a sparse table: the class of each code kept, ascending by offset.
    std::vector<std::pair<CodeOffset, uint16_t>> classByOffset;
    bool WideClasses() const { return classCount > kMaximumClassCount; }
    std::optional<CodeSelection> selection;  // the rule that chose the codes, when known
    // The classes and colours came from a saved treatment (treatmentfile.h), not a selection.
    std::optional<AppliedTreatment> applied;

    int BandCount() const { return records.empty() ? 0 : static_cast<int>(records.size()) - 1; }
    // For a band set of n bands: records, histograms and ranges of n + 1 entries.
    void Begin(int bandCount);
};

// ----- pass 1 -----

// Per band 1..n: the histogram of its gray levels with data, its pixels marked without data
// and, of these, those holding NaN or an infinite value and those only a mask leaves without.
struct BandStatistics {
    std::vector<Histogram> histograms;
    std::vector<int64_t> withoutData;
    std::vector<int64_t> nonFinite;
    std::vector<int64_t> masked;
};
// Refused as the source refuses a strip; throws std::bad_alloc when memory runs out.
Result<BandStatistics> GatherStatistics(StripSource& source, int threads);
// Takes the statistics into the treatment's histograms, ranges and records.
void TakeStatistics(Treatment& treatment, const BandStatistics& statistics);

// ----- segmentation -----

// A band's method, count and limits from its histogram and range; `typedUpper` holds the
// typed upper limits of a Definition band. The count must have passed CheckSegmentCount.
void SetBandSegmentation(BandRecord& record, const Histogram& histogram, GrayRange range,
                         int type, int count, const std::vector<int32_t>& typedUpper);
// The same for band b of the treatment.
void SetBandSegmentation(Treatment& treatment, int band, int type, int count,
                         const std::vector<int32_t>& typedUpper);
// The code table (refused with an "ERROR" text, nothing changed, when it is too large or
// memory runs out), the bands' look-ups and code shares, and the segment colours drawn from
// `random`. Changes nothing when refused, the colour sequence included.
Status FinishSegmentation(Treatment& treatment, RandomBelow& random);

// ----- pass 2 -----

// The pixel count of every code, and of the pixels without data in a band; Cancelled when
// `progress` cancels, an "ERROR" text when memory runs out.
struct CodeTally {
    std::vector<int64_t> pixelCount;  // 0..N; of a sparse table 0..H, the codes of `held`
    int64_t withoutData = 0;
    int64_t masked = 0;  // of those, the pixels only a mask leaves without data
    std::vector<CodeOffset> held;  // of a sparse table: the codes that occur, ascending (1..H)
};
Result<CodeTally> CountCodes(StripSource& source, const Treatment& treatment, int threads,
                             Progress* progress = nullptr);
// Takes the counts into the treatment.
void TakeCounts(Treatment& treatment, CodeTally tally);
// The counts of a sparse table, ascending by code, as a tally.
CodeTally SparseTally(const std::vector<CodePixels>& counts, int64_t noCode);
// Empty when memory can hold the sparse count of the treatment's table over `size`; else the
// refusal, with the memory it would need.
std::string SparseCountCheck(const Treatment& treatment, ImageSize size);

// ----- crossing -----

// The class of every code from the selection and the class colours drawn from `random`;
// refused (nothing changed, the colour sequence included) when memory runs out.
Status FinishCrossing(Treatment& treatment, RandomBelow& random,
                      std::vector<int32_t> selectedCodes);

// ----- pass 3 -----

// Given each strip's classes: `classes` holds strip.count lines of strip.columns class
// values, top line first, one after another: a byte each, or with the treatment's
// WideClasses() two (uint16_t in the machine's order).
using ClassSink = std::function<Status(int worker, int index, const Strip& strip,
                                       const uint8_t* classes)>;
// The classes of every pixel, strip by strip, handed to `sink`. `progress` as CountCodes;
// `stopped` as StripSource::ForEachStrip.
Status ClassifyStrips(StripSource& source, const Treatment& treatment, int threads,
                      const ClassSink& sink, Progress* progress = nullptr,
                      const std::function<void()>& stopped = {});

// The segment numbers of band b's line: its look-up, and NoSegment where it has no data.
void NumberLine(const Treatment& treatment, int band, const uint8_t* gray,
                const uint8_t* marks, int columns, uint8_t* numbers);

// The threads a pass runs on when the caller leaves it to the machine: one per core.
int MachineThreads();

}  // namespace tessera
