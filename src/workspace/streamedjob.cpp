#include "workspace/streamedjob.h"

#include <sys/uio.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "crossing/maplegend.h"
#include "crossing/mapresult.h"
#include "crossing/report.h"
#include "image/rawfiles.h"
#include "support/paths.h"
#include "support/safefile.h"

namespace tessera {

namespace {

constexpr double kNoValue = std::numeric_limits<double>::infinity();
// Rows of blocks taller than this are read this many lines at a time.
constexpr int kMaximumGroupLines = 1024;
// A strip of about this many bytes per band: the strips of ten bands and their codes stay
// within a core's second-level cache, and a band is read in a few hundred calls.
constexpr int64_t kStripBytes = int64_t{64} << 10;
constexpr int kMaximumThreads = 64;
// Stored lines of an 8-bit bitmap start here, after the headers and the palette.
constexpr int64_t kBitmapPixelOffset = 1078;

int64_t BitmapStride(int columns) {
    return (int64_t{columns} + 3) / 4 * 4;
}

// The file-size field of a bitmap is 32 bits wide: WriteBitmapFile refuses larger ones.
bool BitmapFits(ImageSize size) {
    return kBitmapPixelOffset + BitmapStride(size.columns) * size.lines <= int64_t{0xffffffff};
}

// Runs task(worker, t) for t = 0..count - 1 on up to `threads` threads (worker 0..threads - 1),
// each taking the next task left; the refusal of the first task refused, whatever the
// threads. Throws std::bad_alloc when a task ran out of memory.
Status RunTasks(size_t count, int threads, const std::function<Status(int, size_t)>& task) {
    std::atomic<size_t> next{0};
    std::mutex refusing;
    size_t refusedTask = count;
    Status refusal = Status::Ok();
    std::atomic<bool> outOfMemory{false};
    auto work = [&](int worker) {
        try {
            for (size_t t = next++; t < count; t = next++) {
                Status done = task(worker, t);
                if (done) continue;
                const std::lock_guard<std::mutex> lock(refusing);
                if (t < refusedTask) {
                    refusedTask = t;
                    refusal = std::move(done);
                }
            }
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    };
    std::vector<std::thread> helpers;
    try {
        for (int w = 1; w < std::min<int>(threads, static_cast<int>(count)); ++w)
            helpers.emplace_back(work, w);
    } catch (const std::system_error&) {
        // Fewer threads: the tasks are shared among those that started.
    }
    work(0);
    for (std::thread& helper : helpers) helper.join();
    if (outOfMemory) throw std::bad_alloc();
    return refusal;
}

// Memory that needs no zero fill: every byte is written before it is read.
std::unique_ptr<uint8_t[]> Bytes(size_t count) {
    return std::unique_ptr<uint8_t[]>(new uint8_t[count]);
}

}  // namespace

// The lines of every band read at once when a band's file is stored in rows of blocks taller
// than a strip (a tiled GeoTIFF): a whole row of blocks, each block decoded once, the bands
// shared out among the threads; then the threads take their strips from here. The marks of
// the pixels without data are kept in two bits a pixel.
class LineGroup {
  public:
    LineGroup(int bandCount, int lines, int columns)
        : lines_(lines),
          columns_(static_cast<size_t>(columns)),
          markStride_((columns_ + 3) / 4),
          bandBytes_(static_cast<size_t>(lines) * columns_),
          gray_(Bytes(bandBytes_ * bandCount)),
          marks_(Bytes(markStride_ * lines * bandCount)),
          marked_(static_cast<size_t>(bandCount), false) {}

    // The bytes a group of these dimensions holds, for the memory check.
    static int64_t Need(int bandCount, int lines, int columns) {
        return int64_t{lines} * (columns + (columns + 3) / 4) * bandCount;
    }
    int Lines() const { return lines_; }

    // Lines first..first + count - 1 of bands 1..readers.size() - 1, on `threads` threads:
    // each file a few blocks wide at a time, the bands of a pixel-interleaved file together.
    Status Read(const std::vector<BandReader>& readers, int first, int count, int threads) {
        first_ = first;
        count_ = count;
        std::vector<const RasterSource*> rasters;
        std::vector<int> rasterBands;
        std::vector<Task> tasks;
        for (int b = 1; b < static_cast<int>(readers.size()); ++b) {
            marked_[b - 1] = readers[b].MayLackData();
            if (const RasterSource* raster = readers[b].Raster()) {
                rasters.push_back(raster);
                rasterBands.push_back(b);
            } else {
                tasks.push_back({{b}, 0, static_cast<int>(columns_)});
            }
        }
        for (const std::vector<size_t>& group : RasterSource::ReadGroups(rasters)) {
            std::vector<int> bands;
            for (size_t i : group) bands.push_back(rasterBands[i]);
            const int window = rasters[group[0]]->WindowColumns();
            for (int x0 = 0; x0 < static_cast<int>(columns_); x0 += window)
                tasks.push_back({bands, x0, std::min(window, static_cast<int>(columns_) - x0)});
        }
        const size_t workers = static_cast<size_t>(std::max(threads, 1));
        if (marksScratch_.size() < workers) marksScratch_.resize(workers);
        if (values_.size() < workers) values_.resize(workers);
        return RunTasks(tasks.size(), threads, [&](int worker, size_t t) {
            return ReadTask(readers, tasks[t], worker);
        });
    }

    // Lines first..first + count - 1 (within the group) of band b (0 = the first): the gray
    // levels, and the marks when the band has any.
    void Copy(int band, int first, int count, uint8_t* gray, uint8_t* marks) const {
        const size_t line = static_cast<size_t>(first - first_);
        std::memcpy(gray, gray_.get() + bandBytes_ * static_cast<size_t>(band) + line * columns_,
                    static_cast<size_t>(count) * columns_);
        if (marks == nullptr) return;
        const uint8_t* packed = marks_.get() + markStride_ * (lines_ * static_cast<size_t>(band) + line);
        for (int y = 0; y < count; ++y, packed += markStride_, marks += columns_)
            for (size_t x = 0; x < columns_; ++x)
                marks[x] = static_cast<uint8_t>((packed[x >> 2] >> ((x & 3) * 2)) & 3);
    }

  private:
    struct Task {
        std::vector<int> bands;  // 1..n
        int x0 = 0, width = 0;
    };

    Status ReadTask(const std::vector<BandReader>& readers, const Task& task, int worker) {
        const size_t width = static_cast<size_t>(task.width);
        const size_t cells = static_cast<size_t>(count_) * width;
        std::vector<uint8_t>& scratch = marksScratch_[static_cast<size_t>(worker)];
        if (scratch.size() < cells * task.bands.size()) scratch.resize(cells * task.bands.size());
        std::vector<uint8_t*> gray, marks;
        for (size_t i = 0; i < task.bands.size(); ++i) {
            gray.push_back(gray_.get() + bandBytes_ * static_cast<size_t>(task.bands[i] - 1));
            marks.push_back(marked_[task.bands[i] - 1] ? scratch.data() + cells * i : nullptr);
        }
        if (readers[task.bands[0]].Raster() != nullptr) {
            std::vector<const RasterSource*> group;
            for (int b : task.bands) group.push_back(readers[b].Raster());
            if (Status read = RasterSource::ReadWindowRows(
                    group, first_, count_, task.x0, task.width, gray.data(), columns_,
                    marks.data(), worker, values_[static_cast<size_t>(worker)]);
                !read)
                return read;
        } else if (Status read =
                       readers[task.bands[0]].ReadLines(first_, count_, gray[0], marks[0]);
                   !read) {
            return read;
        }
        // Marks two bits a pixel, each line from a whole byte on: windows start at whole blocks
        // (multiples of 16 columns), so no two tasks share a byte.
        for (size_t i = 0; i < task.bands.size(); ++i) {
            if (marks[i] == nullptr) continue;
            uint8_t* band = marks_.get() + markStride_ * lines_ * static_cast<size_t>(task.bands[i] - 1);
            for (int y = 0; y < count_; ++y) {
                uint8_t* packed = band + markStride_ * static_cast<size_t>(y);
                const uint8_t* line = marks[i] + width * static_cast<size_t>(y);
                for (size_t x = 0; x < width; ++x) {
                    const size_t at = static_cast<size_t>(task.x0) + x;
                    const int shift = static_cast<int>(at & 3) * 2;
                    packed[at >> 2] = static_cast<uint8_t>(
                        (packed[at >> 2] & ~(3 << shift)) | ((line[x] & 3) << shift));
                }
            }
        }
        return Status::Ok();
    }

    int lines_;
    size_t columns_;
    size_t markStride_;
    size_t bandBytes_;
    std::unique_ptr<uint8_t[]> gray_;
    std::unique_ptr<uint8_t[]> marks_;
    std::vector<bool> marked_;
    std::vector<std::vector<uint8_t>> marksScratch_;  // a thread's marks before they are packed
    std::vector<std::vector<double>> values_;         // a thread's native values
    int first_ = 0, count_ = 0;
};

namespace {

// One thread's strip of every band, line after line, and the marks of the pixels without data
// of the bands that have a nodata value.
struct BandStrips {
    BandStrips(int bandCount, int stripLines, int columns)
        : lineBytes(static_cast<size_t>(columns)),
          stripBytes(lineBytes * static_cast<size_t>(stripLines)),
          bytes(Bytes(stripBytes * static_cast<size_t>(bandCount))),
          marks(Bytes(stripBytes * static_cast<size_t>(bandCount))),
          values(static_cast<size_t>(bandCount)) {}
    uint8_t* Band(int b) { return bytes.get() + stripBytes * static_cast<size_t>(b); }
    uint8_t* Marks(int b) { return marks.get() + stripBytes * static_cast<size_t>(b); }
    // Reads the strip of bands 1..readers.size() - 1 (readers[b] for band b).
    // Worker `turn` of `turns`: see ReadLinesTogether. From `group` when there is one (it
    // holds these lines).
    Status Read(const std::vector<BandReader>& readers, int first, int count, int turn,
                int turns, const LineGroup* group) {
        if (group) {
            for (size_t b = 1; b < readers.size(); ++b) {
                const int band = static_cast<int>(b) - 1;
                group->Copy(band, first, count, Band(band),
                            readers[b].MayLackData() ? Marks(band) : nullptr);
            }
            return Status::Ok();
        }
        sources.clear();
        lines.clear();
        marking.clear();
        for (size_t b = 1; b < readers.size(); ++b) {
            const int band = static_cast<int>(b) - 1;
            sources.push_back(&readers[b]);
            lines.push_back(Band(band));
            marking.push_back(readers[b].MayLackData() ? Marks(band) : nullptr);
        }
        return ReadLinesTogether(sources, first, count, lines.data(), marking.data(), turn, turns);
    }
    // Code 0 for every pixel of line i without data in a band that has a nodata value; the
    // number of such pixels.
    int64_t ClearNodata(const std::vector<BandReader>& readers, int i, int32_t* codes) {
        bool any = false;
        for (size_t b = 1; b < readers.size(); ++b) {
            if (!readers[b].MayLackData()) continue;
            const uint8_t* line = Marks(static_cast<int>(b) - 1) + lineBytes * i;
            if (!any) {
                std::copy(line, line + lineBytes, union_.begin());
                any = true;
            } else {
                for (size_t x = 0; x < lineBytes; ++x) union_[x] |= line[x];
            }
        }
        if (!any) return 0;
        int64_t count = 0;
        for (size_t x = 0; x < lineBytes; ++x) {
            if (union_[x] == 0) continue;
            codes[x] = 0;
            ++count;
        }
        return count;
    }
    // The lines of every band at line `i` of the strip.
    const uint8_t* const* Line(int i) {
        for (size_t b = 0; b < values.size(); ++b)
            values[b] = Band(static_cast<int>(b)) + lineBytes * i;
        return values.data();
    }
    size_t lineBytes;
    size_t stripBytes;
    std::unique_ptr<uint8_t[]> bytes;
    std::unique_ptr<uint8_t[]> marks;
    std::vector<const uint8_t*> values;
    std::vector<uint8_t> union_ = std::vector<uint8_t>(lineBytes);
    std::vector<const BandReader*> sources;
    std::vector<uint8_t*> lines, marking;
};

// A strip of a raster laid out as its bitmap stores it: the bottom line first, each line
// padded to whole words (the padding 0). The raw file takes the same lines top first.
struct RasterStrip {
    RasterStrip(int stripLines, int columns)
        : columns(columns),
          stride(static_cast<size_t>(BitmapStride(columns))),
          bytes(Bytes(stride * static_cast<size_t>(stripLines))),
          pieces(static_cast<size_t>(stripLines)) {
        for (int i = 0; i < stripLines; ++i)
            std::memset(bytes.get() + stride * i + columns, 0, stride - columns);
    }
    // Line i (0 = top) of a strip of `count` lines.
    uint8_t* Line(int i, int count) {
        return bytes.get() + stride * static_cast<size_t>(count - 1 - i);
    }
    void Write(StagedFile& bitmap, StagedFile& raw, ImageSize size, int first, int count) {
        if (!bitmap.Failed()) {
            const int64_t offset =
                kBitmapPixelOffset + int64_t{size.lines - first - count} * stride;
            const size_t length = stride * static_cast<size_t>(count);
            bitmap.WriteAt(offset, bytes.get(), length);
        }
        if (!raw.Failed()) {
            for (int i = 0; i < count; ++i)
                pieces[i] = {Line(i, count), static_cast<size_t>(columns)};
            raw.WriteAt(int64_t{first} * columns, pieces.data(), count);
        }
    }
    int columns;
    size_t stride;
    std::unique_ptr<uint8_t[]> bytes;
    std::vector<struct iovec> pieces;
};

// Turns taken strip by strip in their order: Wait(k) returns once strips 0..k - 1 are done,
// or false once some strip was abandoned (its thread failed), so that no thread waits forever.
class StripTurns {
  public:
    bool Wait(int strip) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return next_ == strip || abandoned_; });
        return !abandoned_;
    }
    void Done() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++next_;
        }
        changed_.notify_all();
    }
    // Abandons the turns when it dies before Keep(): a strip that fails, by refusal or by
    // exception, releases every thread waiting for it.
    class Abandon {
      public:
        Abandon(StripTurns& turns, bool used) : turns_(turns), kept_(!used) {}
        ~Abandon() {
            if (kept_) return;
            {
                const std::lock_guard<std::mutex> lock(turns_.mutex_);
                turns_.abandoned_ = true;
            }
            turns_.changed_.notify_all();
        }
        Abandon(const Abandon&) = delete;
        Abandon& operator=(const Abandon&) = delete;
        void Keep() { kept_ = true; }

      private:
        StripTurns& turns_;
        bool kept_;
    };

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int next_ = 0;
    bool abandoned_ = false;
};

}  // namespace

int ThreadsOf(const StreamSettings& settings) {
    if (settings.threads > 0) return std::min(settings.threads, kMaximumThreads);
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(cores), 1, kMaximumThreads);
}

int StripLinesOf(const StreamSettings& settings, int columns) {
    if (settings.stripLines > 0) return settings.stripLines;
    return static_cast<int>(std::clamp<int64_t>(kStripBytes / std::max(columns, 1), 1, 1024));
}

int64_t StreamedMemoryNeed(ImageSize size, int bandCount, const StreamSettings& settings) {
    const int64_t strip =
        int64_t{StripLinesOf(settings, size.columns)} * BitmapStride(size.columns);
    // Per thread: the strips of the bands, a line of codes, the class and segment strips.
    const int64_t perThread =
        strip * (std::clamp(bandCount, 1, kMaximumBands) + 2) + int64_t{size.columns} * 4;
    return perThread * ThreadsOf(settings) + (int64_t{1} << 20);
}

StreamedJob::StreamedJob(StreamSettings settings) : settings_(settings) {}

StreamedJob::~StreamedJob() {
    FinishCodeList();
}

void StreamedJob::FinishCodeList() {
    if (codeListWriter_.joinable()) codeListWriter_.join();
}

void StreamedJob::BeginBandSet(int bandCount) {
    bandCount_ = std::clamp(bandCount, 0, kMaximumBands);
    checks_.BeginBandSet(bandCount);
    readers_.clear();
    group_.reset();
    read_.reset();
    readers_.resize(static_cast<size_t>(bandCount_) + 1);
    records_.assign(static_cast<size_t>(bandCount_) + 1, BandRecord{});
    histograms_.assign(static_cast<size_t>(bandCount_) + 1, Histogram{});
    ranges_.assign(static_cast<size_t>(bandCount_) + 1, GrayRange{});
    threads_ = ThreadsOf(settings_);
}

Status StreamedJob::ForEachStrip(int stripCount, const std::function<Status(int, int)>& work) {
    if (!group_) return ForEachStripOf(0, stripCount, work);
    // A row of blocks of every band at a time, read once, then its strips.
    const int perGroup = group_->Lines() / stripLines_;
    for (int begin = 0; begin < stripCount; begin += perGroup) {
        const int first = begin * stripLines_;
        const int count = std::min(group_->Lines(), size_.lines - first);
        if (Status read = group_->Read(readers_, first, count, threads_); !read) return read;
        if (Status done = ForEachStripOf(begin, std::min(begin + perGroup, stripCount), work);
            !done)
            return done;
    }
    return Status::Ok();
}

Status StreamedJob::ForEachStripOf(int begin, int end,
                                   const std::function<Status(int, int)>& work) {
    const int stripCount = end;
    const int wanted = std::min(threads_, std::max(end - begin, 1));
    // Worker w starts with strip w, so that every thread takes part; then each takes the next
    // strip left, so that a thread slowed down by other work takes fewer.
    std::atomic<int> next{begin + wanted};
    std::atomic<bool> failed{false};
    bool outOfMemory = false;
    // The refusal of the first strip that could not be read: every strip before it was taken
    // and is finished, so it is the same whatever the threads.
    int refusedStrip = stripCount;
    Status refusal = Status::Ok();
    std::mutex refusing;
    // A worker takes strip `index`, then the strips reserved beyond it (reserved..wanted - 1,
    // those of threads that could not start), then the next strips left: the strips of one
    // worker come in increasing order, so that a strip that waits for the ones before it (the
    // class GeoTIFF's turns) never waits for a later one of its own thread.
    auto worker = [&](int index, int reserved) {
        int strip = begin + index;
        while (strip < stripCount && !failed.load()) {
            try {
                Status done = work(index, strip);
                if (done) {
                    strip = reserved < wanted ? begin + reserved++ : next.fetch_add(1);
                    continue;
                }
                const std::lock_guard<std::mutex> lock(refusing);
                if (strip < refusedStrip) {
                    refusedStrip = strip;
                    refusal = std::move(done);
                }
            } catch (const std::exception&) {
                const std::lock_guard<std::mutex> lock(refusing);
                outOfMemory = true;
            }
            failed.store(true);
            return;
        }
    };
    std::vector<std::thread> helpers;
    int started = 1;
    for (int index = 1; index < wanted; ++index, ++started) {
        try {
            helpers.emplace_back(worker, index, wanted);
        } catch (const std::exception&) {
            break;
        }
    }
    // Strips meant for threads that could not start are taken by this one.
    worker(0, started);
    for (std::thread& helper : helpers) helper.join();
    if (outOfMemory) throw std::bad_alloc();
    return refusal;
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
    Result<BandReader> reader = checks_.OpenBandFile(band, path, type, options);
    if (!reader) return Status::Failure(reader.message);
    const ImageSize size = reader.value->Size();
    // GDAL's block cache holds a row of blocks of every raster band at once, so that a strip
    // read never decodes a block twice; it is bounded to that, and counted with the strips.
    std::vector<const BandReader*> rasters{reader.value.operator->()};
    for (int b = 1; b <= bandCount_; ++b)
        if (b != band && readers_[b].IsOpen()) rasters.push_back(&readers_[b]);
    const int64_t cache = RasterCacheNeed(rasters);
    if (options.checkMemory && cache > 0) {
        if (const Status fits = checks_.CheckMemoryNeed(
                path, size, StreamedMemoryNeed(size, bandCount_, settings_) + cache);
            !fits)
            return fits;
    }
    if (cache > 0) BoundRasterCache(cache);
    try {
        std::string filePath = path;
        std::optional<Georeference> georeference = reader.value->Georef();
        // Nothing below allocates: the band is taken whole or not at all.
        readers_[band] = std::move(*reader.value);
        records_[band] = BandRecord{};
        records_[band].filePath.swap(filePath);
        records_[band].nodata = readers_[band].Nodata();
        records_[band].georeference = georeference;
        records_[band].rasterBand = type == BandFileType::Raster ? options.rasterBand : 0;
        checks_.records[band].filePath = records_[band].filePath;
        checks_.records[band].georeference = std::move(georeference);
        checks_.sequenceSizes[band] = size;
        size_ = size;
        stripLines_ = StripLinesOf(settings_, size.columns);
        read_.reset();
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        return Status::Failure(" Not enough memory to keep the band " + path +
                               " \nThe band was not loaded ");
    }
}

void StreamedJob::PlanLineGroups() {
    group_.reset();
    // Files stored in rows of blocks taller than a strip are read a row of blocks at a time.
    int groupLines = 1;
    int64_t window = 0;
    std::vector<const RasterSource*> counted;
    for (int b = 1; b <= bandCount_; ++b) {
        const RasterSource* raster = readers_[b].Raster();
        if (raster == nullptr) continue;
        groupLines = std::max(groupLines, std::min(raster->BlockLines(), kMaximumGroupLines));
        // The blocks one window read holds in GDAL's cache: once for the bands of a
        // pixel-interleaved file, whose blocks one read fills.
        const bool again =
            raster->SharesBlocks() &&
            std::any_of(counted.begin(), counted.end(),
                        [&](const RasterSource* other) { return other->SameFile(*raster); });
        counted.push_back(raster);
        if (again) continue;
        window = std::max<int64_t>(
            window, raster->BlockRowBytes() *
                        std::min<int64_t>(raster->WindowColumns() + 512, size_.columns) /
                        std::max(size_.columns, 1));
    }
    if (groupLines <= stripLines_) return;
    while (groupLines % stripLines_ != 0) --stripLines_;
    group_ = std::make_unique<LineGroup>(bandCount_, groupLines, size_.columns);
    // Only the windows being read: each block is decoded once and not needed again.
    BoundRasterCache(2 * window * threads_, int64_t{4} << 20);
}

Status StreamedJob::ChooseStretches() {
    if (!group_) {
        std::vector<BandReader*> stretched;
        for (int b = 1; b <= bandCount_; ++b) stretched.push_back(&readers_[b]);
        return ChooseStretchesTogether(stretched, threads_);
    }
    std::vector<RasterSource*> wanted;
    for (int b = 1; b <= bandCount_; ++b)
        if (readers_[b].Raster() && readers_[b].Raster()->NeedsStretch())
            wanted.push_back(readers_[b].MutableRaster());
    if (wanted.empty()) return Status::Ok();
    const std::vector<const RasterSource*> reading(wanted.begin(), wanted.end());
    const std::vector<std::vector<size_t>> groups = RasterSource::ReadGroups(reading);
    // Per worker its least and greatest values, and its buffer of native values.
    const size_t workers = static_cast<size_t>(std::max(threads_, 1));
    std::vector<std::vector<double>> low(workers, std::vector<double>(wanted.size(), kNoValue));
    std::vector<std::vector<double>> high(workers, std::vector<double>(wanted.size(), -kNoValue));
    std::vector<std::vector<double>> values(workers);
    struct Window {
        size_t group;
        int x0, width;
    };
    std::vector<Window> windows;
    for (size_t g = 0; g < groups.size(); ++g) {
        const int window = reading[groups[g][0]]->WindowColumns();
        for (int x0 = 0; x0 < size_.columns; x0 += window)
            windows.push_back({g, x0, std::min(window, size_.columns - x0)});
    }
    for (int first = 0; first < size_.lines; first += group_->Lines()) {
        const int count = std::min(group_->Lines(), size_.lines - first);
        const Status read = RunTasks(windows.size(), threads_, [&](int worker, size_t t) {
            const Window& window = windows[t];
            std::vector<const RasterSource*> members;
            std::vector<double> least, most;
            for (size_t i : groups[window.group]) {
                members.push_back(reading[i]);
                least.push_back(low[worker][i]);
                most.push_back(high[worker][i]);
            }
            Status done = RasterSource::RangeOfRows(members, first, count, window.x0,
                                                    window.width, least.data(), most.data(),
                                                    worker, values[static_cast<size_t>(worker)]);
            for (size_t m = 0; m < members.size(); ++m) {
                low[worker][groups[window.group][m]] = least[m];
                high[worker][groups[window.group][m]] = most[m];
            }
            return done;
        });
        if (!read) return read;
    }
    return RasterSource::TakeOwnRanges(wanted, low, high);
}

Status StreamedJob::ReadBands() {
    if (read_) return *read_;
    const int n = bandCount_;
    for (int b = 1; b <= n; ++b)
        if (!readers_[b].IsOpen()) return Status::Failure(MissingBandMessage(b));
    const auto refuse = [&](Status status) {
        read_ = status;
        group_.reset();
        return status;
    };
    try {
        PlanLineGroups();
        // The stretches of the bands that take their own range, then the histograms: every
        // band read at once, strip by strip, so that a block of a file is decoded once a pass.
        if (Status chosen = ChooseStretches(); !chosen) return refuse(chosen);

        const int stripCount = (size_.lines + stripLines_ - 1) / stripLines_;
        const int workers = std::min(threads_, std::max(stripCount, 1));
        const size_t bands = static_cast<size_t>(n) + 1;
        std::vector<std::vector<Histogram>> partial(workers, std::vector<Histogram>(bands));
        std::vector<std::vector<int64_t>> without(workers, std::vector<int64_t>(bands, 0));
        std::vector<std::vector<int64_t>> nonFinite(workers, std::vector<int64_t>(bands, 0));
        std::vector<std::unique_ptr<BandStrips>> strips;
        for (int w = 0; w < workers; ++w)
            strips.push_back(std::make_unique<BandStrips>(n, stripLines_, size_.columns));
        const Status gathered = ForEachStrip(stripCount, [&](int worker, int strip) {
            const int first = strip * stripLines_;
            const int count = std::min(stripLines_, size_.lines - first);
            const size_t cells = static_cast<size_t>(count) * size_.columns;
            BandStrips& band = *strips[worker];
            if (const Status read = band.Read(readers_, first, count, worker, workers, group_.get());
                !read)
                return read;
            for (int b = 1; b <= n; ++b) {
                uint8_t* gray = band.Band(b - 1);
                Histogram& histogram = partial[worker][b];
                AddToHistogram(gray, cells, histogram);
                if (!readers_[b].MayLackData()) continue;
                uint8_t* marks = band.Marks(b - 1);
                const int64_t removed = RemoveNodata(gray, marks, cells, histogram);
                without[worker][b] += removed;
                if (removed > 0 && readers_[b].Raster() && readers_[b].Raster()->IsFloating())
                    nonFinite[worker][b] += CountMarks(marks, cells, kNonFiniteMark);
            }
            return Status::Ok();
        });
        if (!gathered) return refuse(gathered);
        std::vector<Histogram> histograms(bands, Histogram{});
        std::vector<int64_t> nodataPixels(bands, 0), nonFinitePixels(bands, 0);
        for (int b = 1; b <= n; ++b) {
            for (int w = 0; w < workers; ++w) {
                for (int g = 0; g < 256; ++g) histograms[b][g] += partial[w][b][g];
                nodataPixels[b] += without[w][b];
                nonFinitePixels[b] += nonFinite[w][b];
            }
            const BandReader& file = readers_[b];
            if (file.MayLackData() && nodataPixels[b] == int64_t{size_.lines} * size_.columns)
                return refuse(Status::Failure(file.Refusal(AllNodataReason(
                    file.Nodata(), file.Raster() && file.Raster()->IsFloating()))));
        }
        for (int b = 1; b <= n; ++b) {
            histograms_[b] = histograms[b];
            ranges_[b] = RangeOfHistogram(histograms[b]);
            records_[b].stretch = readers_[b].Stretch();
            records_[b].nodataPixels = nodataPixels[b] - nonFinitePixels[b];
            records_[b].nonFinitePixels = nonFinitePixels[b];
        }
        read_ = Status::Ok();
        return *read_;
    } catch (const std::bad_alloc&) {
        return refuse(Status::Failure(std::string(kMemoryRefusal) + "to read the bands "));
    }
}

void StreamedJob::SetSegmentation(int band, int type, int count,
                                  const std::vector<int32_t>& typedUpper) {
    if (band < 1 || band > bandCount_) return;
    if (!ReadBands()) return;  // FinishSegmentation gives the refusal
    try {
        SegmentLimits limits =
            BandSegmentLimits(type, count, typedUpper, ranges_[band], histograms_[band]);
        BandRecord& record = records_[band];
        record.thresholdingType = type;
        record.segmentCount = count;
        record.segmentLimits = std::move(limits);
    } catch (const std::bad_alloc&) {
        // Lists of at most 255 entries: left as they were should this ever fail.
    }
}

Status StreamedJob::FinishSegmentation() {
    const int n = bandCount_;
    if (n < 1) return Status::Failure(" There is no band set to segment ");
    for (int b = 1; b <= n; ++b)
        if (!readers_[b].IsOpen()) return Status::Failure(MissingBandMessage(b));
    if (Status read = ReadBands(); !read) return read;
    const RandomBelow randomBefore = random_;
    try {
        std::vector<int32_t> counts(static_cast<size_t>(n) + 1, 0);
        for (int b = 1; b <= n; ++b) counts[b] = records_[b].segmentCount;
        Result<CodeTable> table = BuildCodeTable(counts);
        if (!table) return Status::Failure(table.message);

        // A diagnostic list that nothing reads: a folder that refuses it changes nothing.
        FinishCodeList();
        const std::string codeList = JoinPath(DirectoryOf(records_[1].filePath), kMultiTabName);
        try {
            codeListWriter_ =
                std::thread([codeList, table = *table.value] { WriteMultiTab(codeList, table); });
        } catch (const std::system_error&) {
            WriteMultiTab(codeList, *table.value);  // no thread to spare: written now
        }

        const std::vector<CodeContribution> bySegment = SegmentContributions(*table.value);
        std::vector<SegmentLookup> lookups(static_cast<size_t>(n) + 1);
        std::vector<CodeContribution> byGray(static_cast<size_t>(n) + 1);
        for (int b = 1; b <= n; ++b) {
            lookups[b] = SegmentLookupTable(records_[b].segmentLimits);
            byGray[b] = GrayContribution(bySegment[b], lookups[b]);
        }
        segmentColours_ = BuildSegmentColourTable(random_);
        table_ = std::move(*table.value);
        lookups_ = std::move(lookups);
        grayContributions_ = std::move(byGray);
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        random_ = randomBefore;
        return Status::Failure(std::string(kMemoryRefusal) +
                               "to segment the bands \nThe earlier results are kept ");
    }
}

Status StreamedJob::CountCodes() {
    const Status refused = Status::Failure(std::string(kMemoryRefusal) + "to cross the bands ");
    const int n = bandCount_;
    if (grayContributions_.empty()) return Status::Failure(" The bands are not segmented ");
    try {
        const int columns = size_.columns;
        const int stripCount = (size_.lines + stripLines_ - 1) / stripLines_;
        const int workers = std::min(threads_, std::max(stripCount, 1));
        std::vector<const CodeContribution*> tables;
        for (int b = 1; b <= n; ++b) tables.push_back(&grayContributions_[b]);

        // 32 bits per code and thread: a thread counts at most kMaximumPixels pixels.
        static_assert(kMaximumPixels <= int64_t{UINT32_MAX});
        const size_t codes = static_cast<size_t>(table_.CodeCount) + 1;
        std::vector<std::vector<uint32_t>> counts;
        std::vector<int64_t> without(static_cast<size_t>(workers), 0);
        std::vector<std::unique_ptr<BandStrips>> strips;
        std::vector<std::unique_ptr<int32_t[]>> codeLines;
        for (int w = 0; w < workers; ++w) {
            counts.emplace_back(codes, 0);
            strips.push_back(std::make_unique<BandStrips>(n, stripLines_, columns));
            codeLines.emplace_back(new int32_t[static_cast<size_t>(columns)]);
        }
        const Status counted = ForEachStrip(stripCount, [&](int worker, int strip) {
            const int first = strip * stripLines_;
            const int count = std::min(stripLines_, size_.lines - first);
            BandStrips& band = *strips[worker];
            if (const Status read = band.Read(readers_, first, count, worker, workers, group_.get());
                !read)
                return read;
            int32_t* line = codeLines[worker].get();
            uint32_t* pixelCount = counts[worker].data();
            for (int i = 0; i < count; ++i) {
                FormCodes(tables.data(), band.Line(i), n, columns, line);
                without[worker] += band.ClearNodata(readers_, i, line);
                CountLine(line, columns, pixelCount);
            }
            return Status::Ok();
        });
        if (!counted) return counted;
        strips.clear();
        codeLines.clear();

        std::vector<int64_t> total(counts[0].begin(), counts[0].end());
        for (int w = 1; w < workers; ++w) {
            const uint32_t* part = counts[w].data();
            for (size_t code = 0; code < codes; ++code) total[code] += part[code];
        }
        bool declared = false;
        for (int b = 1; b <= n; ++b)
            declared = declared || records_[b].nodata.has_value() ||
                       records_[b].nonFinitePixels > 0;
        int64_t nodataPixels = 0;
        for (int64_t count : without) nodataPixels += count;
        pixelCount_ = std::move(total);
        nodataPixels_ = declared ? std::optional<int64_t>(nodataPixels) : std::nullopt;
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        return refused;
    }
}

Status StreamedJob::FinishCrossing(std::vector<int32_t> selectedCodes) {
    if (pixelCount_.empty()) return Status::Failure(" The bands are not segmented ");
    const RandomBelow randomBefore = random_;
    try {
        const ColourTable colours = BuildClassColourTable(random_);
        std::vector<uint8_t> classOf = ClassOfCode(selectedCodes, table_.CodeCount);
        classColours_ = colours;
        classOf_ = std::move(classOf);
        classCount_ = selectedCodes.empty() ? 0 : static_cast<int>(selectedCodes.size()) - 1;
        selectedCodes_ = std::move(selectedCodes);
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        random_ = randomBefore;
        return Status::Failure(std::string(kMemoryRefusal) +
                               "to make the classes \nThe earlier result is kept ");
    }
}

std::optional<Georeference> StreamedJob::Place() const {
    return SharedGeoreference(records_);
}

Status StreamedJob::Save(const std::string& stem, const std::string& segmentedStem,
                         ResultFiles files) {
    if (classOf_.empty()) return Status::Failure(" There is no result to save ");
    const int n = bandCount_;
    const int columns = size_.columns;
    const bool segmented = !segmentedStem.empty();
    const std::optional<Georeference> place = Place();
    const bool onMap = place && files.geotiff;
    try {
        // The rasters go to temporary files strip by strip; each is renamed over its target
        // only once the pass is over, so a failure leaves nothing of it.
        const bool bitmapFits = BitmapFits(size_);
        StagedFile resultBitmap, resultRaw, segmentBitmap, segmentRaw;
        if (files.bitmap && bitmapFits && resultBitmap.Open(stem + ".bmp")) {
            const std::vector<uint8_t> header =
                BitmapFileHeader(columns, size_.lines, PaletteKind, classColours_);
            resultBitmap.WriteAt(0, header.data(), header.size());
        }
        if (files.raw) resultRaw.Open(stem + ".raw");
        StagedName geotiffName;
        ClassGeoTiff geotiff;
        bool geotiffMade = false;
        if (onMap && geotiffName.Open(stem + ".tif"))
            geotiffMade = geotiff.Create(
                geotiffName.Temporary(), size_, classColours_, *place,
                TreatmentMetadata("tessera-batch", records_, selection_, classCount_));
        if (segmented) {
            if (bitmapFits && segmentBitmap.Open(segmentedStem + ".bmp")) {
                const std::vector<uint8_t> header =
                    BitmapFileHeader(columns, size_.lines, PaletteKind, segmentColours_);
                segmentBitmap.WriteAt(0, header.data(), header.size());
            }
            segmentRaw.Open(segmentedStem + ".raw");
        }

        const int stripCount = (size_.lines + stripLines_ - 1) / stripLines_;
        const int workers = std::min(threads_, std::max(stripCount, 1));
        std::vector<const CodeContribution*> tables;
        for (int b = 1; b <= n; ++b) tables.push_back(&grayContributions_[b]);
        std::vector<std::unique_ptr<BandStrips>> strips;
        std::vector<std::unique_ptr<int32_t[]>> codeLines;
        std::vector<std::unique_ptr<RasterStrip>> classStrips, segmentStrips;
        for (int w = 0; w < workers; ++w) {
            strips.push_back(std::make_unique<BandStrips>(n, stripLines_, columns));
            codeLines.emplace_back(new int32_t[static_cast<size_t>(columns)]);
            classStrips.push_back(std::make_unique<RasterStrip>(stripLines_, columns));
            if (segmented)
                segmentStrips.push_back(std::make_unique<RasterStrip>(stripLines_, columns));
        }
        // The class table's areas, gathered line by line by each thread, then added up.
        const bool tabled = place && (files.table || files.geotiff || files.style);
        std::optional<CellAreas> cells;
        std::vector<ClassAreas> areas;
        if (tabled) {
            cells.emplace(size_, *place);
            areas.assign(static_cast<size_t>(workers), ClassAreas(*cells));
        }
        const SegmentLookup& lastLookup = lookups_[n];
        const bool lastMarked = readers_[n].MayLackData();
        // The class GeoTIFF takes its strips in order, so that GDAL lays its blocks out in the
        // same order whatever the threads and the cache: the same bytes every time.
        StripTurns geotiffTurns;
        const Status written = ForEachStrip(stripCount, [&](int worker, int strip) {
            StripTurns::Abandon abandon(geotiffTurns, geotiffMade);
            const int first = strip * stripLines_;
            const int count = std::min(stripLines_, size_.lines - first);
            BandStrips& band = *strips[worker];
            if (const Status read = band.Read(readers_, first, count, worker, workers, group_.get());
                !read)
                return read;
            int32_t* line = codeLines[worker].get();
            RasterStrip& classes = *classStrips[worker];
            for (int i = 0; i < count; ++i) {
                const uint8_t* const* values = band.Line(i);
                FormCodes(tables.data(), values, n, columns, line);
                band.ClearNodata(readers_, i, line);
                ClassifyLine(line, columns, classOf_, classes.Line(i, count));
                if (tabled) areas[worker].AddLine(first + i, classes.Line(i, count), columns);
                if (segmented) {
                    uint8_t* numbers = segmentStrips[worker]->Line(i, count);
                    const uint8_t* gray = values[n - 1];
                    for (int x = 0; x < columns; ++x) numbers[x] = lastLookup[gray[x]];
                    if (lastMarked)
                        ClearNodata(band.Marks(n - 1) + band.lineBytes * i,
                                    static_cast<size_t>(columns), numbers);
                }
            }
            classes.Write(resultBitmap, resultRaw, size_, first, count);
            if (geotiffMade && geotiffTurns.Wait(strip)) {
                for (int i = 0; i < count; ++i)
                    geotiff.WriteLines(first + i, 1, classes.Line(i, count), classes.stride);
                geotiffTurns.Done();
            }
            abandon.Keep();
            if (segmented)
                segmentStrips[worker]->Write(segmentBitmap, segmentRaw, size_, first, count);
            return Status::Ok();
        });
        if (!written) return written;  // every staged file is removed as it goes
        // The last pass is over: its buffers make room for what finishing the files needs.
        group_.reset();
        strips.clear();
        classStrips.clear();
        segmentStrips.clear();
        codeLines.clear();

        // Every file syncs at once, each from a thread of its own; a result file named like
        // the code list replaces it, as in the interactive program.
        FinishCodeList();
        {
            std::vector<std::thread> syncs;
            for (StagedFile* file : {&resultBitmap, &resultRaw, &segmentBitmap, &segmentRaw}) {
                try {
                    syncs.emplace_back([file] { file->Sync(); });
                } catch (const std::system_error&) {
                    file->Sync();
                }
            }
            for (std::thread& sync : syncs) sync.join();
        }

        // The result's files in the order Workspace::SaveResult writes them.
        std::vector<std::string> failed;
        if (files.bitmap && (!bitmapFits || !resultBitmap.Commit())) failed.push_back(stem + ".bmp");
        const std::string report = stem + ".txt";
        if (files.report) {
            const std::string text = ResultReport(size_, records_, table_, pixelCount_,
                                                  selectedCodes_, nodataPixels_);
            if (text.empty() || !WriteWholeFile(report, text)) failed.push_back(report);
        }
        if (files.raw && !resultRaw.Commit()) failed.push_back(stem + ".raw");
        std::optional<MapSideFiles> sideFiles;  // the class table and the GeoTIFF's legend
        if (tabled) {
            for (size_t w = 1; w < areas.size(); ++w) areas[0].Add(areas[w]);
            sideFiles.emplace(stem,
                              MakeClassTable(size_, records_, table_, pixelCount_,
                                             selectedCodes_, nodataPixels_, areas[0]),
                              classColours_, MapSideFiles::Wanted{files.table, onMap, files.style});
        }
        bool geotiffSaved = false;
        if (onMap) {
            const bool closed = geotiff.Close() && geotiffMade;
            geotiffSaved = closed && geotiffName.Commit();
            if (!geotiffSaved) failed.push_back(stem + ".tif");
        }
        if (sideFiles) sideFiles->Commit(geotiffSaved, failed);
        if (!failed.empty()) return CollectedSaveStatus(failed);  // the segmented band: not saved
        if (!segmented) return Status::Ok();

        if (!bitmapFits || !segmentBitmap.Commit()) failed.push_back(segmentedStem + ".bmp");
        const std::string descriptor = segmentedStem + ".txt";
        if (!WriteWholeFile(descriptor, LongDescriptorText(size_))) failed.push_back(descriptor);
        if (!segmentRaw.Commit()) failed.push_back(segmentedStem + ".raw");
        return CollectedSaveStatus(failed);
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to save " + stem + " ");
    }
}

}  // namespace tessera
