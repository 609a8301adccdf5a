#include "workspace/strips.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

#include "bands/decodedgroup.h"
#include "bands/gdalsupport.h"

namespace tessera {

namespace {

constexpr double kNoValue = std::numeric_limits<double>::infinity();
// Rows of blocks taller than this are read this many lines at a time.
constexpr int kMaximumGroupLines = 1024;
// A strip of about this many bytes per band for the bands held in memory.
constexpr int64_t kMemoryStripBytes = int64_t{64} << 10;

// Memory that needs no zero fill: every byte is written before it is read.
std::unique_ptr<uint8_t[]> Bytes(size_t count) {
    return std::unique_ptr<uint8_t[]>(new uint8_t[count]);
}

}  // namespace

int StripSource::Workers(int threads) const {
    return std::clamp(std::min(threads, StripCount()), 1, std::max(threads, 1));
}

// ----- the bands in memory -----

MemoryStrips::MemoryStrips(ImageSize size, std::vector<BandPlane> bands)
    : size_(size), bands_(std::move(bands)) {
    stripLines_ = static_cast<int>(
        std::clamp<int64_t>(kMemoryStripBytes / std::max(size.columns, 1), 1, 1024));
}

Status MemoryStrips::ForEachStrip(int threads, const StripWork& work, Progress* progress,
                                  const char* stage, const std::function<void()>& stopped) {
    const int workers = Workers(threads);
    const size_t columns = static_cast<size_t>(size_.columns);
    std::vector<Strip> strips(static_cast<size_t>(workers));
    for (Strip& strip : strips) {
        strip.columns = size_.columns;
        strip.stride = columns;
        strip.gray.resize(bands_.size());
        strip.marks.resize(bands_.size());
    }
    const int count = StripCount();
    return RunStrips(
        0, count, workers,
        [&](int worker, int index) {
            Strip& strip = strips[static_cast<size_t>(worker)];
            strip.first = index * stripLines_;
            strip.count = std::min(stripLines_, size_.lines - strip.first);
            const size_t offset = static_cast<size_t>(strip.first) * columns;
            for (size_t b = 0; b < bands_.size(); ++b) {
                strip.gray[b] = bands_[b].gray.get() + offset;
                strip.marks[b] = bands_[b].marks ? bands_[b].marks.get() + offset : nullptr;
            }
            return work(worker, index, strip);
        },
        progress, stage, count, stopped);
}

// ----- the bands' files -----

// The lines of every band read at once when a band's file is stored in rows of blocks taller
// than a strip (a tiled GeoTIFF): a whole row of blocks, each block decoded once, the bands
// shared out among the threads; then the threads take their strips from here. The marks of
// the pixels without data are kept in four bits a pixel.
class LineGroup {
  public:
    LineGroup(int bandCount, int lines, int columns)
        : lines_(lines),
          columns_(static_cast<size_t>(columns)),
          markStride_((columns_ + 1) / 2),
          bandBytes_(static_cast<size_t>(lines) * columns_),
          gray_(Bytes(bandBytes_ * bandCount)),
          marks_(Bytes(markStride_ * lines * bandCount)),
          marked_(static_cast<size_t>(bandCount), false) {}

    // The bytes a group of these dimensions holds, for the memory check.
    static int64_t Need(int bandCount, int lines, int columns) {
        return int64_t{lines} * (columns + (columns + 1) / 2) * bandCount;
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
        for (const std::vector<size_t>& group : DecodedGroup::Groups(rasters)) {
            std::vector<int> bands;
            for (size_t i : group) bands.push_back(rasterBands[i]);
            const int window = rasters[group[0]]->WindowColumns();
            for (int x0 = 0; x0 < static_cast<int>(columns_); x0 += window)
                tasks.push_back({bands, x0, std::min(window, static_cast<int>(columns_) - x0)});
        }
        const size_t workers = static_cast<size_t>(std::max(threads, 1));
        if (marksScratch_.size() < workers) marksScratch_.resize(workers);
        if (values_.size() < workers) values_.resize(workers);
        return RunTasks(tasks.size(), threads,
                        [&](int worker, size_t t) { return ReadTask(readers, tasks[t], worker); });
    }

    // Lines first..first + count - 1 (within the group) of band b (0 = the first): the gray
    // levels, and the marks when the band has any.
    void Copy(int band, int first, int count, uint8_t* gray, uint8_t* marks) const {
        const size_t line = static_cast<size_t>(first - first_);
        std::memcpy(gray, gray_.get() + bandBytes_ * static_cast<size_t>(band) + line * columns_,
                    static_cast<size_t>(count) * columns_);
        if (marks == nullptr) return;
        const uint8_t* packed =
            marks_.get() + markStride_ * (lines_ * static_cast<size_t>(band) + line);
        for (int y = 0; y < count; ++y, packed += markStride_, marks += columns_) {
            size_t x = 0;
            for (; x + 1 < columns_; x += 2) {
                const uint8_t pair = packed[x >> 1];
                marks[x] = pair & 15;
                marks[x + 1] = pair >> 4;
            }
            if (x < columns_) marks[x] = packed[x >> 1] & 15;
        }
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
            const GrayRowsRequest rows{
                {first_, count_, task.x0, task.width}, gray.data(), columns_, marks.data()};
            if (Status read = DecodedGroup(std::move(group), worker)
                                  .ReadRows(rows, values_[static_cast<size_t>(worker)]);
                !read)
                return read;
        } else if (Status read =
                       readers[task.bands[0]].ReadLines(first_, count_, gray[0], marks[0]);
                   !read) {
            return read;
        }
        // Marks four bits a pixel, each line from a whole byte on: windows start at whole blocks
        // (multiples of 16 columns), so no two tasks share a byte.
        for (size_t i = 0; i < task.bands.size(); ++i) {
            if (marks[i] == nullptr) continue;
            uint8_t* band =
                marks_.get() + markStride_ * lines_ * static_cast<size_t>(task.bands[i] - 1);
            for (int y = 0; y < count_; ++y) {
                uint8_t* packed = band + markStride_ * static_cast<size_t>(y);
                const uint8_t* line = marks[i] + width * static_cast<size_t>(y);
                size_t x = 0;
                if ((task.x0 & 1) == 0) {
                    // Two marks a byte, from a whole byte on.
                    uint8_t* pairs = packed + (static_cast<size_t>(task.x0) >> 1);
                    for (; x + 1 < width; x += 2)
                        pairs[x >> 1] =
                            static_cast<uint8_t>((line[x] & 15) | ((line[x + 1] & 15) << 4));
                }
                for (; x < width; ++x) {
                    const size_t at = static_cast<size_t>(task.x0) + x;
                    const int shift = static_cast<int>(at & 1) * 4;
                    packed[at >> 1] = static_cast<uint8_t>((packed[at >> 1] & ~(15 << shift)) |
                                                           ((line[x] & 15) << shift));
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
// of the bands that may lack data.
struct BandStrips {
    BandStrips(int bandCount, int stripLines, int columns)
        : lineBytes(static_cast<size_t>(columns)),
          stripBytes(lineBytes * static_cast<size_t>(stripLines)),
          bytes(Bytes(stripBytes * static_cast<size_t>(bandCount))),
          marks(Bytes(stripBytes * static_cast<size_t>(bandCount))) {
        strip.columns = columns;
        strip.stride = lineBytes;
        strip.gray.resize(static_cast<size_t>(bandCount));
        strip.marks.resize(static_cast<size_t>(bandCount));
    }
    uint8_t* Band(int b) { return bytes.get() + stripBytes * static_cast<size_t>(b); }
    uint8_t* Marks(int b) { return marks.get() + stripBytes * static_cast<size_t>(b); }
    // Reads the strip of bands 1..readers.size() - 1 (readers[b] for band b). Worker `turn`
    // of `turns`: see ReadLinesTogether. From `group` when there is one (it holds these lines).
    Status Read(const std::vector<BandReader>& readers, int first, int count, int turn, int turns,
                const LineGroup* group) {
        strip.first = first;
        strip.count = count;
        sources.clear();
        lines.clear();
        marking.clear();
        for (size_t b = 1; b < readers.size(); ++b) {
            const int band = static_cast<int>(b) - 1;
            uint8_t* marked = readers[b].MayLackData() ? Marks(band) : nullptr;
            strip.gray[band] = Band(band);
            strip.marks[band] = marked;
            sources.push_back(&readers[b]);
            lines.push_back(Band(band));
            marking.push_back(marked);
        }
        if (group) {
            for (size_t b = 0; b < lines.size(); ++b)
                group->Copy(static_cast<int>(b), first, count, lines[b], marking[b]);
            return Status::Ok();
        }
        return ReadLinesTogether(sources, first, count, lines.data(), marking.data(), turn, turns);
    }
    size_t lineBytes;
    size_t stripBytes;
    std::unique_ptr<uint8_t[]> bytes;
    std::unique_ptr<uint8_t[]> marks;
    Strip strip;
    std::vector<const BandReader*> sources;
    std::vector<uint8_t*> lines, marking;
};

}  // namespace

FileStrips::FileStrips(const std::vector<BandReader>& readers, ImageSize size, int stripLines)
    : readers_(readers), size_(size), stripLines_(std::max(stripLines, 1)) {}

FileStrips::~FileStrips() = default;

void FileStrips::Release() {
    group_.reset();
}

int64_t FileStrips::GroupNeed(int bandCount, int lines, int columns) {
    return LineGroup::Need(bandCount, lines, columns);
}

Status FileStrips::ForEachStrip(int threads, const StripWork& work, Progress* progress,
                                const char* stage, const std::function<void()>& stopped) {
    const int stripCount = StripCount();
    const int workers = Workers(threads);
    const int n = BandCount();
    // Once every raster's values are kept, its strips are read from them directly: no row of
    // blocks is held, and nothing is decoded again.
    if (group_ && std::all_of(readers_.begin() + 1, readers_.end(), [](const BandReader& reader) {
            return reader.Raster() == nullptr || reader.Raster()->ReadsFromKept();
        }))
        group_.reset();
    std::vector<std::unique_ptr<BandStrips>> strips;
    for (int w = 0; w < workers; ++w)
        strips.push_back(std::make_unique<BandStrips>(n, stripLines_, size_.columns));
    const auto each = [&](int worker, int index) {
        const int first = index * stripLines_;
        const int count = std::min(stripLines_, size_.lines - first);
        BandStrips& band = *strips[static_cast<size_t>(worker)];
        if (Status read = band.Read(readers_, first, count, worker, workers, group_.get()); !read)
            return read;
        return work(worker, index, band.strip);
    };
    if (!group_)
        return RunStrips(0, stripCount, workers, each, progress, stage, stripCount, stopped);
    // A row of blocks of every band at a time, read once, then its strips.
    const int perGroup = group_->Lines() / stripLines_;
    for (int begin = 0; begin < stripCount; begin += perGroup) {
        const int first = begin * stripLines_;
        const int count = std::min(group_->Lines(), size_.lines - first);
        if (Status read = group_->Read(readers_, first, count, threads); !read) {
            if (stopped) stopped();
            return read;
        }
        if (Status done = RunStrips(begin, std::min(begin + perGroup, stripCount), workers, each,
                                    progress, stage, stripCount, stopped);
            !done)
            return done;
    }
    return Status::Ok();
}

void FileStrips::Plan(int threads) {
    group_.reset();
    // Files stored in rows of blocks taller than a strip are read a row of blocks at a time.
    int groupLines = 1;
    int64_t window = 0;
    std::vector<const RasterSource*> counted;
    for (int b = 1; b <= BandCount(); ++b) {
        const RasterSource* raster = readers_[b].Raster();
        if (raster == nullptr) continue;
        groupLines = std::max(groupLines, std::min(raster->BlockLines(), kMaximumGroupLines));
        // The blocks one window read holds in GDAL's cache: once for the bands of a
        // pixel-interleaved file, whose blocks one read fills; none for bands decoded
        // straight into what is kept.
        const bool again =
            raster->SharesBlocks() &&
            std::any_of(counted.begin(), counted.end(),
                        [&](const RasterSource* other) { return other->SameFile(*raster); });
        counted.push_back(raster);
        if (again || raster->KeepsBlocksAsDecoded()) continue;
        window = std::max<int64_t>(
            window, raster->BlockRowBytes() *
                        std::min<int64_t>(raster->WindowColumns() + 512, size_.columns) /
                        std::max(size_.columns, 1));
    }
    if (groupLines <= stripLines_) return;
    while (groupLines % stripLines_ != 0) --stripLines_;
    group_ = std::make_unique<LineGroup>(BandCount(), groupLines, size_.columns);
    // Only the windows being read: each block is decoded once and not needed again. Bands
    // decoded straight into what is kept leave the cache to the lines of the class raster.
    BoundRasterCache(2 * window * threads, window > 0 ? int64_t{4} << 20 : int64_t{1} << 20);
}

Status FileStrips::ChooseStretches(std::vector<BandReader>& readers, int threads) {
    if (!group_) {
        std::vector<BandReader*> stretched;
        for (int b = 1; b <= BandCount(); ++b) stretched.push_back(&readers[b]);
        return ChooseStretchesTogether(stretched, threads);
    }
    std::vector<RasterSource*> wanted, rasters;
    for (int b = 1; b <= BandCount(); ++b)
        if (readers[b].Raster()) rasters.push_back(readers[b].MutableRaster());
    // The bands that take their stretch from percentiles are read through with the others when
    // their values are kept: the passes that find the percentiles then read what was kept,
    // and every tile is decoded once, on every thread.
    const auto percentilesToFind = [](const RasterSource* raster) {
        return raster->Percentiles() && !raster->Stretch() && !raster->IsByte();
    };
    for (RasterSource* raster : rasters)
        if (raster->NeedsStretch() || (percentilesToFind(raster) && raster->KeepsValues()))
            wanted.push_back(raster);
    if (wanted.empty()) return ChoosePercentileStretches(rasters);
    const std::vector<const RasterSource*> reading(wanted.begin(), wanted.end());
    const std::vector<std::vector<size_t>> groups = DecodedGroup::Groups(reading);
    // Per worker its least and greatest values, and its buffer of native values.
    const size_t workers = static_cast<size_t>(std::max(threads, 1));
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
    // A group of bands after another, every row of blocks of it: once a band's range is known,
    // the values kept of it become its gray levels, so that no more than one band's values are
    // kept at a time (a refusal of the range waits for the others' reads, as it always did).
    for (size_t g = 0; g < groups.size(); ++g) {
        std::vector<std::pair<int, const Window*>> tasks;
        for (int first = 0; first < size_.lines; first += group_->Lines())
            for (const Window& window : windows)
                if (window.group == g) tasks.emplace_back(first, &window);
        const Status read = RunTasks(tasks.size(), threads, [&](int worker, size_t t) {
            const int first = tasks[t].first;
            const int count = std::min(group_->Lines(), size_.lines - first);
            const Window& window = *tasks[t].second;
            std::vector<const RasterSource*> members;
            std::vector<double> least, most;
            for (size_t i : groups[window.group]) {
                members.push_back(reading[i]);
                least.push_back(low[worker][i]);
                most.push_back(high[worker][i]);
            }
            Status done = DecodedGroup(members, worker)
                              .FoldRange({first, count, window.x0, window.width}, least.data(),
                                         most.data(), values[static_cast<size_t>(worker)]);
            for (size_t m = 0; m < members.size(); ++m) {
                low[worker][groups[window.group][m]] = least[m];
                high[worker][groups[window.group][m]] = most[m];
            }
            return done;
        });
        if (!read) return read;
        std::vector<RasterSource*> gray;
        for (size_t i : groups[g]) {
            RasterSource* raster = wanted[i];
            if (!raster->NeedsStretch()) continue;
            double least = kNoValue, most = -kNoValue;
            for (size_t w = 0; w < workers; ++w) {
                least = std::min(least, low[w][i]);
                most = std::max(most, high[w][i]);
            }
            if (raster->TakeOwnRange(least, most) && raster->KeepGrayLevels())
                gray.push_back(raster);
        }
        // The last values to become gray levels: their memory goes back to the system as they
        // do, since no band decodes into it any more (unless a later pass does, whose blocks
        // then take fresh memory, a window at a time).
        if (!gray.empty() && g + 1 == groups.size()) gray[0]->TrimKept(true);
        for (RasterSource* raster : gray)
            if (Status made = RunTasks(static_cast<size_t>(raster->KeptBlockRows()), threads,
                                       [&](int worker, size_t row) {
                                           raster->KeepRowAsGray(static_cast<int>(row), worker);
                                           return Status::Ok();
                                       });
                !made)
                return made;
    }
    if (Status chosen = ChoosePercentileStretches(rasters); !chosen) return chosen;
    // The ranges of the bands that take their own.
    std::vector<RasterSource*> own;
    std::vector<std::vector<double>> ownLow(workers), ownHigh(workers);
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (!wanted[i]->NeedsStretch()) continue;
        own.push_back(wanted[i]);
        for (size_t w = 0; w < workers; ++w) {
            ownLow[w].push_back(low[w][i]);
            ownHigh[w].push_back(high[w][i]);
        }
    }
    return TakeOwnRanges(own, ownLow, ownHigh);
}

}  // namespace tessera
