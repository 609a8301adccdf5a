#pragma once
// The plan every block of a treatment needs (tessera._core.Plan).
#include "common.h"

namespace tessera::python {

// The plan every block of a treatment needs, picklable so that it travels to other processes.
class PyPlan {
  public:
    PyPlan(std::vector<BandDescription> bands, std::vector<Segmenting> segmentations,
           std::vector<int32_t> selected)
        : descriptions_(std::move(bands)),
          segmentations_(std::move(segmentations)),
          selected_(std::move(selected)) {
        std::vector<ArrayBand> values;
        for (const BandDescription& d : descriptions_) values.push_back(BandOf(d));
        if (segmentations_.empty()) {
            plan_.bands = std::move(values);
            return;
        }
        if (segmentations_.size() != values.size()) RaiseValue("give one segmentation per band");
        std::vector<int32_t> codes;
        if (!selected_.empty()) {
            codes.push_back(0);
            codes.insert(codes.end(), selected_.begin(), selected_.end());
        }
        plan_ = Take(MakeBlockPlan(std::move(values), RecordsOf(segmentations_), codes));
        segmented_ = true;
    }

    py::tuple State() const { return py::make_tuple(descriptions_, segmentations_, selected_); }
    int BandCount() const { return static_cast<int>(plan_.bands.size()); }
    int CodeCount() const { return plan_.treatment.table.CodeCount; }

    py::array_t<int64_t> Statistics(const std::vector<py::array>& blocks) const {
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(plan_.bands, blocks, size);
        Result<BandStatistics> statistics;
        {
            py::gil_scoped_release release;
            statistics = BlockStatistics(plan_.bands, values, size);
        }
        return StatisticsArray(Take(std::move(statistics)), BandCount());
    }

    py::array_t<double> Ranges(const std::vector<py::array>& blocks) const {
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(plan_.bands, blocks, size);
        py::array_t<double> out({BandCount(), 2});
        double* ends = out.mutable_data();
        {
            py::gil_scoped_release release;
            for (size_t b = 0; b < values.size(); ++b) {
                const ValueRange range = BlockRange(plan_.bands[b], values[b], Cells(size));
                ends[2 * b] = range.low;
                ends[2 * b + 1] = range.high;
            }
        }
        return out;
    }

    // The pixels of every code 0..N, then those without data: N + 2 numbers.
    py::array_t<int64_t> Counts(const std::vector<py::array>& blocks) const {
        Segmented();
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(plan_.bands, blocks, size);
        Result<CodeTally> tally;
        {
            py::gil_scoped_release release;
            tally = BlockCounts(plan_, values, size);
        }
        CodeTally counts = Take(std::move(tally));
        counts.pixelCount.push_back(counts.withoutData);
        return ArrayOf(counts.pixelCount);
    }

    py::array_t<int32_t> Codes(const std::vector<py::array>& blocks) const {
        Segmented();
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(plan_.bands, blocks, size);
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

    py::array_t<uint8_t> Classes(const std::vector<py::array>& blocks) const {
        Segmented();
        if (selected_.empty()) RaiseValue("the plan holds no codes kept as classes");
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(plan_.bands, blocks, size);
        py::array_t<uint8_t> classes = Plane(size);
        uint8_t* out = classes.mutable_data();
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

  private:
    void Segmented() const {
        if (!segmented_) RaiseValue("the plan holds no segmentation of the bands");
    }
    std::vector<BandDescription> descriptions_;
    std::vector<Segmenting> segmentations_;
    std::vector<int32_t> selected_;  // 1..K
    BlockPlan plan_;
    bool segmented_ = false;
};

}  // namespace tessera::python
