#pragma once
// The plan every block of a treatment needs (tessera._core.Plan).
#include "common.h"

namespace tessera::python {

// The plan every block of a treatment needs, picklable so that it travels to other processes.
class PyPlan {
  public:
    // `selected`: the codes of classes 1..K (of a sparse table, past 2^24 codes, up to 2^64).
    PyPlan(std::vector<BandDescription> bands, std::vector<Segmenting> segmentations,
           std::vector<uint64_t> selected, std::vector<MaskGiven> masks)
        : descriptions_(std::move(bands)),
          segmentations_(std::move(segmentations)),
          selected_(std::move(selected)),
          maskDescriptions_(std::move(masks)) {
        std::vector<ArrayBand> values;
        for (const BandDescription& d : descriptions_) values.push_back(BandOf(d));
        std::vector<ArrayMask> masked;
        for (const MaskGiven& m : maskDescriptions_) masked.push_back(MaskOf(m));
        if (segmentations_.empty()) {
            plan_.bands = std::move(values);
            plan_.masks = std::move(masked);
            return;
        }
        if (segmentations_.size() != values.size()) RaiseValue("give one segmentation per band");
        plan_ = Take(MakeBlockPlan(std::move(values), RecordsOf(segmentations_), {}, true));
        plan_.masks = std::move(masked);
        segmented_ = true;
        if (!selected_.empty()) KeepClasses();
    }

    py::tuple State() const {
        return py::make_tuple(descriptions_, segmentations_, selected_, maskDescriptions_);
    }
    int BandCount() const { return static_cast<int>(plan_.bands.size()); }
    int CodeCount() const { return plan_.treatment.table.CodeCount; }
    bool Sparse() const { return plan_.treatment.table.Sparse(); }

    py::array_t<int64_t> Statistics(const std::vector<py::array>& blocks) const {
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(AllBlocks(), blocks, size);
        Result<BandStatistics> statistics;
        {
            py::gil_scoped_release release;
            statistics = BlockStatistics(plan_.bands, values, size, plan_.masks);
        }
        return StatisticsArray(Take(std::move(statistics)), BandCount());
    }

    py::array_t<double> Ranges(const std::vector<py::array>& blocks) const {
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(AllBlocks(), blocks, size);
        py::array_t<double> out({BandCount(), 2});
        double* ends = out.mutable_data();
        {
            py::gil_scoped_release release;
            const std::vector<uint8_t> masked = Masked(values, size);
            for (size_t b = 0; b < plan_.bands.size(); ++b) {
                const ValueRange range = BlockRange(plan_.bands[b], values[b], Cells(size),
                                                    masked.empty() ? nullptr : masked.data());
                ends[2 * b] = range.low;
                ends[2 * b + 1] = range.high;
            }
        }
        return out;
    }

    // The pixels of every code 0..N, then those without data: N + 2 numbers (and with masks,
    // the pixels only the masks leave without data: N + 3).
    py::array_t<int64_t> Counts(const std::vector<py::array>& blocks) const {
        if (Sparse())
            RaiseValue("the code table holds " + plan_.treatment.table.TotalText() +
                       " codes, counted only where they occur (tessera.dask.treat counts them)");
        CodeTally counts = Tally(blocks);
        counts.pixelCount.push_back(counts.withoutData);
        // With masks, then the pixels only they leave without data.
        if (!plan_.masks.empty()) counts.pixelCount.push_back(counts.masked);
        return ArrayOf(counts.pixelCount);
    }

    // The codes that occur in the blocks, their pixels and those without a code, without data
    // and masked (CodeCountsOf): what travels is the codes held, whatever the table's size.
    py::tuple CodeCounts(const std::vector<py::array>& blocks) const {
        return CodeCountsOf(plan_.treatment.table, Tally(blocks));
    }

    py::array_t<int32_t> Codes(const std::vector<py::array>& blocks) const {
        Segmented();
        if (Sparse()) RaiseValue("the codes of a table past 2^24 codes are not 32-bit");
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(AllBlocks(), blocks, size);
        py::array_t<int32_t> codes({size.lines, size.columns});
        int32_t* out = codes.mutable_data();
        Status done;
        {
            py::gil_scoped_release release;
            done = BlockCodes(plan_, values, size, out);
        }
        Check(done);
        return codes;
    }

    // The classes of the blocks: bytes (255: none), or with more than 250 classes 16-bit in
    // the machine's order (65535: none).
    py::array Classes(const std::vector<py::array>& blocks) const {
        Segmented();
        if (selected_.empty()) RaiseValue("the plan holds no codes kept as classes");
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(AllBlocks(), blocks, size);
        const bool wide = plan_.treatment.WideClasses();
        py::array classes = wide ? py::array(NewArray<uint16_t>({size.lines, size.columns}))
                                 : py::array(Plane(size));
        uint8_t* out = static_cast<uint8_t*>(classes.mutable_data());
        Status done;
        {
            py::gil_scoped_release release;
            done = BlockClasses(plan_, values, size, out);
        }
        Check(done);
        return classes;
    }

    py::array_t<uint8_t> SegmentNumbers(int band, const py::array& block) const {
        Segmented();
        if (band < 1 || band > BandCount()) RaiseValue("there is no band " + std::to_string(band));
        ImageSize size;
        std::vector<ArrayBand> only{plan_.bands[static_cast<size_t>(band) - 1]};
        const std::vector<ValueBlock> values = BlocksOf(only, {block}, size);
        py::array_t<uint8_t> numbers = Plane(size);
        uint8_t* out = numbers.mutable_data();
        Status done;
        {
            py::gil_scoped_release release;
            done = BlockSegmentNumbers(plan_, band, values[0], size, out);
        }
        Check(done);
        return numbers;
    }

    // A part of the percentile search of band `band`: the finder's numbers (a cleared copy of
    // the search's), with the block's values counted.
    py::array_t<int64_t> CountPercentiles(int band, const Int64Array& finder,
                                          const std::vector<py::array>& blocks) const {
        if (band < 1 || band > BandCount()) RaiseValue("there is no band " + std::to_string(band));
        RankFinder part = FinderOf(finder).Cleared();
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(AllBlocks(), blocks, size);
        {
            py::gil_scoped_release release;
            const std::vector<uint8_t> masked = Masked(values, size);
            CountBlockPercentiles(plan_.bands[static_cast<size_t>(band) - 1],
                                  values[static_cast<size_t>(band) - 1],
                                  masked.empty() ? nullptr : masked.data(), Cells(size), part);
        }
        return ArrayOf(part.Numbers());
    }

  private:
    CodeTally Tally(const std::vector<py::array>& blocks) const {
        Segmented();
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(AllBlocks(), blocks, size);
        Result<CodeTally> tally;
        {
            py::gil_scoped_release release;
            tally = BlockCounts(plan_, values, size);
        }
        return Take(std::move(tally));
    }
    // Class k for the k-th code selected: by code number in a dense table; by the code itself
    // in a sparse one, whose codes are numbered only once counted.
    void KeepClasses() {
        Treatment& treatment = plan_.treatment;
        if (!Sparse()) {
            std::vector<int32_t> codes{0};
            for (const uint64_t code : selected_) {
                if (code < 1 || code > static_cast<uint64_t>(treatment.table.CodeCount))
                    RaiseValue("code " + std::to_string(code) + " is not one of the table's");
                codes.push_back(static_cast<int32_t>(code));
            }
            RandomBelow ownColours;  // the colours are the client's
            Check(tessera::FinishCrossing(treatment, ownColours, std::move(codes)));
            return;
        }
        if (selected_.size() > static_cast<size_t>(kMostClassCount))
            RaiseValue("at most " + std::to_string(kMostClassCount) + " classes");
        for (size_t k = 0; k < selected_.size(); ++k) {
            if (selected_[k] < 1 || WideCount{selected_[k]} > treatment.table.TotalCodes())
                RaiseValue("code " + std::to_string(selected_[k]) + " is not one of the table's");
            treatment.classByOffset.emplace_back(selected_[k] - 1, static_cast<uint16_t>(k + 1));
        }
        std::sort(treatment.classByOffset.begin(), treatment.classByOffset.end());
        treatment.classOf = {NoClass};  // there are classes
        treatment.classCount = static_cast<int>(selected_.size());
    }
    // What every block holds: the bands', then the masks' values.
    std::vector<ArrayBand> AllBlocks() const {
        std::vector<ArrayBand> all = plan_.bands;
        for (const ArrayMask& mask : plan_.masks) all.push_back(MakeArrayBand(mask.type, {}, {}));
        return all;
    }
    // The masked pixels of the blocks (empty without masks).
    std::vector<uint8_t> Masked(const std::vector<ValueBlock>& values, ImageSize size) const {
        std::vector<uint8_t> masked;
        if (plan_.masks.empty()) return masked;
        masked.assign(Cells(size), 0);
        for (size_t m = 0; m < plan_.masks.size(); ++m)
            MarkMaskedBlock(plan_.masks[m], values[plan_.bands.size() + m], Cells(size),
                            masked.data());
        return masked;
    }
    void Segmented() const {
        if (!segmented_) RaiseValue("the plan holds no segmentation of the bands");
    }
    std::vector<BandDescription> descriptions_;
    std::vector<Segmenting> segmentations_;
    std::vector<uint64_t> selected_;  // 1..K
    std::vector<MaskGiven> maskDescriptions_;
    BlockPlan plan_;
    bool segmented_ = false;
};

}  // namespace tessera::python
