#pragma once
// Windows of raster bands decoded by GDAL: a group of bands decoded together (one band, or the
// bands of one pixel-interleaved file, whose blocks one decode fills for all of them), their
// values kept for later reads where the bands keep them (KeptValues), and brought to gray
// levels and marks.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "bands/rasterband.h"
#include "support/status.h"

namespace tessera {

class RasterSource;

// Columns x0..x0 + width - 1 of lines first..first + count - 1.
struct PixelWindow {
    int first = 0;
    int count = 0;
    int x0 = 0;
    int width = 0;
};

// A window to read as gray levels, and where they go: member g's lines in gray[g], `grayStride`
// bytes apart, from column x0 on; its marks in marks[g] (may be null), `width` bytes a line.
struct GrayRowsRequest {
    PixelWindow window;
    uint8_t* const* gray = nullptr;
    size_t grayStride = 0;
    uint8_t* const* marks = nullptr;
};

class DecodedGroup {
  public:
    // `members`: one source, or bands of one pixel-interleaved file that Groups put together,
    // read by worker `worker` of threads reading at once (worker w > 0 through a dataset of its
    // own).
    DecodedGroup(std::vector<const RasterSource*> members, int worker = 0);

    // The sources grouped by what one read serves: the bands of a pixel-interleaved file
    // together, every other source alone; indices into `sources`.
    static std::vector<std::vector<size_t>> Groups(const std::vector<const RasterSource*>& sources);

    // ReadLines for every source at once: the sources of one pixel-interleaved file are read in
    // one read of its dataset, so that each of its blocks is decoded once for all of them.
    // lines[i] and nodata[i] are the outputs of sources[i] (nodata[i] may be null). Thread
    // `turn` of `turns` reading at once starts its round of the files a share of the way
    // round (GroupsInTurn), so that the threads decode different files at the same time.
    static Status ReadLinesTogether(const std::vector<const RasterSource*>& sources, int first,
                                    int count, uint8_t* const* lines, uint8_t* const* nodata,
                                    int turn = 0, int turns = 1);

    // The window's native values of every member, one band after another (physical for a
    // scaled band): from what is kept, else decoded (and kept where the members keep values).
    // False when GDAL fails.
    bool Read(const PixelWindow& window, double* values) const;
    // The window's stored values (8-bit signed values as such), decoded by GDAL, nothing kept;
    // false when GDAL fails.
    bool Decode(const PixelWindow& window, double* values) const;
    // The window (whole blocks: WindowColumns wide, or the rest) as gray levels and marks, each
    // block decoded once. `values`: the thread's buffer of native values, grown as needed.
    // Refused naming the first band and line that cannot be read.
    Status ReadRows(const GrayRowsRequest& request, std::vector<double>& values) const;
    // The least and greatest value with data of each member in such a window, folded into
    // low[g] and high[g].
    Status FoldRange(const PixelWindow& window, double* low, double* high,
                     std::vector<double>& values) const;

    // The blocks of the window not kept yet (never decoded, or let go) decoded into what is
    // kept, where the members keep their blocks as decoded; a block GDAL fails on is left
    // for the read that names the failure.
    void KeepWhatIsMissing(const PixelWindow& window) const;

  private:
    // FoldRange from the values kept, where every member keeps its blocks as decoded in a
    // type of at most 16 bits; none where they do not, or a block cannot be decoded.
    std::optional<Status> FoldKeptRange(const PixelWindow& window, double* low,
                                        double* high) const;
    // The marks the members' masks and coverage give the request's pixels.
    Status MarkExclusions(const GrayRowsRequest& request) const;
    // Whether every member keeps its blocks as decoded, in blocks of one size.
    bool KeepsBlocksTogether() const;
    // The blocks the window touches decoded straight into what is kept, the window not read.
    // None when what is kept cannot take them, false when GDAL fails.
    std::optional<bool> DecodeBlocksInto(const PixelWindow& window) const;
    // DecodeBlocksInto, then the window read from what is kept.
    std::optional<bool> DecodeBlocksAndKeep(const PixelWindow& window, double* values) const;
    // Decode of the whole blocks around the window, piece by piece, each piece kept for the
    // members that keep their values, and the window's part of it given in `values`.
    bool DecodeAndKeep(const PixelWindow& window, double* values) const;

    std::vector<const RasterSource*> members_;
    int worker_ = 0;
};

// The groups from the one at `turn` (a share of the way round for each of `turns` threads) on,
// so that threads reading at once start on different files and decode them side by side.
template <typename Group>
std::vector<const Group*> GroupsInTurn(const std::vector<Group>& groups, int turn, int turns) {
    std::vector<const Group*> ordered;
    const size_t start = groups.empty() || turns <= 1
                             ? 0
                             : groups.size() * static_cast<size_t>(turn % turns) / turns;
    for (size_t i = 0; i < groups.size(); ++i)
        ordered.push_back(&groups[(start + i) % groups.size()]);
    return ordered;
}

// The pixels of a warped view that its file does not cover: alpha 0. Made where the view is
// opened; its alpha band is read as any band is, through its group (and its kept values).
class Coverage : public PixelExclusion {
  public:
    explicit Coverage(std::shared_ptr<RasterSource> alpha) : alpha_(std::move(alpha)) {}
    Status Mark(int first, int count, int x0, int width, uint8_t* masked) const override;

  private:
    std::shared_ptr<RasterSource> alpha_;
};

}  // namespace tessera
