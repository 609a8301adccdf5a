// A job whose passes the processes of a cluster run over windows of lines (tessera.dask.run):
// the driver's WindowedJob, the steps a task takes on its window, and the passes over a
// window's gray levels. No rule is decided here.
#include "job/windowed.h"

#include "bands/percentiles.h"
#include "job/choices.h"
#include "treatment.h"

namespace tessera::python {

namespace {

using ByteArray = py::array_t<uint8_t, py::array::c_style>;
using Given = std::vector<std::tuple<std::string, std::string, std::string>>;

py::array_t<int64_t> ArrayOfFinder(const RankFinder& finder) {
    return ArrayOf(finder.Numbers());
}

// The gray levels and marks of a window of every band: (bands, lines, columns) bytes each.
ImageSize WindowSize(const ByteArray& gray, const ByteArray& marks, int bands) {
    if (gray.ndim() != 3 || marks.ndim() != 3 || gray.shape(0) != bands ||
        marks.shape(0) != bands || gray.shape(1) != marks.shape(1) ||
        gray.shape(2) != marks.shape(2))
        RaiseValue("a window holds the gray levels and marks of " + std::to_string(bands) +
                   " bands, (bands, lines, columns) bytes each");
    return ImageSize{static_cast<int>(gray.shape(1)), static_cast<int>(gray.shape(2))};
}

// The window as a source of strips; marks only for the bands that may lack data.
MemoryStrips WindowStrips(const ByteArray& gray, const ByteArray& marks,
                          const std::vector<bool>& marked) {
    const int n = static_cast<int>(marked.size());
    const ImageSize size = WindowSize(gray, marks, n);
    const size_t cells = Cells(size);
    const auto lent = [](const uint8_t* data) {
        return std::shared_ptr<const uint8_t[]>(data, [](const uint8_t*) {});
    };
    std::vector<BandPlane> planes;
    for (int b = 0; b < n; ++b)
        planes.push_back({lent(gray.data() + cells * static_cast<size_t>(b)),
                          marked[static_cast<size_t>(b)]
                              ? lent(marks.data() + cells * static_cast<size_t>(b))
                              : nullptr});
    return MemoryStrips(size, std::move(planes));
}

// Pass 1 over a window: per band its histogram, pixels without data, those NaN or infinite and
// those a mask leaves without data, (bands, 259) numbers.
py::array_t<int64_t> WindowStatistics(const ByteArray& gray, const ByteArray& marks,
                                      const std::vector<bool>& marked) {
    const int n = static_cast<int>(marked.size());
    MemoryStrips strips = WindowStrips(gray, marks, marked);
    Result<BandStatistics> statistics;
    {
        py::gil_scoped_release release;
        statistics = GatherStatistics(strips, 1);
    }
    return StatisticsArray(Take(std::move(statistics)), n);
}


// What a window's passes 2 and 3 need of the treatment: the bands' segmentations (for the code
// table and look-ups) and, for the classes, each code's class. Picklable.
class GrayPlan {
  public:
    // Of a sparse table, the classes are those of the codes kept (`keptOffsets`, ascending,
    // class `keptClasses`) and `classOf` only says that there are classes.
    GrayPlan(std::vector<Segmenting> segmentations, std::vector<bool> marked,
             std::vector<uint8_t> classOf, std::vector<uint16_t> wideClassOf = {},
             int classCount = 0, std::vector<CodeOffset> keptOffsets = {},
             std::vector<uint16_t> keptClasses = {})
        : segmentations_(std::move(segmentations)),
          marked_(std::move(marked)),
          classOf_(std::move(classOf)),
          wideClassOf_(std::move(wideClassOf)),
          classCount_(classCount),
          keptOffsets_(std::move(keptOffsets)),
          keptClasses_(std::move(keptClasses)) {
        if (segmentations_.size() != marked_.size())
            RaiseValue("give one segmentation and one mark rule per band");
        if (keptOffsets_.size() != keptClasses_.size())
            RaiseValue("give a class for every code kept");
        std::vector<ArrayBand> bands(segmentations_.size());
        plan_ = Take(MakeBlockPlan(std::move(bands), RecordsOf(segmentations_), {}, true));
        if (!classOf_.empty()) {
            const bool sparse = plan_.treatment.table.Sparse();
            if (!sparse &&
                classOf_.size() != static_cast<size_t>(plan_.treatment.table.CodeCount) + 1)
                RaiseValue("give the class of every code 0..N");
            plan_.treatment.classOf = classOf_;
            plan_.treatment.wideClassOf = wideClassOf_;
            plan_.treatment.classCount = classCount_;
            for (size_t k = 0; k < keptOffsets_.size(); ++k)
                plan_.treatment.classByOffset.emplace_back(keptOffsets_[k], keptClasses_[k]);
            if (!std::is_sorted(plan_.treatment.classByOffset.begin(),
                                plan_.treatment.classByOffset.end()))
                RaiseValue("give the codes kept in ascending order");
        }
    }
    py::tuple State() const {
        return py::make_tuple(segmentations_, marked_, classOf_, wideClassOf_, classCount_,
                              keptOffsets_, keptClasses_);
    }
    int CodeCount() const { return plan_.treatment.table.CodeCount; }

    // The pixels of every code 0..N, then those without data, then those of them masked.
    py::array_t<int64_t> Counts(const ByteArray& gray, const ByteArray& marks) const {
        CodeTally counts = Tally(gray, marks);
        if (plan_.treatment.table.Sparse()) RaiseValue("the code table is counted sparsely");
        counts.pixelCount.push_back(counts.withoutData);
        counts.pixelCount.push_back(counts.masked);
        return ArrayOf(counts.pixelCount);
    }
    // The codes that occur in the window, as offsets ascending, their pixels, and the pixels
    // without a code, without data and masked: what travels is the codes held, whatever the
    // size of the table.
    py::tuple CodeCounts(const ByteArray& gray, const ByteArray& marks) const {
        return CodeCountsOf(plan_.treatment.table, Tally(gray, marks));
    }

    CodeTally Tally(const ByteArray& gray, const ByteArray& marks) const {
        MemoryStrips strips = WindowStrips(gray, marks, marked_);
        Result<CodeTally> tally;
        {
            py::gil_scoped_release release;
            tally = CountCodes(strips, plan_.treatment, 1);
        }
        return Take(std::move(tally));
    }

    // The window's classes, and with `segments` the last band's segment numbers.
    py::tuple Classes(const ByteArray& gray, const ByteArray& marks, bool segments) const {
        if (classOf_.empty()) RaiseValue("the plan holds no classes");
        MemoryStrips strips = WindowStrips(gray, marks, marked_);
        const ImageSize size = strips.Size();
        const int n = static_cast<int>(marked_.size());
        // More than 250 classes are 16-bit, in the machine's order.
        const size_t width = plan_.treatment.WideClasses() ? 2 : 1;
        py::array classes = width == 2 ? py::array(NewArray<uint16_t>({size.lines, size.columns}))
                                       : py::array(Plane(size));
        py::array_t<uint8_t> numbers = Plane(segments ? size : ImageSize{0, 0});
        uint8_t* out = static_cast<uint8_t*>(classes.mutable_data());
        uint8_t* numbered = numbers.mutable_data();
        const size_t columns = static_cast<size_t>(size.columns);
        Status done;
        {
            py::gil_scoped_release release;
            done = ClassifyStrips(
                strips, plan_.treatment, 1,
                [&](int, int, const Strip& strip, const uint8_t* lines) {
                    const size_t at = static_cast<size_t>(strip.first) * columns;
                    std::copy(lines, lines + static_cast<size_t>(strip.count) * columns * width,
                              out + at * width);
                    for (int i = 0; segments && i < strip.count; ++i)
                        NumberLine(plan_.treatment, n, strip.Gray(n - 1, i),
                                   strip.Marks(n - 1, i), size.columns,
                                   numbered + at + static_cast<size_t>(i) * columns);
                    return Status::Ok();
                });
        }
        Check(done);
        return py::make_tuple(classes, segments ? py::object(numbers) : py::none());
    }

  private:
    std::vector<Segmenting> segmentations_;
    std::vector<bool> marked_;
    std::vector<uint8_t> classOf_;
    std::vector<uint16_t> wideClassOf_;
    int classCount_ = 0;
    std::vector<CodeOffset> keptOffsets_;
    std::vector<uint16_t> keptClasses_;
    BlockPlan plan_;
};

std::vector<std::optional<StretchRange>> StretchesOf(const std::vector<Stretch>& given) {
    std::vector<std::optional<StretchRange>> stretches;
    for (const Stretch& stretch : given) stretches.push_back(StretchOf(stretch));
    return stretches;
}

// The job the choices describe, read as the core reads a front end's choices (a refusal worded
// for Python), that tells no stage.
job::Options QuietOptionsOf(const Given& given) {
    std::vector<job::Given> choices;
    for (const auto& [option, value, second] : given) choices.push_back({option, value, second});
    const Result<job::Options> described = job::DescribeJob(choices, job::Speaker::Python);
    if (!described) RaiseRefusal(job::Refusal::Usage, described.message);
    job::Options options = *described.value;
    options.quiet = true;
    options.progress = false;
    return options;
}

// The job the choices describe, opened for windows: by the driver (without stretches), or by a
// task (with those the driver decided).
// A window's stored values as a task keeps them (PyWindowedJob::Stored).
using StoredArray = py::array_t<uint8_t, py::array::c_style | py::array::forcecast>;

class PyWindowedJob {
  public:
    PyWindowedJob(const Given& given, const std::vector<Stretch>& stretches) : given_(given) {
        const job::Options options = QuietOptionsOf(given);
        job::JobOutcome refused;
        {
            py::gil_scoped_release release;
            job_ = job::WindowedJob::Open(options, StretchesOf(stretches), refused);
        }
        if (!job_) RaiseRefusal(refused.kind, refused.message);
    }

    py::tuple Size() const { return py::make_tuple(job_->Size().lines, job_->Size().columns); }
    int BandCount() const { return static_cast<int>(Marked().size()); }
    std::vector<bool> Marked() const {
        std::vector<bool> marked;
        for (int b = 1; b <= job_->Job().State().BandCount(); ++b)
            marked.push_back(job_->Job().MayLackData(b));
        return marked;
    }
    std::vector<int> Windows(int lines) const { return job_->Windows(lines); }
    std::string Out() const { return job_->Choices().out; }
    bool Segmented() const { return !job_->Choices().saveSegmented.empty(); }

    // ----- a task's steps on its window -----
    py::tuple Read(int first, int count) const { return ReadWith(first, count, {}, nullptr); }
    py::tuple ReadWith(int first, int count, const std::vector<int>& kept,
                       const uint8_t* stored) const {
        const int n = BandCount();
        const ImageSize size{count, job_->Size().columns};
        if (count < 1) RaiseValue("a window holds at least one line");
        py::array_t<uint8_t> gray = NewArray<uint8_t>({n, size.lines, size.columns});
        py::array_t<uint8_t> marks = NewArray<uint8_t>({n, size.lines, size.columns});
        uint8_t* g = gray.mutable_data();
        uint8_t* m = marks.mutable_data();
        Status read;
        {
            py::gil_scoped_release release;
            read = job_->Job().ReadWindowFrom(first, count, kept, stored, g, m);
        }
        if (!read) RaiseRefusal(job::Refusal::Input, read.message);
        return py::make_tuple(gray, marks);
    }
    std::vector<int> OwnRangeBands() const { return job_->Job().OwnRangeBands(); }
    // The window's own-range bands of 16 bits as stored, decoded once and kept by the caller:
    // (bands, count x columns x 2) bytes.
    std::vector<int> StoredBands() const { return job_->Job().StoredBands(); }
    py::array_t<uint8_t> Stored(int first, int count) const {
        if (count < 1) RaiseValue("a window holds at least one line");
        const py::ssize_t bands = static_cast<py::ssize_t>(StoredBands().size());
        py::array_t<uint8_t> stored =
            NewArray<uint8_t>({bands, py::ssize_t{2} * count * py::ssize_t{job_->Size().columns}});
        uint8_t* out = stored.mutable_data();
        Status read;
        {
            py::gil_scoped_release release;
            read = job_->Job().StoredOfWindow(first, count, out);
        }
        if (!read) RaiseRefusal(job::Refusal::Input, read.message);
        return stored;
    }
    py::tuple RangesFrom(int first, int count, const StoredArray& stored) const {
        CheckStored(count, StoredBands().size(), stored);
        const size_t own = OwnRangeBands().size();
        std::vector<double> low(own, std::numeric_limits<double>::infinity());
        std::vector<double> high(own, -std::numeric_limits<double>::infinity());
        Status read;
        {
            py::gil_scoped_release release;
            read = job_->Job().RangesFromStored(first, count, stored.data(), low, high);
        }
        if (!read) RaiseRefusal(job::Refusal::Input, read.message);
        return py::make_tuple(ArrayOf(low), ArrayOf(high));
    }
    // Read, with bands `kept` made from their stored values kept before.
    py::tuple ReadFrom(int first, int count, const std::vector<int>& kept,
                       const StoredArray& stored) const {
        CheckStored(count, kept.size(), stored);
        return ReadWith(first, count, kept, stored.data());
    }
    py::tuple Ranges(int first, int count) const {
        const size_t own = OwnRangeBands().size();
        std::vector<double> low(own, std::numeric_limits<double>::infinity());
        std::vector<double> high(own, -std::numeric_limits<double>::infinity());
        Status read;
        {
            py::gil_scoped_release release;
            read = job_->Job().RangesOfWindow(first, count, low, high);
        }
        if (!read) RaiseRefusal(job::Refusal::Input, read.message);
        return py::make_tuple(ArrayOf(low), ArrayOf(high));
    }
    std::vector<int> PercentileBands() const {
        std::vector<int> bands;
        for (int b = 1; b <= BandCount(); ++b)
            if (const RasterSource* raster = job_->Job().Raster(b);
                raster && raster->Percentiles() && !raster->Stretch() && !raster->IsByte())
                bands.push_back(b);
        return bands;
    }
    py::array_t<int64_t> NewFinder(int band) const {
        return ArrayOfFinder(RasterOf(band).NewPercentileFinder());
    }
    // The window's count into a cleared copy of the search.
    py::array_t<int64_t> CountPercentiles(int band, const Int64Array& search, int first,
                                          int count) const {
        RankFinder part = FinderOf(search).Cleared();
        Status read;
        {
            py::gil_scoped_release release;
            read = RasterOf(band).CountPercentileLines(part, first, count);
        }
        if (!read) RaiseRefusal(job::Refusal::Input, read.message);
        return ArrayOfFinder(part);
    }
    py::array_t<int64_t> RankFinderOf(int band, const Int64Array& search) const {
        RankFinder finder = FinderOf(search);
        if (Status ranked = RasterOf(band).RankPercentileFinder(finder); !ranked)
            RaiseRefusal(job::Refusal::Input, job::InWordsOf(job::Speaker::Python, ranked.message));
        return ArrayOfFinder(finder);
    }
    void TakePercentiles(int band, const Int64Array& search) {
        if (Status taken = RasterOf(band).TakePercentilesFound(FinderOf(search)); !taken)
            RaiseRefusal(job::Refusal::Input, job::InWordsOf(job::Speaker::Python, taken.message));
    }
    void TakeRanges(const std::vector<double>& low, const std::vector<double>& high) {
        if (Status taken = job_->Job().TakeOwnRanges(low, high); !taken)
            RaiseRefusal(job::Refusal::Input, job::InWordsOf(job::Speaker::Python, taken.message));
    }
    std::vector<Stretch> Stretches() const {
        std::vector<Stretch> stretches;
        for (const std::optional<StretchRange>& range : job_->Job().Stretches())
            stretches.push_back(range ? Stretch(std::pair{range->minimum, range->maximum})
                                      : Stretch());
        return stretches;
    }

    // ----- the driver's steps -----
    // Pass 1's sums, then (with `segment`) the bands' segmentation the choices give.
    void TakeStatistics(const Int64Array& sums, bool segment) {
        const BandStatistics statistics = StatisticsOf(sums, BandCount());
        if (!segment) {
            if (Status taken = job_->Job().TakeStatistics(statistics); !taken)
                RaiseRefusal(job::Refusal::Input,
                             job::InWordsOf(job::Speaker::Python, taken.message));
            return;
        }
        const job::JobOutcome taken = job_->TakeStatistics(statistics);
        if (!taken.Done()) RaiseRefusal(taken.kind, taken.message);
    }
    // The pixels of each value of band b in a window (StreamedJob::CountValues).
    py::tuple CountValues(int band, int first, int count) const {
        std::vector<int64_t> counts;
        int64_t lowest = 0;
        Status counted;
        {
            py::gil_scoped_release release;
            counted = job_->Job().CountValues(band, counts, lowest, first, count);
        }
        if (!counted) RaiseRefusal(job::Refusal::Input, counted.message);
        return py::make_tuple(ArrayOf(counts), lowest);
    }
    tessera::StreamedJob& Streamed() { return job_->Job(); }
    // Refused before the windows are counted when memory cannot hold a sparse count.
    GrayPlan CountPlan() const {
        const std::string refused = SparseCountCheck(job_->Job().State(), job_->Job().Size());
        if (!refused.empty()) RaiseRefusal(job::Refusal::Input, job::OneLine(refused));
        return GrayPlan(SegmentationsOf(), Marked(), {});
    }
    void TakeCounts(const Int64Array& counts) {
        const size_t codes = static_cast<size_t>(job_->Job().Table().CodeCount) + 1;
        if (counts.ndim() != 1 || static_cast<size_t>(counts.shape(0)) != codes + 2)
            RaiseValue("the counts of " + std::to_string(codes - 1) + " codes are " +
                       std::to_string(codes + 2) + " numbers");
        CodeTally tally;
        tally.pixelCount.assign(counts.data(), counts.data() + codes);
        tally.withoutData = counts.data()[codes];
        tally.masked = counts.data()[codes + 1];
        const job::JobOutcome taken = job_->TakeCounts(std::move(tally));
        if (!taken.Done()) RaiseRefusal(taken.kind, taken.message);
    }
    // Code counts merged from the windows (merge_code_counts).
    void TakeCodeCounts(const py::tuple& counts) {
        std::optional<CodeTally> tally = TallyOf(job_->Job().Table(), counts);
        if (!tally) RaiseValue(" The counts are not those of this code table ");
        const job::JobOutcome taken = job_->TakeCounts(std::move(*tally));
        if (!taken.Done()) RaiseRefusal(taken.kind, taken.message);
    }
    GrayPlan ClassPlan() const {
        const tessera::Treatment& state = job_->Job().State();
        if (!state.table.Sparse())
            return GrayPlan(SegmentationsOf(), Marked(), state.classOf, state.wideClassOf,
                            state.classCount);
        // The workers need only the codes kept, not a class for every code that occurs.
        std::vector<CodeOffset> offsets;
        std::vector<uint16_t> classes;
        for (const auto& [offset, kept] : state.classByOffset) {
            offsets.push_back(offset);
            classes.push_back(kept);
        }
        return GrayPlan(SegmentationsOf(), Marked(), {NoClass}, {}, state.classCount,
                        std::move(offsets), std::move(classes));
    }
    // The files, from the windows' classes that `next(k)` gives as (classes, segments or None).
    PyTreatment Save(const std::vector<int>& windows, const py::function& next) {
        py::object held;  // the window being written, kept alive while it is
        py::object heldSegments;
        std::string failure;
        const auto given = [&](int k, const uint8_t*& classes, const uint8_t*& segments) {
            py::gil_scoped_acquire acquire;
            try {
                py::tuple window = next(k);
                held = window[0];
                heldSegments = window[1];
                const auto lines = py::cast<py::array>(held);
                const int count = windows[static_cast<size_t>(k) + 1] - windows[static_cast<size_t>(k)];
                const py::ssize_t width = job_->Job().State().WideClasses() ? 2 : 1;
                if (lines.ndim() != 2 || lines.shape(0) != count ||
                    lines.shape(1) != job_->Size().columns || lines.itemsize() != width ||
                    !(lines.flags() & py::array::c_style))
                    return Status::Failure(" Window " + std::to_string(k + 1) +
                                           " of classes has another size ");
                classes = static_cast<const uint8_t*>(lines.data());
                segments = nullptr;
                if (!heldSegments.is_none()) segments = py::cast<ByteArray>(heldSegments).data();
                return Status::Ok();
            } catch (py::error_already_set& error) {
                failure = error.what();
                return Status::Failure(" " + failure + " ");
            }
        };
        job::JobOutcome outcome;
        {
            py::gil_scoped_release release;
            outcome = job_->Save(windows, given);
        }
        if (!outcome.Done()) RaiseRefusal(outcome.kind, outcome.message);
        return PyTreatment(outcome);
    }
    PyTreatment Current() const {
        job::JobOutcome outcome;
        outcome.treatment = job_->Job().State();
        outcome.size = job_->Size();
        return PyTreatment(outcome);
    }

  private:
    void CheckStored(int count, size_t bands, const StoredArray& stored) const {
        if (count < 1) RaiseValue("a window holds at least one line");
        if (stored.ndim() != 2 || stored.shape(0) != static_cast<py::ssize_t>(bands) ||
            stored.shape(1) != py::ssize_t{2} * count * job_->Size().columns)
            RaiseValue("the stored values of a window are (bands, 2 x lines x columns) bytes");
    }
    RasterSource& RasterOf(int band) const {
        RasterSource* raster = job_->Job().Raster(band);
        if (raster == nullptr) RaiseValue("band " + std::to_string(band) + " is no raster");
        return *raster;
    }
    std::vector<Segmenting> SegmentationsOf() const {
        std::vector<Segmenting> all;
        const tessera::Treatment& treatment = job_->Job().State();
        for (int b = 1; b <= treatment.BandCount(); ++b)
            all.push_back(SegmentationOf(treatment.records[b]));
        return all;
    }
    Given given_;
    std::unique_ptr<job::WindowedJob> job_;
};

// A fit whose scenes' passes run as windows (the Python callbacks): read(k, stretches) gives
// scene k's PyWindowedJob with pass 1's sums taken; values(job, b) band b's value counts as
// (counts, lowest); count(job) the code counts of a job segmented as the fit says.
PyTreatment FitWith(const Given& given, const py::function& read, const py::function& values,
                    const py::function& count) {
    const job::Options options = QuietOptionsOf(given);
    py::object held;
    const auto failed = [](py::error_already_set& error) {
        std::string text = error.what();
        if (error.matches(PyExc_Exception)) text = py::str(error.value());
        return text;
    };
    const auto stretchList = [](const std::vector<std::optional<StretchRange>>& stretches) {
        py::list list;
        for (const auto& range : stretches)
            list.append(range ? py::object(py::make_tuple(range->minimum, range->maximum))
                              : py::none());
        return list;
    };
    job::ScenePasses passes;
    passes.read = [&](int scene, const std::vector<std::optional<StretchRange>>& stretches)
        -> Result<const tessera::StreamedJob*> {
        using R = Result<const tessera::StreamedJob*>;
        py::gil_scoped_acquire acquire;
        try {
            held = read(scene, stretchList(stretches));
            return R::Of(&held.cast<PyWindowedJob&>().Streamed());
        } catch (py::error_already_set& error) {
            return R::Failure(failed(error));
        }
    };
    passes.countValues = [&](int band, std::vector<int64_t>& counts, int64_t& lowest) {
        py::gil_scoped_acquire acquire;
        try {
            const py::tuple answer = values(held, band);
            const auto sums = answer[0].cast<Int64Array>();
            counts.assign(sums.data(), sums.data() + sums.size());
            lowest = answer[1].cast<int64_t>();
            return Status::Ok();
        } catch (py::error_already_set& error) {
            return Status::Failure(failed(error));
        }
    };
    passes.count = [&](int scene, const std::vector<std::optional<StretchRange>>& stretches,
                       const SavedTreatment& fitted) -> Result<CodeTally> {
        using R = Result<CodeTally>;
        py::gil_scoped_acquire acquire;
        try {
            held = read(scene, stretchList(stretches));
            tessera::StreamedJob& job = held.cast<PyWindowedJob&>().Streamed();
            if (Status taken = job.TakeSavedSegmentation(fitted); !taken)
                return R::Failure(taken.message);
            if (Status segmented = job.FinishSegmentation(); !segmented)
                return R::Failure(segmented.message);
            std::optional<CodeTally> tally = TallyOf(job.Table(), count(held).cast<py::tuple>());
            if (!tally) return R::Failure(" The counts are not those of this code table ");
            return R::Of(std::move(*tally));
        } catch (py::error_already_set& error) {
            return R::Failure(failed(error));
        }
    };
    job::JobOutcome outcome;
    {
        py::gil_scoped_release release;
        outcome = job::TellAsRun(job::FitTreatment(options, nullptr, &passes), options);
    }
    held = py::none();
    if (!outcome.Done()) RaiseRefusal(outcome.kind, outcome.message);
    return PyTreatment(outcome);
}

}  // namespace

void BindWindowed(py::module_& m) {
    py::class_<GrayPlan>(m, "GrayPlan")
        .def(py::init<std::vector<Segmenting>, std::vector<bool>, std::vector<uint8_t>,
                      std::vector<uint16_t>, int, std::vector<CodeOffset>,
                      std::vector<uint16_t>>())
        .def_property_readonly("code_count", &GrayPlan::CodeCount)
        .def("counts", &GrayPlan::Counts)
        .def("code_counts", &GrayPlan::CodeCounts)
        .def("classes", &GrayPlan::Classes)
        .def(py::pickle([](const GrayPlan& plan) { return plan.State(); },
                        [](const py::tuple& state) {
                            return GrayPlan(state[0].cast<std::vector<Segmenting>>(),
                                            state[1].cast<std::vector<bool>>(),
                                            state[2].cast<std::vector<uint8_t>>(),
                                            state[3].cast<std::vector<uint16_t>>(),
                                            state[4].cast<int>(),
                                            state[5].cast<std::vector<CodeOffset>>(),
                                            state[6].cast<std::vector<uint16_t>>());
                        }));
    py::class_<PyWindowedJob>(m, "WindowedJob")
        .def(py::init<const Given&, const std::vector<Stretch>&>())
        .def_property_readonly("size", &PyWindowedJob::Size)
        .def_property_readonly("band_count", &PyWindowedJob::BandCount)
        .def_property_readonly("marked", &PyWindowedJob::Marked)
        .def_property_readonly("out", &PyWindowedJob::Out)
        .def_property_readonly("segmented", &PyWindowedJob::Segmented)
        .def("windows", &PyWindowedJob::Windows, py::arg("lines") = 0)
        .def("read", &PyWindowedJob::Read)
        .def("own_range_bands", &PyWindowedJob::OwnRangeBands)
        .def("stored_bands", &PyWindowedJob::StoredBands)
        .def("stored", &PyWindowedJob::Stored)
        .def("ranges_from", &PyWindowedJob::RangesFrom)
        .def("read_from", &PyWindowedJob::ReadFrom)
        .def("ranges", &PyWindowedJob::Ranges)
        .def("take_ranges", &PyWindowedJob::TakeRanges)
        .def("percentile_bands", &PyWindowedJob::PercentileBands)
        .def("new_finder", &PyWindowedJob::NewFinder)
        .def("count_percentiles", &PyWindowedJob::CountPercentiles)
        .def("rank_finder", &PyWindowedJob::RankFinderOf)
        .def("take_percentiles", &PyWindowedJob::TakePercentiles)
        .def("stretches", &PyWindowedJob::Stretches)
        .def("take_statistics", &PyWindowedJob::TakeStatistics, py::arg("sums"),
             py::arg("segment") = true)
        .def("count_values", &PyWindowedJob::CountValues)
        .def("count_plan", &PyWindowedJob::CountPlan)
        .def("take_counts", &PyWindowedJob::TakeCounts)
        .def("take_code_counts", &PyWindowedJob::TakeCodeCounts)
        .def("class_plan", &PyWindowedJob::ClassPlan)
        .def("save", &PyWindowedJob::Save)
        .def("treatment", &PyWindowedJob::Current);
    m.def("fit_with", &FitWith,
          "--fit-treatment with each scene's passes run by the callbacks read, values, count.");
    m.def("merge_code_counts", &MergeCodeCounts,
          "The sum of windows' code counts (GrayPlan.code_counts), the codes ascending.");
    m.def("window_statistics", &WindowStatistics,
          "Pass 1 over a window's gray levels and marks: (bands, 259) numbers.");
    m.def("merge_finders", [](const Int64Array& a, const Int64Array& b) {
        RankFinder total = FinderOf(a);
        if (!total.Merge(FinderOf(b))) RaiseValue("these percentile searches are not one search");
        return ArrayOfFinder(total);
    });
    m.def("end_finder_pass", [](const Int64Array& a) {
        RankFinder finder = FinderOf(a);
        finder.EndPass();
        return ArrayOfFinder(finder);
    });
    m.def("finder_done", [](const Int64Array& a) { return FinderOf(a).Done(); });
}

}  // namespace tessera::python
