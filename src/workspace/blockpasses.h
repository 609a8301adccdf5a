#pragma once
// The treatment's passes over bands held as blocks of native values, such as the arrays the
// Python module is handed or the chunks of a scene shared among the processes of a cluster.
// Each block is brought to gray levels and marks as a band file's reader brings its lines
// (graylevels.h), then run through the passes of passes.h: a block's histograms, codes, counts
// and classes are those the batch tool finds for the same pixels, and the sums over the blocks
// of a scene are those of the whole scene, whatever the blocks.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bands/bandfacts.h"
#include "bands/graylevels.h"
#include "bands/percentiles.h"
#include "bands/pixelmask.h"
#include "bands/rasterband.h"
#include "image/rawfiles.h"
#include "support/randombelow.h"
#include "support/status.h"
#include "workspace/passes.h"

namespace tessera {

// The types of values a band held in memory may have, with GDAL's names for them.
enum class ValueType { Byte, Int8, UInt16, Int16, UInt32, Int32, UInt64, Int64, Float32, Float64 };
const char* ValueTypeName(ValueType type);
// The type of that name; refused, naming the type given and those taken, for any other.
Result<ValueType> ValueTypeNamed(const std::string& name);

// One band of values held in memory, as a band file is read: "Byte" values are gray levels;
// values of every other type are stretched between its stretch's ends, and NaN and infinite
// values are without data.
struct ArrayBand {
    ValueType type = ValueType::Byte;
    std::optional<double> nodata;         // as the band holds it (NodataOfType)
    std::optional<StretchRange> stretch;  // none for Byte bands, or before it is known
    // The band's physical values (stored value x scale + offset) in place of its stored ones:
    // the stretch, the ranges and the percentiles are in them, its nodata value stays stored.
    std::optional<Scaling> scaling;
    std::optional<PercentileRange> percentiles;  // the stretch was found at these
    bool Stretched() const { return type != ValueType::Byte; }
    bool Floating() const { return type == ValueType::Float32 || type == ValueType::Float64; }
    // Some pixel may be without data: a nodata value is set, or the values are floating-point.
    bool MayLackData() const { return nodata.has_value() || Floating(); }
    bool Scaled() const { return scaling.has_value(); }
    // The nodata value among the values as they are read (physical for a scaled band).
    std::optional<double> NodataAsRead() const;
    GrayConversion Conversion() const;
    // The band's stretch and values as the report tells them.
    GrayStretch Told() const;
};
// The band of type `type` with `nodata` as it holds it (a Float32 band: the nearest float).
ArrayBand MakeArrayBand(ValueType type, std::optional<double> nodata,
                        std::optional<StretchRange> stretch,
                        std::optional<Scaling> scaling = std::nullopt);


// A block of one band: lines x columns values of the band's type, line after line.
struct ValueBlock {
    const void* values = nullptr;
};

// A mask given as blocks beside the bands (a cloud mask, a quality band): the pixels its rule
// masks are left without data in every band, as a mask file's are.
struct ArrayMask {
    ValueType type = ValueType::Byte;
    MaskRule rule;
};
// masked[i] set to 1 where the mask's rule masks value i of the block (left as it is
// elsewhere, so that several masks add up).
void MarkMaskedBlock(const ArrayMask& mask, const ValueBlock& block, size_t cells,
                     uint8_t* masked);
// The values of a block as the band reads them (physical for a scaled band), and skip[i] set
// where the value has no data or masked[i] (may be null) is set: a percentile search's part.
void CountBlockPercentiles(const ArrayBand& band, const ValueBlock& block, const uint8_t* masked,
                           size_t cells, RankFinder& finder);

// gray[i] and marks[i] (may be null) of the block's cells values; with `masked` (may be null),
// kMaskedMark on the masked pixels that carry no other mark.
void BlockToGray(const ArrayBand& band, const ValueBlock& block, size_t cells, uint8_t* gray,
                 uint8_t* marks, const uint8_t* masked = nullptr);
// The least and greatest value with data of the block's cells values; Empty() when none.
// (as read: physical for a scaled band), leaving out the pixels masked[i] sets (may be null).
ValueRange BlockRange(const ArrayBand& band, const ValueBlock& block, size_t cells,
                      const uint8_t* masked = nullptr);

// The refusals of bands given as arrays: one not the size of the first, blocks of one part of
// the scene that are not all the same size.
std::string ArraySizeMismatchText(int band, ImageSize size, ImageSize first);
std::string BlockMismatchText(int band, const std::string& where);

// The part of the treatment every block needs, made from the bands' segmentations (records
// 1..n: thresholdingType, segmentCount, segmentLimits) and, for the classes, the codes kept
// (selectedCodes[1..K], entry 0 unused; empty before the crossing).
struct BlockPlan {
    std::vector<ArrayBand> bands;  // band b at b - 1
    std::vector<ArrayMask> masks;  // their blocks follow the bands' in every pass
    Treatment treatment;
};
// The code table and look-ups as FinishSegmentation makes them (refused with its text when
// the table is too large; with `sparse`, a table past a dense count is counted sparsely), and
// each code's class.
Result<BlockPlan> MakeBlockPlan(std::vector<ArrayBand> bands,
                                const std::vector<BandRecord>& records,
                                const std::vector<int32_t>& selectedCodes, bool sparse = false);

// The histograms and pixels without data of blocks of every band (blocks[b - 1] of band b, all
// of `size`, then one block of each mask): pass 1 over them.
Result<BandStatistics> BlockStatistics(const std::vector<ArrayBand>& bands,
                                       const std::vector<ValueBlock>& blocks, ImageSize size,
                                       const std::vector<ArrayMask>& masks = {});
// Pass 2 over blocks of every band: the pixels of every code (0..N) and without data.
Result<CodeTally> BlockCounts(const BlockPlan& plan, const std::vector<ValueBlock>& blocks,
                              ImageSize size);
// The code of every pixel of the blocks (0: none), line after line.
Status BlockCodes(const BlockPlan& plan, const std::vector<ValueBlock>& blocks, ImageSize size,
                  int32_t* codes);
// Pass 3: the class of every pixel of the blocks, line after line (with more than 250 classes,
// 16-bit classes: two bytes a pixel, in the machine's order).
Status BlockClasses(const BlockPlan& plan, const std::vector<ValueBlock>& blocks, ImageSize size,
                    uint8_t* classes);
// Band b's segment numbers in a block of it (NoSegment where it has no data).
Status BlockSegmentNumbers(const BlockPlan& plan, int band, const ValueBlock& block, ImageSize size,
                           uint8_t* numbers);

// Adds `more` to `total`, band by band.
void AddStatistics(BandStatistics& total, const BandStatistics& more);

// The treatment of bands given as arrays, between the passes that run over their blocks: the
// bands' records named `names` (what the report says of each band's file) begun, then pass 1's
// sums taken, refused as the batch tool refuses a band without a pixel with data.
Status TakeBlockStatistics(Treatment& treatment, const std::vector<ArrayBand>& bands,
                           const std::vector<std::string>& names,
                           const std::vector<int>& rasterBands, const BandStatistics& statistics,
                           ImageSize size);

}  // namespace tessera
