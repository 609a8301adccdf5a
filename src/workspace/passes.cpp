#include "workspace/passes.h"

#include <algorithm>
#include <memory>
#include <new>
#include <thread>

#include "support/paths.h"

namespace tessera {

namespace {

// Code 0 for every pixel of line `line` of the strip without data in some band; the number of
// such pixels, and in `masked` those of them that only a mask leaves without data. `scratch`
// holds a line of marks.
int64_t ClearCodesWithoutData(const Strip& strip, int line, int32_t* codes,
                              std::vector<uint8_t>& scratch, int64_t& masked) {
    const size_t columns = static_cast<size_t>(strip.columns);
    const uint8_t* only = nullptr;
    uint8_t* merged = nullptr;  // through a pointer of its own, so that the loops vectorise
    for (size_t b = 0; b < strip.marks.size(); ++b) {
        const uint8_t* marks = strip.Marks(static_cast<int>(b), line);
        if (marks == nullptr) continue;
        if (only == nullptr) {
            only = marks;
            continue;
        }
        if (merged == nullptr) {
            if (scratch.size() < columns) scratch.resize(columns);
            merged = scratch.data();
            for (size_t x = 0; x < columns; ++x) merged[x] = only[x] | marks[x];
            continue;
        }
        for (size_t x = 0; x < columns; ++x) merged[x] |= marks[x];
    }
    if (only == nullptr) return 0;
    const uint8_t* marks = merged ? merged : only;
    int64_t count = 0, maskedOnly = 0;
    for (size_t x = 0; x < columns; ++x) {
        const int32_t without = marks[x] != 0;
        codes[x] = without ? 0 : codes[x];
        count += without;
        maskedOnly += marks[x] == kMaskedMark;
    }
    masked += maskedOnly;
    return count;
}

// Pass 2 over a sparse table: a counter per worker of the codes it meets, merged in code order.
Result<CodeTally> CountSparseCodes(StripSource& source, const Treatment& treatment, int threads,
                                   Progress* progress) {
    using R = Result<CodeTally>;
    if (const std::string refused = SparseCountCheck(treatment, source.Size()); !refused.empty())
        return R::Failure(refused);
    try {
        const int n = source.BandCount();
        const int columns = source.Size().columns;
        const int workers = source.Workers(threads);
        struct Part {
            SparseCounter counter;
            std::vector<CodeOffset> offsets;
            std::vector<uint8_t> hasCode;
            std::unique_ptr<int32_t[]> line;  // codes 1 or 0, for ClearCodesWithoutData
            std::vector<uint8_t> scratch;
            std::vector<const uint8_t*> values;
            int64_t noCode = 0;
            int64_t without = 0;
            int64_t masked = 0;
        };
        std::vector<Part> parts(static_cast<size_t>(workers));
        const size_t width = static_cast<size_t>(std::max(columns, 1));
        for (Part& part : parts) {
            part.offsets.resize(width);
            part.hasCode.resize(width);
            part.line.reset(new int32_t[width]);
            part.values.resize(static_cast<size_t>(n));
        }
        const Status counted = source.ForEachStrip(
            workers,
            [&](int worker, int, const Strip& strip) {
                Part& part = parts[static_cast<size_t>(worker)];
                for (int i = 0; i < strip.count; ++i) {
                    for (int b = 0; b < n; ++b) part.values[b] = strip.Gray(b, i);
                    FormOffsets(treatment.offsetKernel, part.values.data(), columns,
                                part.offsets.data(), part.hasCode.data());
                    for (int x = 0; x < columns; ++x) part.line[x] = part.hasCode[x];
                    part.without += ClearCodesWithoutData(strip, i, part.line.get(), part.scratch,
                                                          part.masked);
                    for (int x = 0; x < columns; ++x)
                        part.hasCode[x] = static_cast<uint8_t>(part.line[x]);
                    part.noCode += part.counter.AddLine(part.offsets.data(), part.hasCode.data(),
                                                        columns);
                }
                return Status::Ok();
            },
            progress, kStageCounting);
        if (counted.cancelled) return R::Cancelled();
        if (!counted) return R::Failure(counted.message);
        std::vector<std::vector<CodePixels>> entries;
        int64_t noCode = 0, without = 0, masked = 0;
        for (Part& part : parts) {
            entries.push_back(part.counter.Entries());
            part.counter = SparseCounter();
            noCode += part.noCode;
            without += part.without;
            masked += part.masked;
        }
        CodeTally tally = SparseTally(MergeSparseCounts(std::move(entries)), noCode);
        tally.withoutData = without;
        tally.masked = masked;
        return R::Of(std::move(tally));
    } catch (const std::bad_alloc&) {
        return R::Failure(std::string(kMemoryRefusal) + "to count the codes ");
    }
}

}  // namespace

CodeTally SparseTally(const std::vector<CodePixels>& counts, int64_t noCode) {
    CodeTally tally;
    tally.held.reserve(counts.size() + 1);
    tally.pixelCount.reserve(counts.size() + 1);
    tally.held.push_back(0);
    tally.pixelCount.push_back(noCode);
    for (const CodePixels& entry : counts) {
        tally.held.push_back(entry.first);
        tally.pixelCount.push_back(entry.second);
    }
    return tally;
}

std::string SparseCountCheck(const Treatment& treatment, ImageSize size) {
    if (!treatment.table.Sparse()) return {};
    return SparseCountRefusal(treatment.table.TotalCodes(),
                              int64_t{size.lines} * int64_t{size.columns}, MachineMemoryBytes());
}

int MachineThreads() {
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 64);
}

void Treatment::Begin(int bandCount) {
    const size_t entries = static_cast<size_t>(std::max(bandCount, 0)) + 1;
    records.assign(entries, BandRecord{});
    histograms.assign(entries, Histogram{});
    ranges.assign(entries, GrayRange{});
    table = CodeTable();
    lookups.clear();
    byGray.clear();
    offsetKernel = OffsetKernel{};
    pixelCount.clear();
    nodataPixels.reset();
    masks.clear();
    maskDescriptions.clear();
    maskedPixels.reset();
    selectedCodes.clear();
    classOf.clear();
    wideClassOf.clear();
    wideColours.clear();
    classByOffset.clear();
    classCount = 0;
    selection.reset();
    applied.reset();
}

Result<BandStatistics> GatherStatistics(StripSource& source, int threads) {
    const int n = source.BandCount();
    const size_t bands = static_cast<size_t>(n) + 1;
    const int workers = source.Workers(threads);
    std::vector<BandStatistics> partial(static_cast<size_t>(workers));
    for (BandStatistics& part : partial) {
        part.histograms.assign(bands, Histogram{});
        part.withoutData.assign(bands, 0);
        part.nonFinite.assign(bands, 0);
        part.masked.assign(bands, 0);
    }
    const Status gathered = source.ForEachStrip(workers, [&](int worker, int, const Strip& strip) {
        BandStatistics& part = partial[static_cast<size_t>(worker)];
        const size_t columns = static_cast<size_t>(strip.columns);
        const bool whole = strip.stride == columns;
        for (int b = 0; b < n; ++b) {
            Histogram& histogram = part.histograms[b + 1];
            for (int i = 0; i < (whole ? 1 : strip.count); ++i) {
                const size_t cells = whole ? columns * strip.count : columns;
                const uint8_t* gray = strip.Gray(b, i);
                AddToHistogram(gray, cells, histogram);
                const uint8_t* marks = strip.Marks(b, i);
                if (marks == nullptr) continue;
                const int64_t removed = RemoveNodata(gray, marks, cells, histogram);
                part.withoutData[b + 1] += removed;
                if (removed > 0) {
                    part.nonFinite[b + 1] += CountMarks(marks, cells, kNonFiniteMark);
                    part.masked[b + 1] += CountMarks(marks, cells, kMaskedMark);
                }
            }
        }
        return Status::Ok();
    });
    if (!gathered) return Result<BandStatistics>::Failure(gathered.message);
    BandStatistics total = std::move(partial[0]);
    for (size_t w = 1; w < partial.size(); ++w) {
        for (size_t b = 1; b < bands; ++b) {
            for (int g = 0; g < 256; ++g) total.histograms[b][g] += partial[w].histograms[b][g];
            total.withoutData[b] += partial[w].withoutData[b];
            total.nonFinite[b] += partial[w].nonFinite[b];
            total.masked[b] += partial[w].masked[b];
        }
    }
    return Result<BandStatistics>::Of(std::move(total));
}

void TakeStatistics(Treatment& treatment, const BandStatistics& statistics) {
    for (int b = 1; b <= treatment.BandCount(); ++b) {
        treatment.histograms[b] = statistics.histograms[b];
        treatment.ranges[b] = RangeOfHistogram(statistics.histograms[b]);
        treatment.records[b].nodataPixels =
            statistics.withoutData[b] - statistics.nonFinite[b] - statistics.masked[b];
        treatment.records[b].nonFinitePixels = statistics.nonFinite[b];
    }
}

void SetBandSegmentation(BandRecord& record, const Histogram& histogram, GrayRange range,
                         int type, int count, const std::vector<int32_t>& typedUpper) {
    try {
        SegmentLimits limits = BandSegmentLimits(type, count, typedUpper, range, histogram);
        record.thresholdingType = type;
        record.segmentCount = count;
        record.segmentLimits = std::move(limits);
    } catch (const std::bad_alloc&) {
        // Lists of at most 255 entries: left as they were should this ever fail.
    }
}

void SetBandSegmentation(Treatment& treatment, int band, int type, int count,
                         const std::vector<int32_t>& typedUpper) {
    if (band < 1 || band > treatment.BandCount()) return;
    SetBandSegmentation(treatment.records[band], treatment.histograms[band],
                        treatment.ranges[band], type, count, typedUpper);
}

Status FinishSegmentation(Treatment& treatment, RandomBelow& random) {
    const int n = treatment.BandCount();
    const RandomBelow randomBefore = random;
    try {
        std::vector<int32_t> counts(static_cast<size_t>(n) + 1, 0);
        for (int b = 1; b <= n; ++b) counts[b] = treatment.records[b].segmentCount;
        Result<CodeTable> table = BuildCodeTable(counts, treatment.sparseCounts);
        if (!table) return Status::Failure(table.message);
        const bool sparse = table.value->Sparse();
        // A sparse table's codes pass 32 bits: they are formed by offset, and the shares of a
        // dense table are left at 0.
        const std::vector<CodeContribution> bySegment =
            sparse ? std::vector<CodeContribution>(static_cast<size_t>(n) + 1, CodeContribution{})
                   : SegmentContributions(*table.value);
        std::vector<SegmentLookup> lookups(static_cast<size_t>(n) + 1);
        std::vector<CodeContribution> byGray(static_cast<size_t>(n) + 1);
        for (int b = 1; b <= n; ++b) {
            lookups[b] = SegmentLookupTable(treatment.records[b].segmentLimits);
            byGray[b] = GrayContribution(bySegment[b], lookups[b]);
        }
        CodeKernel kernel = MakeCodeKernel(byGray);
        OffsetKernel offsetKernel = sparse ? MakeOffsetKernel(*table.value, lookups) : OffsetKernel{};
        std::vector<SegmentNumbering> numberings(static_cast<size_t>(n) + 1);
        for (int b = 1; b <= n; ++b) numberings[b] = MakeSegmentNumbering(lookups[b]);
        const ColourTable colours = BuildSegmentColourTable(random);
        // Nothing below allocates.
        treatment.table = std::move(*table.value);
        treatment.lookups = std::move(lookups);
        treatment.byGray = std::move(byGray);
        treatment.kernel = std::move(kernel);
        treatment.offsetKernel = std::move(offsetKernel);
        treatment.numberings = std::move(numberings);
        treatment.segmentColourTable = colours;
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        random = randomBefore;
        return Status::Failure(std::string(kMemoryRefusal) +
                               "to segment the bands \nThe earlier results are kept ");
    }
}

Result<CodeTally> CountCodes(StripSource& source, const Treatment& treatment, int threads,
                             Progress* progress) {
    using R = Result<CodeTally>;
    const R refused = R::Failure(std::string(kMemoryRefusal) + "to cross the bands ");
    if (treatment.byGray.empty()) return R::Failure(" The bands are not segmented ");
    if (treatment.table.Sparse()) return CountSparseCodes(source, treatment, threads, progress);
    try {
        const int n = source.BandCount();
        const int columns = source.Size().columns;
        const int workers = source.Workers(threads);
        // 32 bits per code and thread: a thread counts at most kMaximumPixels pixels.
        static_assert(kMaximumPixels <= int64_t{UINT32_MAX});
        const size_t codes = static_cast<size_t>(treatment.table.CodeCount) + 1;
        struct Part {
            std::vector<uint32_t> counts;
            std::unique_ptr<int32_t[]> line;
            std::vector<uint8_t> scratch;
            int64_t without = 0;
            int64_t masked = 0;
        };
        std::vector<Part> parts(static_cast<size_t>(workers));
        for (Part& part : parts) {
            part.counts.assign(codes, 0);
            part.line.reset(new int32_t[static_cast<size_t>(std::max(columns, 1))]);
        }
        std::vector<std::vector<const uint8_t*>> values(static_cast<size_t>(workers),
                                                        std::vector<const uint8_t*>(n));
        const Status counted = source.ForEachStrip(
            workers,
            [&](int worker, int, const Strip& strip) {
                Part& part = parts[static_cast<size_t>(worker)];
                std::vector<const uint8_t*>& line = values[static_cast<size_t>(worker)];
                for (int i = 0; i < strip.count; ++i) {
                    for (int b = 0; b < n; ++b) line[b] = strip.Gray(b, i);
                    FormCodes(treatment.kernel, line.data(), columns, part.line.get());
                    part.without += ClearCodesWithoutData(strip, i, part.line.get(), part.scratch,
                                                          part.masked);
                    CountLine(part.line.get(), columns, part.counts.data());
                }
                return Status::Ok();
            },
            progress, kStageCounting);
        if (counted.cancelled) return R::Cancelled();
        if (!counted) return R::Failure(counted.message);
        CodeTally tally;
        tally.pixelCount.assign(parts[0].counts.begin(), parts[0].counts.end());
        for (const Part& part : parts) {
            tally.withoutData += part.without;
            tally.masked += part.masked;
        }
        for (size_t w = 1; w < parts.size(); ++w)
            for (size_t code = 0; code < codes; ++code)
                tally.pixelCount[code] += parts[w].counts[code];
        return R::Of(std::move(tally));
    } catch (const std::bad_alloc&) {
        return refused;
    }
}

void TakeCounts(Treatment& treatment, CodeTally tally) {
    bool declared = false;
    for (int b = 1; b <= treatment.BandCount(); ++b)
        declared = declared || treatment.records[b].nodata.has_value() ||
                   treatment.records[b].nonFinitePixels > 0 ||
                   treatment.records[b].nodataPixels > 0;
    if (treatment.table.Sparse()) treatment.table.Hold(std::move(tally.held));
    treatment.pixelCount = std::move(tally.pixelCount);
    // A pixel both masked and without data of its own counts once, as without data.
    treatment.nodataPixels =
        declared ? std::optional<int64_t>(tally.withoutData - tally.masked) : std::nullopt;
    treatment.maskedPixels =
        treatment.masks.empty() ? std::nullopt : std::optional<int64_t>(tally.masked);
}

Status FinishCrossing(Treatment& treatment, RandomBelow& random,
                      std::vector<int32_t> selectedCodes) {
    const RandomBelow randomBefore = random;
    try {
        const ColourTable colours = BuildClassColourTable(random);
        const int classCount =
            selectedCodes.empty() ? 0 : static_cast<int>(selectedCodes.size()) - 1;
        std::vector<uint8_t> classOf = ClassOfCode(selectedCodes, treatment.table.CodeCount);
        std::vector<uint16_t> wideClassOf;
        std::vector<ColourEntry> wideColours;
        if (classCount > kMaximumClassCount) {
            wideClassOf = WideClassOfCode(selectedCodes, treatment.table.CodeCount);
            wideColours = WideClassColours(colours, classCount, random);
        }
        std::vector<std::pair<CodeOffset, uint16_t>> classByOffset =
            ClassesByOffset(treatment.table, selectedCodes);
        treatment.classColourTable = colours;
        treatment.classOf = std::move(classOf);
        treatment.wideClassOf = std::move(wideClassOf);
        treatment.wideColours = std::move(wideColours);
        treatment.classByOffset = std::move(classByOffset);
        treatment.classCount = classCount;
        treatment.selectedCodes = std::move(selectedCodes);
        treatment.applied.reset();
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        random = randomBefore;
        return Status::Failure(std::string(kMemoryRefusal) +
                               "to make the classes \nThe earlier result is kept ");
    }
}

Status ClassifyStrips(StripSource& source, const Treatment& treatment, int threads,
                      const ClassSink& sink, Progress* progress,
                      const std::function<void()>& stopped) {
    if (treatment.classOf.empty()) return Status::Failure(" There is no result to save ");
    const int n = source.BandCount();
    const int columns = source.Size().columns;
    const int workers = source.Workers(threads);
    const size_t stripCells = static_cast<size_t>(source.StripLines()) * std::max(columns, 1);
    struct Part {
        std::unique_ptr<int32_t[]> line;
        std::unique_ptr<uint16_t[]> classes;  // a byte or two a class (WideClasses)
        std::vector<uint8_t> scratch;
        std::vector<const uint8_t*> values;
        std::vector<CodeOffset> offsets;  // of a sparse table
        std::vector<uint8_t> hasCode;
    };
    const bool sparse = treatment.table.Sparse();
    std::vector<Part> parts(static_cast<size_t>(workers));
    for (Part& part : parts) {
        if (sparse) {
            part.offsets.resize(static_cast<size_t>(std::max(columns, 1)));
            part.hasCode.resize(static_cast<size_t>(std::max(columns, 1)));
        }
        part.line.reset(new int32_t[static_cast<size_t>(std::max(columns, 1))]);
        part.classes.reset(new uint16_t[treatment.WideClasses() ? stripCells : stripCells / 2 + 1]);
        part.values.resize(static_cast<size_t>(n));
    }
    return source.ForEachStrip(
        workers,
        [&](int worker, int index, const Strip& strip) {
            Part& part = parts[static_cast<size_t>(worker)];
            for (int i = 0; i < strip.count; ++i) {
                for (int b = 0; b < n; ++b) part.values[b] = strip.Gray(b, i);
                const size_t at = static_cast<size_t>(i) * columns;
                int64_t masked = 0;
                if (sparse) {
                    FormOffsets(treatment.offsetKernel, part.values.data(), columns,
                                part.offsets.data(), part.hasCode.data());
                    for (int x = 0; x < columns; ++x) part.line[x] = part.hasCode[x];
                    ClearCodesWithoutData(strip, i, part.line.get(), part.scratch, masked);
                    if (treatment.WideClasses())
                        ClassifyOffsets<uint16_t>(part.offsets.data(), part.line.get(), columns,
                                                  treatment.classByOffset, NoWideClass,
                                                  part.classes.get() + at);
                    else
                        ClassifyOffsets<uint8_t>(
                            part.offsets.data(), part.line.get(), columns, treatment.classByOffset,
                            NoClass, reinterpret_cast<uint8_t*>(part.classes.get()) + at);
                    continue;
                }
                FormCodes(treatment.kernel, part.values.data(), columns, part.line.get());
                ClearCodesWithoutData(strip, i, part.line.get(), part.scratch, masked);
                if (treatment.WideClasses())
                    ClassifyLine(part.line.get(), columns, treatment.wideClassOf,
                                 part.classes.get() + at);
                else
                    ClassifyLine(part.line.get(), columns, treatment.classOf,
                                 reinterpret_cast<uint8_t*>(part.classes.get()) + at);
            }
            return sink(worker, index, strip, reinterpret_cast<const uint8_t*>(part.classes.get()));
        },
        progress, kStagePainting, stopped);
}

void NumberLine(const Treatment& treatment, int band, const uint8_t* gray, const uint8_t* marks,
                int columns, uint8_t* numbers) {
    NumberSegmentLine(gray, static_cast<size_t>(columns), treatment.numberings[band], numbers);
    if (marks) ClearNodata(marks, static_cast<size_t>(columns), numbers);
}

}  // namespace tessera
