#pragma once
// Where the treatment's passes read their pixels: a source of strips, a few lines of every band
// at a time, in gray levels with the marks of the pixels without data. The batch tool's source
// reads the bands' files strip by strip; the interactive program's lends the lines of the bands
// it holds in memory. The passes do not know which they read.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "bands/bandreader.h"
#include "image/rawfiles.h"
#include "support/parallel.h"
#include "support/progress.h"
#include "support/status.h"

namespace tessera {

// Lines first..first + count - 1 of bands 0..n - 1: band b's line i (0 = the strip's first)
// starts at gray[b] + i * stride, its marks at marks[b] + i * stride (marks[b] null when no
// pixel of band b can be without data).
struct Strip {
    int first = 0;
    int count = 0;
    int columns = 0;
    size_t stride = 0;
    std::vector<const uint8_t*> gray;
    std::vector<const uint8_t*> marks;
    const uint8_t* Gray(int band, int line) const { return gray[band] + stride * line; }
    const uint8_t* Marks(int band, int line) const {
        return marks[band] ? marks[band] + stride * line : nullptr;
    }
};

// work(worker, strip) for one strip; a refusal stops the pass.
using StripWork = std::function<Status(int worker, int index, const Strip& strip)>;

class StripSource {
  public:
    virtual ~StripSource() = default;
    virtual ImageSize Size() const = 0;
    virtual int BandCount() const = 0;
    // The number of strips and the lines of each (the last may hold fewer).
    virtual int StripLines() const = 0;
    int StripCount() const { return (Size().lines + StripLines() - 1) / std::max(StripLines(), 1); }
    // The threads a pass on `threads` threads uses: never more than the strips.
    int Workers(int threads) const;
    // Runs work for every strip on up to `threads` threads (worker 0..Workers - 1). A worker
    // takes its strips in increasing order, so that one waiting for the strips before its own
    // never waits for a later one of its own. The first refusal in strip order is the
    // answer, whatever the threads. `progress`, when given, is told from one thread after
    // each strip (`stage`, strips done of all) and may cancel the pass. `stopped`, when
    // given, is called once as soon as a strip fails or the pass is cancelled, so that strips
    // waiting for a strip that will not come go on. Throws std::bad_alloc when a worker ran
    // out of memory.
    virtual Status ForEachStrip(int threads, const StripWork& work, Progress* progress = nullptr,
                                const char* stage = nullptr,
                                const std::function<void()>& stopped = {}) = 0;
};

// The bands held in memory: each a whole block of lines x columns gray levels, and its marks
// (none when every pixel holds data). The blocks are shared: they stay while the source lives.
struct BandPlane {
    std::shared_ptr<const uint8_t[]> gray;
    std::shared_ptr<const uint8_t[]> marks;
};

class MemoryStrips : public StripSource {
  public:
    MemoryStrips(ImageSize size, std::vector<BandPlane> bands);
    ImageSize Size() const override { return size_; }
    int BandCount() const override { return static_cast<int>(bands_.size()); }
    int StripLines() const override { return stripLines_; }
    Status ForEachStrip(int threads, const StripWork& work, Progress* progress = nullptr,
                        const char* stage = nullptr,
                        const std::function<void()>& stopped = {}) override;

  private:
    ImageSize size_;
    std::vector<BandPlane> bands_;
    int stripLines_ = 1;
};

class LineGroup;

// The bands' files, read strip by strip: every thread has strips of its own, and a file stored
// in rows of blocks taller than a strip (a tiled GeoTIFF) is read a row of blocks at a time,
// each block decoded once, the threads sharing out its bands and windows.
class FileStrips : public StripSource {
  public:
    // readers[b] for band b = 1..n (entry 0 unused), which must outlive the source;
    // `stripLines` lines a strip (see StripLinesOf).
    FileStrips(const std::vector<BandReader>& readers, ImageSize size, int stripLines);
    ~FileStrips() override;
    ImageSize Size() const override { return size_; }
    int BandCount() const override { return static_cast<int>(readers_.size()) - 1; }
    int StripLines() const override { return stripLines_; }
    Status ForEachStrip(int threads, const StripWork& work, Progress* progress = nullptr,
                        const char* stage = nullptr,
                        const std::function<void()>& stopped = {}) override;

    // Plans the rows of blocks read together for `threads` threads (the strips may get
    // shorter, to divide such a row) and bounds GDAL's cache to the windows being read.
    void Plan(int threads);
    // The stretches the raster bands that have none take from their own range, every band
    // read through together.
    Status ChooseStretches(std::vector<BandReader>& readers, int threads);
    // Frees the row of blocks held between passes.
    void Release();
    // The bytes a row of blocks of these bands holds (0 when strips are read directly).
    static int64_t GroupNeed(int bandCount, int lines, int columns);

  private:
    const std::vector<BandReader>& readers_;
    ImageSize size_;
    int stripLines_;
    std::unique_ptr<LineGroup> group_;
};

}  // namespace tessera
