#include "workspace/streamedjob.h"

#include <unistd.h>

#include <algorithm>
#include <new>
#include <system_error>
#include <thread>

#include "bands/decodedgroup.h"
#include "bands/gdalsupport.h"
#include "image/rawfiles.h"
#include "workspace/treatmentapply.h"

namespace tessera {

namespace {

// A strip of about this many bytes per band: the strips of ten bands and their codes stay
// within a core's second-level cache, and a band is read in a few hundred calls.
constexpr int64_t kStripBytes = int64_t{64} << 10;
constexpr int kMaximumThreads = 64;

}  // namespace

int ThreadsOf(const StreamSettings& settings) {
    if (settings.threads > 0) return std::min(settings.threads, kMaximumThreads);
    return std::min(MachineThreads(), kMaximumThreads);
}

int StripLinesOf(const StreamSettings& settings, int columns) {
    if (settings.stripLines > 0) return settings.stripLines;
    return static_cast<int>(std::clamp<int64_t>(kStripBytes / std::max(columns, 1), 1, 1024));
}

int64_t KeptBytesOf(const StreamSettings& settings) {
    if (settings.keptBytes >= 0) return settings.keptBytes;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return int64_t{1} << 30;
    return static_cast<int64_t>(pages) * pageSize / 4;
}

int64_t StreamedMemoryNeed(ImageSize size, int bandCount, const StreamSettings& settings) {
    const int64_t strip =
        int64_t{StripLinesOf(settings, size.columns)} * BitmapStride(size.columns);
    // Per thread: the strips of the bands, a line of codes, the class and segment strips.
    const int64_t perThread =
        strip * (std::clamp(bandCount, 1, kMaximumJobBands) + 2) + int64_t{size.columns} * 4;
    return perThread * ThreadsOf(settings) + (int64_t{1} << 20);
}

StreamedJob::StreamedJob(StreamSettings settings) : settings_(settings) {}

StreamedJob::~StreamedJob() = default;

void StreamedJob::BeginBandSet(int bandCount) {
    bandCount_ = std::clamp(bandCount, 0, kMaximumJobBands);
    bandSet_.Begin(bandCount);
    strips_.reset();
    read_.reset();
    readers_.clear();
    readers_.resize(static_cast<size_t>(bandCount_) + 1);
    treatment_.Begin(bandCount_);
    treatment_.sparseCounts = true;
    threads_ = ThreadsOf(settings_);
}

Status StreamedJob::LoadBand(int band, const std::string& path, BandFileType type,
                             BandLoadOptions options) {
    if (band < 1 || band > bandCount_)
        return Status::Failure(" There is no band " + std::to_string(band) + " ");
    const StreamSettings settings = settings_;
    options.memoryNeed = [settings](ImageSize size, int bandCount) {
        return StreamedMemoryNeed(size, bandCount, settings);
    };
    options.ownStretchLater = true;  // found with the other bands', in ReadBands
    Result<BandReader> reader = bandSet_.Open(band, path, type, options);
    if (!reader) return Status::Failure(reader.message);
    const ImageSize size = reader.value->Size();
    // GDAL's block cache holds a row of blocks of every raster band at once, so that a strip
    // read never decodes a block twice; it is bounded to that, and counted with the strips.
    std::vector<const BandReader*> rasters{reader.value.operator->()};
    for (int b = 1; b <= bandCount_; ++b)
        if (b != band && readers_[b].IsOpen()) rasters.push_back(&readers_[b]);
    const int64_t cache = RasterCacheNeed(rasters);
    if (options.checkMemory && cache > 0) {
        if (const Status fits = bandSet_.CheckMemoryNeed(
                path, size, StreamedMemoryNeed(size, bandCount_, settings_) + cache);
            !fits)
            return fits;
    }
    if (cache > 0) BoundRasterCache(cache);
    try {
        BandRecord record;
        record.filePath = path;
        record.nodata = reader.value->Nodata();
        record.georeference = reader.value->Georef();
        record.rasterBand = type == BandFileType::Raster ? options.rasterBand : 0;
        bandSet_.Accept(band, path, size, record.georeference);
        // Nothing below allocates: the band is taken whole or not at all.
        readers_[band] = std::move(*reader.value);
        treatment_.records[band] = std::move(record);
        size_ = size;
        strips_.reset();
        read_.reset();
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        return Status::Failure(" Not enough memory to keep the band " + path +
                               " \nThe band was not loaded ");
    }
}

void StreamedJob::SetMask(std::shared_ptr<const PixelMask> mask, std::vector<std::string> texts) {
    for (int b = 1; b <= bandCount_; ++b) readers_[b].SetExclusion(mask);
    treatment_.masks = std::move(texts);
    treatment_.maskDescriptions = mask ? mask->Descriptions() : std::vector<MaskDescription>{};
    strips_.reset();
    read_.reset();
}

namespace {

// Where every value is kept already, the memory of those that become gray levels goes back to
// the system as they do (they become so in place); else the blocks decoded later take it.
void SettleKeptMemory(const std::vector<RasterSource*>& rasters) {
    bool decodesMore = false;
    for (const RasterSource* raster : rasters)
        decodesMore = decodesMore || (raster->KeepsValues() && !raster->ReadsFromKept());
    for (RasterSource* raster : rasters) raster->TrimKept(!decodesMore);
}

}  // namespace

Status StreamedJob::ReadBands() {
    if (read_) return *read_;
    const int n = bandCount_;
    for (int b = 1; b <= n; ++b)
        if (!readers_[b].IsOpen()) return Status::Failure(MissingBandMessage(b));
    const auto refuse = [&](Status status) {
        read_ = status;
        strips_.reset();
        return status;
    };
    try {
        // Each tile of a raster is decoded once: its values are kept for the later passes.
        std::vector<RasterSource*> rasters;
        for (int b = 1; b <= n; ++b)
            if (RasterSource* raster = readers_[b].MutableRaster()) rasters.push_back(raster);
        RasterSource::KeepDecodedValues(rasters, KeptBytesOf(settings_), settings_.spillFolder);
        RasterSource::KeepValuesWithinGrayLevels(rasters);
        strips_ =
            std::make_unique<FileStrips>(readers_, size_, StripLinesOf(settings_, size_.columns));
        strips_->Plan(threads_);
        // The stretches of the bands that take their own range, then the histograms: every
        // band read at once, strip by strip, so that a block of a file is decoded once a pass.
        if (Status chosen = strips_->ChooseStretches(readers_, threads_); !chosen)
            return refuse(chosen);
        // Every stretch is known: the passes read gray levels, each value converted once.
        for (RasterSource* raster : rasters) raster->KeepGrayLevels();
        SettleKeptMemory(rasters);
        Result<BandStatistics> statistics = KeptStatistics();
        if (!statistics) {
            statistics = GatherStatistics(*strips_, threads_);
            SettleKeptMemory(rasters);
        }
        if (!statistics) return refuse(Status::Failure(statistics.message));
        if (Status taken = AcceptStatistics(*statistics.value); !taken) return refuse(taken);
        return *read_;
    } catch (const std::bad_alloc&) {
        return refuse(Status::Failure(std::string(kMemoryRefusal) + "to read the bands "));
    }
}

Result<BandStatistics> StreamedJob::KeptStatistics() const {
    // Counted as the values kept became gray levels, where every band's were: no pass.
    const int n = bandCount_;
    BandStatistics statistics;
    const size_t bands = static_cast<size_t>(n) + 1;
    statistics.histograms.assign(bands, Histogram{});
    statistics.withoutData.assign(bands, 0);
    statistics.nonFinite.assign(bands, 0);
    statistics.masked.assign(bands, 0);
    for (int b = 1; b <= n; ++b) {
        const RasterSource* raster = readers_[b].Raster();
        if (raster == nullptr ||
            !raster->KeptStatistics(statistics.histograms[b], statistics.withoutData[b],
                                    statistics.nonFinite[b]) ||
            (statistics.withoutData[b] > 0 && !readers_[b].MayLackData()))
            return Result<BandStatistics>::Failure("");
    }
    return Result<BandStatistics>::Of(std::move(statistics));
}

Status StreamedJob::AcceptStatistics(const BandStatistics& statistics) {
    const int n = bandCount_;
    if (statistics.histograms.size() != static_cast<size_t>(n) + 1 ||
        statistics.withoutData.size() != static_cast<size_t>(n) + 1)
        return Status::Failure(" The statistics are not those of this band set ");
    for (int b = 1; b <= n; ++b) {
        const BandReader& file = readers_[b];
        if (file.MayLackData() &&
            statistics.withoutData[b] == int64_t{size_.lines} * size_.columns)
            return Status::Failure(file.Refusal(
                AllNodataReason(file.Nodata(), file.Raster() && file.Raster()->IsFloating())));
    }
    tessera::TakeStatistics(treatment_, statistics);
    for (int b = 1; b <= n; ++b) treatment_.records[b].stretch = readers_[b].Stretch();
    read_ = Status::Ok();
    return *read_;
}

std::string StreamedJob::DataType(int band) const {
    if (band < 1 || band > bandCount_ || readers_[band].Raster() == nullptr) return "Byte";
    return readers_[band].Raster()->DataType();
}

Status StreamedJob::TakeSavedSegmentation(const SavedTreatment& saved) {
    if (Status read = ReadBands(); !read) return read;
    tessera::TakeSavedSegmentation(treatment_, saved);
    return Status::Ok();
}

Status StreamedJob::TakeSavedClasses(const SavedTreatment& saved, const std::string& path) {
    return tessera::TakeSavedClasses(treatment_, saved, path);
}

void StreamedJob::SetSegmentation(int band, int type, int count,
                                  const std::vector<int32_t>& typedUpper) {
    if (band < 1 || band > bandCount_) return;
    if (!ReadBands()) return;  // FinishSegmentation gives the refusal
    SetBandSegmentation(treatment_, band, type, count, typedUpper);
}

Status StreamedJob::FinishSegmentation() {
    const int n = bandCount_;
    if (n < 1) return Status::Failure(" There is no band set to segment ");
    for (int b = 1; b <= n; ++b)
        if (!readers_[b].IsOpen()) return Status::Failure(MissingBandMessage(b));
    if (Status read = ReadBands(); !read) return read;
    if (Status finished = tessera::FinishSegmentation(treatment_, random_); !finished)
        return finished;
    return Status::Ok();
}

Status StreamedJob::CountValues(int band, std::vector<int64_t>& counts, int64_t& lowest,
                                int first, int count) const {
    if (band < 1 || band > bandCount_ || !readers_[band].Raster())
        return Status::Failure(" Band " + std::to_string(band) + " is no raster ");
    return readers_[band].Raster()->CountValues(counts, lowest, first, count);
}

Status StreamedJob::CountCodes() {
    if (treatment_.byGray.empty() || !strips_)
        return Status::Failure(" The bands are not segmented ");
    Result<CodeTally> tally = tessera::CountCodes(*strips_, treatment_, threads_);
    if (!tally) return Status::Failure(tally.message);
    tessera::TakeCounts(treatment_, std::move(*tally.value));
    return Status::Ok();
}

Status StreamedJob::FinishCrossing(std::vector<int32_t> selectedCodes) {
    if (treatment_.pixelCount.empty()) return Status::Failure(" The bands are not segmented ");
    return tessera::FinishCrossing(treatment_, random_, std::move(selectedCodes));
}

std::optional<Georeference> StreamedJob::Place() const {
    return SharedGeoreference(treatment_.records);
}

Status StreamedJob::Save(const std::string& stem, const std::string& segmentedStem,
                         ResultFiles files) {
    if (treatment_.classOf.empty() || !strips_)
        return Status::Failure(" There is no result to save ");
    const int n = bandCount_;
    const int columns = size_.columns;
    const bool segmented = !segmentedStem.empty();
    const int workers = strips_->Workers(threads_);
    // The values kept for the passes are let go on a thread of their own while the files are
    // finished: giving back some hundreds of megabytes of pages takes the system a while.
    struct Joined {
        std::thread thread;
        ~Joined() {
            if (thread.joinable()) thread.join();
        }
    } letGo;
    return SaveFrom(
        stem, segmentedStem, files, workers, [&](ResultWriter& result, SegmentedWriter* segments) {
            const size_t stripCells = static_cast<size_t>(strips_->StripLines()) * columns;
            std::vector<std::unique_ptr<uint8_t[]>> numbers;
            if (segmented)
                for (int w = 0; w < workers; ++w) numbers.emplace_back(new uint8_t[stripCells]);
            const Status written = ClassifyStrips(
                *strips_, treatment_, threads_,
                [&](int worker, int index, const Strip& strip, const uint8_t* classes) {
                    result.Write(worker, index, strip.first, strip.count, classes);
                    if (segments) {
                        // The last band's segment numbers, from the same strip.
                        uint8_t* line = numbers[static_cast<size_t>(worker)].get();
                        for (int i = 0; i < strip.count; ++i)
                            NumberLine(treatment_, n, strip.Gray(n - 1, i), strip.Marks(n - 1, i),
                                       columns, line + static_cast<size_t>(i) * columns);
                        segments->Write(strip.first, strip.count, line);
                    }
                    return Status::Ok();
                },
                nullptr, [&] { result.Abandon(); });
            if (!written) return written;  // every staged file is removed as it goes
            // The last pass is over: its buffers and the values kept for it make room for what
            // finishing the files needs (a band read again is decoded again).
            strips_->Release();
            numbers.clear();
            std::vector<std::shared_ptr<KeptValues>> kept;
            for (int b = 1; b <= n; ++b)
                if (RasterSource* raster = readers_[b].MutableRaster())
                    for (std::shared_ptr<KeptValues>& values : raster->DropKept())
                        kept.push_back(std::move(values));
            try {
                letGo.thread = std::thread([held = std::move(kept)]() mutable { held.clear(); });
            } catch (const std::system_error&) {
                // No thread to be had: they go here (the lambda's capture is dropped with it).
            }
            return Status::Ok();
        });
}

Status StreamedJob::SaveWindows(const std::string& stem, const std::string& segmentedStem,
                                ResultFiles files, const std::vector<int>& windowFirst,
                                const WindowClasses& next, int threads) {
    if (treatment_.classOf.empty()) return Status::Failure(" There is no result to save ");
    if (windowFirst.size() < 2 || windowFirst.front() != 0 ||
        windowFirst.back() != size_.lines ||
        std::adjacent_find(windowFirst.begin(), windowFirst.end(), std::greater_equal<int>()) !=
            windowFirst.end())
        return Status::Failure(" The windows do not cover the scene ");
    return SaveFrom(stem, segmentedStem, files, std::max(threads, 1),
                    [&](ResultWriter& result, SegmentedWriter* segments) {
                        for (size_t k = 0; k + 1 < windowFirst.size(); ++k) {
                            const uint8_t* classes = nullptr;
                            const uint8_t* numbers = nullptr;
                            if (Status given = next(static_cast<int>(k), classes, numbers);
                                !given || classes == nullptr || (segments && !numbers)) {
                                result.Abandon();
                                return given ? Status::Failure(" A window of classes is missing ")
                                             : given;
                            }
                            const int first = windowFirst[k];
                            const int count = windowFirst[k + 1] - first;
                            result.Write(0, static_cast<int>(k), first, count, classes);
                            if (segments) segments->Write(first, count, numbers);
                        }
                        return Status::Ok();
                    });
}

Status StreamedJob::SaveFrom(const std::string& stem, const std::string& segmentedStem,
                             ResultFiles files, int workers, const ClassProducer& produce) {
    try {
        ResultWriter result(stem, size_, treatment_, files, "tessera-batch", workers);
        std::optional<SegmentedWriter> segments;
        if (!segmentedStem.empty())
            segments.emplace(segmentedStem, size_, treatment_.segmentColourTable);
        if (Status written = produce(result, segments ? &*segments : nullptr); !written)
            return written;

        // The result and the segmented band are one set, put in place together or not at all.
        std::vector<RasterPair*> others;
        if (segments) others.push_back(&segments->Rasters());
        FileSet set;
        if (Status staged = result.Stage(set, others); !staged) return staged;
        if (segments) segments->Stage(set);
        std::vector<std::string> failed;
        set.Commit(failed);
        return CollectedSaveStatus(failed);
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to save " + stem + " ");
    }
}

Status StreamedJob::ReadWindow(int first, int count, uint8_t* gray, uint8_t* marks) const {
    return ReadWindowFrom(first, count, {}, nullptr, gray, marks);
}

namespace {

Status OutsideScene(int first, int count) {
    return Status::Failure(" Lines " + std::to_string(first + 1) + " to " +
                           std::to_string(first + count) + " are not in the scene ");
}

}  // namespace

Status StreamedJob::ReadWindowFrom(int first, int count, const std::vector<int>& kept,
                                   const uint8_t* stored, uint8_t* gray, uint8_t* marks) const {
    const int n = bandCount_;
    if (first < 0 || count < 1 || first + count > size_.lines) return OutsideScene(first, count);
    const size_t cells = static_cast<size_t>(count) * size_.columns;
    for (const int b : kept)
        if (b < 1 || b > n || !readers_[b].Raster() || !readers_[b].Raster()->StoresSixteenBits())
            return Status::Failure(" Band " + std::to_string(b) + " is kept as no 16-bit values ");
    std::vector<const BandReader*> sources;
    std::vector<uint8_t*> lines, marking;
    for (int b = 1; b <= n; ++b) {
        const auto at = std::find(kept.begin(), kept.end(), b);
        if (at != kept.end()) {
            // From the values the caller kept, through the band's table.
            uint8_t* marked = marks + cells * static_cast<size_t>(b - 1);
            if (!readers_[b].MayLackData()) std::fill(marked, marked + cells, uint8_t{0});
            const uint8_t* values = stored + 2 * cells * static_cast<size_t>(at - kept.begin());
            if (Status made = readers_[b].Raster()->GrayOfStored(
                    first, count, values, gray + cells * static_cast<size_t>(b - 1),
                    readers_[b].MayLackData() ? marked : nullptr);
                !made)
                return made;
            continue;
        }
        sources.push_back(&readers_[b]);
        lines.push_back(gray + cells * static_cast<size_t>(b - 1));
        uint8_t* marked = marks + cells * static_cast<size_t>(b - 1);
        if (!readers_[b].MayLackData()) std::fill(marked, marked + cells, uint8_t{0});
        marking.push_back(readers_[b].MayLackData() ? marked : nullptr);
    }
    if (sources.empty()) return Status::Ok();
    return ReadLinesTogether(sources, first, count, lines.data(), marking.data());
}

std::vector<int> StreamedJob::StoredBands() const {
    std::vector<int> bands;
    for (const int b : OwnRangeBands())
        if (readers_[b].Raster()->StoresSixteenBits()) bands.push_back(b);
    return bands;
}

Status StreamedJob::StoredOfWindow(int first, int count, uint8_t* stored) const {
    if (first < 0 || count < 1 || first + count > size_.lines) return OutsideScene(first, count);
    const size_t bytes = 2 * static_cast<size_t>(count) * size_.columns;
    const std::vector<int> kept = StoredBands();
    for (size_t i = 0; i < kept.size(); ++i)
        if (Status read = readers_[kept[i]].Raster()->ReadStored(first, count, stored + i * bytes);
            !read)
            return read;
    return Status::Ok();
}

Status StreamedJob::RangesFromStored(int first, int count, const uint8_t* stored,
                                     std::vector<double>& low, std::vector<double>& high) const {
    const std::vector<int> own = OwnRangeBands();
    if (low.size() != own.size() || high.size() != own.size())
        return Status::Failure(" Give a range for every band that takes its own ");
    if (first < 0 || count < 1 || first + count > size_.lines) return OutsideScene(first, count);
    const size_t bytes = 2 * static_cast<size_t>(count) * size_.columns;
    const std::vector<int> kept = stored ? StoredBands() : std::vector<int>{};
    std::vector<double> values;
    for (size_t i = 0; i < own.size(); ++i) {
        const RasterSource* raster = readers_[own[i]].Raster();
        const auto at = std::find(kept.begin(), kept.end(), own[i]);
        if (at != kept.end()) {
            if (Status folded = raster->FoldStoredRange(
                    first, count, stored + bytes * static_cast<size_t>(at - kept.begin()), low[i],
                    high[i]);
                !folded)
                return folded;
            continue;
        }
        const int window = raster->WindowColumns();
        for (int x0 = 0; x0 < size_.columns; x0 += window)
            if (Status read = DecodedGroup({raster}).FoldRange(
                    {first, count, x0, std::min(window, size_.columns - x0)}, &low[i], &high[i],
                    values);
                !read)
                return read;
    }
    return Status::Ok();
}

std::vector<int> StreamedJob::OwnRangeBands() const {
    std::vector<int> bands;
    for (int b = 1; b <= bandCount_; ++b)
        if (readers_[b].Raster() && readers_[b].Raster()->NeedsStretch()) bands.push_back(b);
    return bands;
}

Status StreamedJob::RangesOfWindow(int first, int count, std::vector<double>& low,
                                   std::vector<double>& high) const {
    return RangesFromStored(first, count, nullptr, low, high);
}

Status StreamedJob::TakeOwnRanges(const std::vector<double>& low, const std::vector<double>& high) {
    std::vector<RasterSource*> own;
    for (const int b : OwnRangeBands()) own.push_back(readers_[b].MutableRaster());
    if (low.size() != own.size() || high.size() != own.size())
        return Status::Failure(" Give a range for every band that takes its own ");
    return tessera::TakeOwnRanges(own, {low}, {high});
}

RasterSource* StreamedJob::Raster(int band) {
    if (band < 1 || band > bandCount_) return nullptr;
    return readers_[band].MutableRaster();
}

const RasterSource* StreamedJob::Raster(int band) const {
    if (band < 1 || band > bandCount_) return nullptr;
    return readers_[band].Raster();
}

std::vector<std::optional<StretchRange>> StreamedJob::Stretches() const {
    std::vector<std::optional<StretchRange>> stretches;
    for (int b = 1; b <= bandCount_; ++b) {
        const std::optional<GrayStretch> stretch = readers_[b].Stretch();
        stretches.push_back(stretch ? std::optional<StretchRange>(stretch->range) : std::nullopt);
    }
    return stretches;
}

Status StreamedJob::TakeStatistics(const BandStatistics& statistics) {
    try {
        return AcceptStatistics(statistics);
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to read the bands ");
    }
}

Status StreamedJob::TakeCounts(CodeTally tally) {
    if (treatment_.byGray.empty()) return Status::Failure(" The bands are not segmented ");
    const CodeTable& table = treatment_.table;
    bool fits = table.Sparse() ? tally.held.size() == tally.pixelCount.size() && !tally.held.empty()
                               : tally.pixelCount.size() == static_cast<size_t>(table.CodeCount) + 1;
    // A sparse count's codes ascend, each once, within the table.
    for (size_t k = 2; fits && k < tally.held.size(); ++k) fits = tally.held[k - 1] < tally.held[k];
    if (fits && table.Sparse() && tally.held.size() > 1)
        fits = static_cast<WideCount>(tally.held.back()) < table.TotalCodes();
    if (!fits) return Status::Failure(" The counts are not those of this code table ");
    tessera::TakeCounts(treatment_, std::move(tally));
    return Status::Ok();
}

}  // namespace tessera
