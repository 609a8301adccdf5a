#include "workspace/blockpasses.h"

#include <memory>
#include <new>

#include "bands/stretch.h"
#include "crossing/crossing.h"
#include "workspace/strips.h"

namespace tessera {

namespace {

constexpr ValueType kValueTypes[] = {
    ValueType::Byte,  ValueType::Int8,   ValueType::UInt16, ValueType::Int16,   ValueType::UInt32,
    ValueType::Int32, ValueType::UInt64, ValueType::Int64,  ValueType::Float32, ValueType::Float64};

// f(values) with the block's values as their own type.
template <class F>
void WithValues(ValueType type, const void* values, F&& f) {
    switch (type) {
        case ValueType::Byte:
            return f(static_cast<const uint8_t*>(values));
        case ValueType::Int8:
            return f(static_cast<const int8_t*>(values));
        case ValueType::UInt16:
            return f(static_cast<const uint16_t*>(values));
        case ValueType::Int16:
            return f(static_cast<const int16_t*>(values));
        case ValueType::UInt32:
            return f(static_cast<const uint32_t*>(values));
        case ValueType::Int32:
            return f(static_cast<const int32_t*>(values));
        case ValueType::UInt64:
            return f(static_cast<const uint64_t*>(values));
        case ValueType::Int64:
            return f(static_cast<const int64_t*>(values));
        case ValueType::Float32:
            return f(static_cast<const float*>(values));
        case ValueType::Float64:
            return f(static_cast<const double*>(values));
    }
}

constexpr size_t kPhysicalStrip = 4096;

// f(values, at, n) over the block's values as the band reads them: its own type, or physical
// values (doubles) a strip at a time for a scaled band.
template <class F>
void WithPhysicalValues(const ArrayBand& band, const ValueBlock& block, size_t cells, F&& f) {
    if (!band.Scaled()) {
        WithValues(band.type, block.values, [&](const auto* values) { f(values, 0, cells); });
        return;
    }
    const Scaling scaling = *band.scaling;
    std::vector<double> physical(std::min<size_t>(cells, kPhysicalStrip));
    WithValues(band.type, block.values, [&](const auto* values) {
        for (size_t at = 0; at < cells; at += kPhysicalStrip) {
            const size_t n = std::min(kPhysicalStrip, cells - at);
            for (size_t i = 0; i < n; ++i)
                physical[i] = PhysicalValue(static_cast<double>(values[at + i]), scaling);
            f(static_cast<const double*>(physical.data()), at, n);
        }
    });
}

// The blocks brought to gray levels and marks, held for the passes as a source of strips.
class GrayBlocks {
  public:
    GrayBlocks(const std::vector<ArrayBand>& bands, const std::vector<ValueBlock>& blocks,
               ImageSize size, const std::vector<ArrayMask>& masks = {}) {
        const size_t cells = static_cast<size_t>(size.lines) * static_cast<size_t>(size.columns);
        std::vector<uint8_t> masked;
        if (!masks.empty()) {
            masked.assign(cells, 0);
            for (size_t m = 0; m < masks.size(); ++m)
                MarkMaskedBlock(masks[m], blocks[bands.size() + m], cells, masked.data());
        }
        std::vector<BandPlane> planes;
        for (size_t b = 0; b < bands.size(); ++b) {
            std::shared_ptr<uint8_t[]> gray(new uint8_t[std::max<size_t>(cells, 1)]);
            std::shared_ptr<uint8_t[]> marks;
            if (bands[b].MayLackData() || !masks.empty())
                marks.reset(new uint8_t[std::max<size_t>(cells, 1)]);
            BlockToGray(bands[b], blocks[b], cells, gray.get(), marks.get(),
                        masked.empty() ? nullptr : masked.data());
            planes.push_back(BandPlane{gray, marks});
        }
        source_ = std::make_unique<MemoryStrips>(size, std::move(planes));
    }
    StripSource& Source() { return *source_; }

  private:
    std::unique_ptr<MemoryStrips> source_;
};

std::string SizeText(ImageSize size) {
    return std::to_string(size.lines) + " x " + std::to_string(size.columns);
}

}  // namespace

const char* ValueTypeName(ValueType type) {
    switch (type) {
        case ValueType::Byte:
            return "Byte";
        case ValueType::Int8:
            return "Int8";
        case ValueType::UInt16:
            return "UInt16";
        case ValueType::Int16:
            return "Int16";
        case ValueType::UInt32:
            return "UInt32";
        case ValueType::Int32:
            return "Int32";
        case ValueType::UInt64:
            return "UInt64";
        case ValueType::Int64:
            return "Int64";
        case ValueType::Float32:
            return "Float32";
        case ValueType::Float64:
            return "Float64";
    }
    return "Unknown";
}

Result<ValueType> ValueTypeNamed(const std::string& name) {
    std::string taken;
    for (ValueType type : kValueTypes) {
        if (name == ValueTypeName(type)) return Result<ValueType>::Of(type);
        taken += std::string(taken.empty() ? "" : ", ") + ValueTypeName(type);
    }
    return Result<ValueType>::Failure(
        "a band of " + name + " values cannot be segmented; its values must be one of " + taken);
}

std::optional<double> ArrayBand::NodataAsRead() const {
    // Values read are physical: so is the stored nodata value, by the same arithmetic.
    if (!nodata || !Scaled()) return nodata;
    return PhysicalValue(*nodata, *scaling);
}

GrayConversion ArrayBand::Conversion() const {
    return GrayConversion{Stretched() ? stretch : std::nullopt, NodataAsRead()};
}

GrayStretch ArrayBand::Told() const {
    return GrayStretch{ValueTypeName(type), stretch.value_or(StretchRange{}), percentiles,
                       Scaled() ? scaling : std::nullopt};
}

ArrayBand MakeArrayBand(ValueType type, std::optional<double> nodata,
                        std::optional<StretchRange> stretch, std::optional<Scaling> scaling) {
    ArrayBand band;
    band.type = type;
    if (nodata) band.nodata = NodataOfType(*nodata, ValueTypeName(type));
    if (band.Stretched()) band.stretch = stretch;
    if (band.Stretched() && scaling && (scaling->scale != 1 || scaling->offset != 0))
        band.scaling = scaling;
    return band;
}

void BlockToGray(const ArrayBand& band, const ValueBlock& block, size_t cells, uint8_t* gray,
                 uint8_t* marks, const uint8_t* masked) {
    const GrayConversion conversion = band.Conversion();
    WithPhysicalValues(band, block, cells, [&](const auto* values, size_t at, size_t n) {
        ValuesToGray(values, n, conversion, gray + at, marks ? marks + at : nullptr);
    });
    if (masked && marks)
        for (size_t i = 0; i < cells; ++i)
            if (masked[i] != 0 && marks[i] == 0) marks[i] = kMaskedMark;
}

ValueRange BlockRange(const ArrayBand& band, const ValueBlock& block, size_t cells,
                      const uint8_t* masked) {
    ValueRange range;
    const std::optional<double> nodata = band.NodataAsRead();
    WithPhysicalValues(band, block, cells, [&](const auto* values, size_t at, size_t n) {
        if (masked == nullptr) return FoldValueRange(values, n, nodata, range.low, range.high);
        for (size_t i = 0; i < n; ++i)
            if (masked[at + i] == 0) FoldValueRange(values + i, 1, nodata, range.low, range.high);
    });
    return range;
}

void MarkMaskedBlock(const ArrayMask& mask, const ValueBlock& block, size_t cells,
                     uint8_t* masked) {
    WithValues(mask.type, block.values, [&](const auto* values) {
        for (size_t i = 0; i < cells; ++i)
            if (mask.rule.Masks(static_cast<double>(values[i]))) masked[i] = 1;
    });
}

void CountBlockPercentiles(const ArrayBand& band, const ValueBlock& block, const uint8_t* masked,
                           size_t cells, RankFinder& finder) {
    const std::optional<double> nodata = band.NodataAsRead();
    std::vector<double> strip;
    std::vector<uint8_t> skip;
    WithPhysicalValues(band, block, cells, [&](const auto* values, size_t at, size_t n) {
        strip.resize(n);
        skip.resize(n);
        for (size_t i = 0; i < n; ++i) {
            strip[i] = static_cast<double>(values[i]);
            skip[i] = (masked != nullptr && masked[at + i] != 0) ||
                      IsNodataValue(strip[i], nodata);
        }
        finder.Add(strip.data(), skip.data(), n);
    });
}

std::string ArraySizeMismatchText(int band, ImageSize size, ImageSize first) {
    return "band " + std::to_string(band) + " holds " + SizeText(size) +
           " pixels (lines x columns), band 1 " + SizeText(first) +
           ": every band of a set has the size of the first";
}

std::string BlockMismatchText(int band, const std::string& where) {
    return "the blocks of band " + std::to_string(band) + " are not those of band 1 (" + where +
           "): every band must be cut into the same blocks";
}

Result<BlockPlan> MakeBlockPlan(std::vector<ArrayBand> bands,
                                const std::vector<BandRecord>& records,
                                const std::vector<int32_t>& selectedCodes, bool sparse) {
    using R = Result<BlockPlan>;
    try {
        BlockPlan plan;
        plan.bands = std::move(bands);
        Treatment& treatment = plan.treatment;
        treatment.Begin(static_cast<int>(plan.bands.size()));
        treatment.sparseCounts = sparse;
        for (int b = 1; b <= treatment.BandCount() && b < static_cast<int>(records.size()); ++b) {
            treatment.records[b].thresholdingType = records[b].thresholdingType;
            treatment.records[b].segmentCount = records[b].segmentCount;
            treatment.records[b].segmentLimits = records[b].segmentLimits;
        }
        // The colours are the client's: these are drawn from a sequence of the plan's own.
        RandomBelow ownColours;
        if (Status segmented = FinishSegmentation(treatment, ownColours); !segmented)
            return R::Failure(segmented.message);
        if (!selectedCodes.empty()) {
            if (Status crossed = FinishCrossing(treatment, ownColours, selectedCodes); !crossed)
                return R::Failure(crossed.message);
        }
        return R::Of(std::move(plan));
    } catch (const std::bad_alloc&) {
        return R::Failure(std::string(kMemoryRefusal) + "to segment the bands ");
    }
}

Result<BandStatistics> BlockStatistics(const std::vector<ArrayBand>& bands,
                                       const std::vector<ValueBlock>& blocks, ImageSize size,
                                       const std::vector<ArrayMask>& masks) {
    try {
        GrayBlocks gray(bands, blocks, size, masks);
        return GatherStatistics(gray.Source(), 1);
    } catch (const std::bad_alloc&) {
        return Result<BandStatistics>::Failure(std::string(kMemoryRefusal) + "to read the bands ");
    }
}

Result<CodeTally> BlockCounts(const BlockPlan& plan, const std::vector<ValueBlock>& blocks,
                              ImageSize size) {
    try {
        GrayBlocks gray(plan.bands, blocks, size, plan.masks);
        return CountCodes(gray.Source(), plan.treatment, 1);
    } catch (const std::bad_alloc&) {
        return Result<CodeTally>::Failure(std::string(kMemoryRefusal) + "to cross the bands ");
    }
}

Status BlockCodes(const BlockPlan& plan, const std::vector<ValueBlock>& blocks, ImageSize size,
                  int32_t* codes) {
    try {
        GrayBlocks gray(plan.bands, blocks, size, plan.masks);
        const int n = static_cast<int>(plan.bands.size());
        std::vector<const uint8_t*> values(static_cast<size_t>(n));
        return gray.Source().ForEachStrip(1, [&](int, int, const Strip& strip) {
            for (int i = 0; i < strip.count; ++i) {
                int32_t* line = codes + static_cast<size_t>(strip.first + i) * strip.columns;
                for (int b = 0; b < n; ++b) values[b] = strip.Gray(b, i);
                FormCodes(plan.treatment.kernel, values.data(), strip.columns, line);
                // A pixel without data in some band has no code, as in the passes.
                for (int b = 0; b < n; ++b) {
                    const uint8_t* marks = strip.Marks(b, i);
                    if (marks == nullptr) continue;
                    for (int x = 0; x < strip.columns; ++x)
                        if (marks[x] != 0) line[x] = 0;
                }
            }
            return Status::Ok();
        });
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to cross the bands ");
    }
}

Status BlockClasses(const BlockPlan& plan, const std::vector<ValueBlock>& blocks, ImageSize size,
                    uint8_t* classes) {
    try {
        GrayBlocks gray(plan.bands, blocks, size, plan.masks);
        // A line of more than 250 classes is 16-bit.
        const size_t width = plan.treatment.WideClasses() ? 2 : 1;
        const size_t columns = static_cast<size_t>(size.columns) * width;
        return ClassifyStrips(gray.Source(), plan.treatment, 1,
                              [&](int, int, const Strip& strip, const uint8_t* lines) {
                                  std::copy(lines, lines + columns * strip.count,
                                            classes + columns * strip.first);
                                  return Status::Ok();
                              });
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to make the classes ");
    }
}

Status BlockSegmentNumbers(const BlockPlan& plan, int band, const ValueBlock& block, ImageSize size,
                           uint8_t* numbers) {
    if (band < 1 || band > static_cast<int>(plan.bands.size()))
        return Status::Failure(" There is no band " + std::to_string(band) + " ");
    try {
        const ArrayBand& values = plan.bands[static_cast<size_t>(band) - 1];
        const size_t cells = static_cast<size_t>(size.lines) * static_cast<size_t>(size.columns);
        std::vector<uint8_t> gray(cells), marks(values.MayLackData() ? cells : 0);
        BlockToGray(values, block, cells, gray.data(), marks.empty() ? nullptr : marks.data());
        for (int y = 0; y < size.lines; ++y) {
            const size_t at = static_cast<size_t>(y) * size.columns;
            NumberLine(plan.treatment, band, gray.data() + at,
                       marks.empty() ? nullptr : marks.data() + at, size.columns, numbers + at);
        }
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to segment the bands ");
    }
}

void AddStatistics(BandStatistics& total, const BandStatistics& more) {
    if (total.histograms.empty()) {
        total = more;
        return;
    }
    for (size_t b = 1; b < total.histograms.size() && b < more.histograms.size(); ++b) {
        for (int g = 0; g < 256; ++g) total.histograms[b][g] += more.histograms[b][g];
        total.withoutData[b] += more.withoutData[b];
        total.nonFinite[b] += more.nonFinite[b];
        if (b < total.masked.size() && b < more.masked.size()) total.masked[b] += more.masked[b];
    }
}

Status TakeBlockStatistics(Treatment& treatment, const std::vector<ArrayBand>& bands,
                           const std::vector<std::string>& names,
                           const std::vector<int>& rasterBands, const BandStatistics& statistics,
                           ImageSize size) {
    const int n = static_cast<int>(bands.size());
    treatment.Begin(n);
    for (int b = 1; b <= n; ++b) {
        const ArrayBand& band = bands[static_cast<size_t>(b) - 1];
        const std::string& name = names[static_cast<size_t>(b) - 1];
        const int rasterBand = rasterBands[static_cast<size_t>(b) - 1];
        if (band.MayLackData() && statistics.withoutData[b] == int64_t{size.lines} * size.columns)
            return Status::Failure(RasterRefusal(name, std::max(rasterBand, 1),
                                                 AllNodataReason(band.nodata, band.Floating())));
        BandRecord& record = treatment.records[b];
        record.filePath = name;
        record.rasterBand = rasterBand;
        record.nodata = band.nodata;
        if (band.Stretched() && band.stretch) record.stretch = band.Told();
    }
    TakeStatistics(treatment, statistics);
    return Status::Ok();
}

}  // namespace tessera
