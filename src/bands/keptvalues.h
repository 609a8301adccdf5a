#pragma once
// The stored values of a raster band, decoded once and kept for the later reads of a job: a
// compressed tile is then decoded once, however many passes read it. Kept block by block (the
// band's own blocks), in the type they are stored in, in memory or in a temporary file that no
// folder lists (it is unlinked as soon as it is open, so that nothing is left behind, whatever
// ends the program).
#include <array>
#include <atomic>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <string>
#include <vector>

#include "bands/bandfiles.h"
#include "image/rawfiles.h"
#include "support/status.h"

namespace tessera {

struct GrayTable;
// What tells one conversion of values to gray levels from another.
using GrayKey = std::array<uint64_t, 8>;

// The memory of the blocks of values that have become gray levels, handed to the blocks the
// next bands decode, so that a job touches fresh memory for one band's values rather than for
// all of them. Shared by the values kept of a job's bands; safe to use from several threads.
class KeptBlockPool {
  public:
    KeptBlockPool() = default;
    ~KeptBlockPool();
    KeptBlockPool(const KeptBlockPool&) = delete;
    KeptBlockPool& operator=(const KeptBlockPool&) = delete;
    // A block of `bytes` given back, or null when there is none: one whose pages are still
    // made where there is one.
    uint8_t* Take(size_t bytes);
    void Give(uint8_t* block, size_t bytes);
    // The pages of the blocks given back and not taken, back to the system; with `later`, those
    // of the blocks given back from now on too, as they are given (until Trim(false)).
    void Trim(bool later = false);
    // Blocks given back go back to the system at once (Trim(true)): blocks that become gray
    // levels keep them in their own place.
    bool Releasing() const;
    // At most `bytes` of blocks given back keep their pages for the blocks decoded next (all
    // of them until this is called); the pages of the others go back to the system.
    void Reserve(int64_t bytes);
    // The bytes of blocks the pool still keeps with their pages when given.
    int64_t Wanted() const;
    // A mapping the blocks live in, unmapped when the pool goes (after every band that takes
    // blocks from it).
    void Hold(uint8_t* mapping, size_t length);

  private:
    using BySize = std::vector<std::pair<size_t, std::vector<uint8_t*>>>;
    static void Add(BySize& lists, uint8_t* block, size_t bytes);
    static uint8_t* Remove(BySize& lists, size_t bytes);
    // The pages of blocks given back beyond `bytes` of them back to the system (lock_ held).
    void ReleaseBeyond(int64_t bytes);
    mutable std::mutex lock_;
    BySize made_;      // blocks given back with their pages
    BySize released_;  // blocks given back whose pages went back to the system
    int64_t madeBytes_ = 0;
    int64_t reserve_ = INT64_MAX;
    std::vector<std::pair<uint8_t*, size_t>> mappings_;
    std::atomic<bool> releasing_{false};
};

class KeptValues {
  public:
    // How a value is kept: the narrowest type that holds every value of the band's data type
    // exactly.
    enum class Kind { U8, I8, U16, I16, U32, I32, F32, F64 };
    static Kind KindOf(const std::string& dataType);
    static int BytesOf(Kind kind);

    // A band of `size` in blocks of blockLines x blockColumns; in memory when `spillFolder` is
    // empty, else in a temporary file there. Refused when the file cannot be made.
    // Blocks in memory take their place from `pool` where it has one, and give it back there
    // as they become gray levels.
    static Result<std::unique_ptr<KeptValues>> Make(
        ImageSize size, int blockLines, int blockColumns, Kind kind,
        const std::string& spillFolder, std::shared_ptr<KeptBlockPool> pool = nullptr);
    ~KeptValues();
    KeptValues(const KeptValues&) = delete;
    KeptValues& operator=(const KeptValues&) = delete;

    // The bytes the band takes, kept whole.
    static int64_t BytesFor(ImageSize size, int blockLines, int blockColumns, Kind kind);
    bool Spilled() const { return file_ >= 0; }
    // The memory a block of values takes.
    int64_t SlotBytes() const { return slotBytes_; }
    int BlockLines() const { return blockLines_; }
    int BlockColumns() const { return blockColumns_; }

    // Every block that the window of lines first..first + count - 1, columns x0..x0 + width
    // - 1 touches is kept (as values, or as gray levels).
    bool Holds(int first, int count, int x0, int width) const;
    // The window's values, count lines of width, from the blocks kept; false when a block is
    // not kept, is kept as gray levels, or cannot be read back (the caller then decodes it).
    bool Read(int first, int count, int x0, int width, double* values) const;
    // The window's gray levels and marks through tables of every value of a kind of at most 16
    // bits (entry value - `lowest`): gray[y * grayStride + x], marks[y * width + x] (marks may
    // be null). False for another kind, or as Read. With the table of KeepGrayLevels, every
    // block it touches is kept as gray levels from then on, and read as such.
    bool ReadThrough(int first, int count, int x0, int width, const uint8_t* grayOf,
                     const uint8_t* markOf, int lowest, uint8_t* gray, size_t grayStride,
                     uint8_t* marks) const;
    // seen[value - lowest] = 1 for every value of the window where skip (width bytes a line;
    // may be null) holds 0, for a kind of at most 16 bits (lowest: -32768 or -128 for a signed
    // one, else 0). False for another kind, or as Read.
    bool MarkOccurring(int first, int count, int x0, int width, const uint8_t* skip,
                       uint8_t* seen) const;
    Kind KindKept() const { return kind_; }

    // ----- gray levels in place of values, once the band's stretch is known -----
    // How values become gray levels and marks: `key` tells one way from another (the stretch,
    // nodata value and scaling it is made of); for 16-bit values `table` (of every value), for
    // wider ones `convert` (a line of values as doubles, which it may change, into gray levels
    // and marks).
    using GrayOfValues =
        std::function<void(double* values, size_t count, uint8_t* gray, uint8_t* marks)>;
    struct GrayKeeping {
        GrayKey key{};
        std::shared_ptr<const GrayTable> table;
        GrayOfValues convert;
    };
    // From now on the blocks of values of more than 8 bits kept in memory become, as they are
    // read (ReadGray) or by KeepRowAsGray, their gray levels and the marks of their pixels
    // without data: a byte a pixel, and a bit a pixel (16-bit values whose table gives one kind
    // of mark) or a byte, only in blocks that hold such pixels, in place of 2 to 8 bytes; the
    // rest of each block is given back to the system. False (nothing changes) for 8-bit
    // values, for values spilled to a file, or once blocks are gray levels of another key.
    // Values of a block kept as gray levels are not read any more (Read, ReadThrough,
    // MarkOccurring say false, and the caller decodes the block again).
    bool KeepGrayLevels(GrayKeeping keeping);
    bool KeepsGrayOf(const GrayKey& key) const { return keeping_ && keeping_->key == key; }
    // The memory of the blocks become gray levels and not taken again, back to the system
    // (KeptBlockPool::Trim).
    void TrimPool(bool later = false);
    // The blocks of block row `row` kept as values, made gray levels now.
    void KeepRowAsGray(int row);
    // The same for block (row, column) alone; false when it is not kept.
    bool KeepBlockAsGray(int row, int column);
    int BlockColumnsAcross() const { return across_; }
    // With `key` that of KeepGrayLevels: the blocks kept as values that lie wholly in lines
    // first..first + count - 1, made gray levels now (a read that decoded them is over).
    void KeepLinesAsGray(const GrayKey& key, int first, int count) const;
    int BlockRows() const { return down_; }
    // The window's gray levels and marks (may be null) as ReadThrough gives them, from blocks
    // kept as gray levels of `key` (made so first where they are still values). False for
    // another key, or where a block is not kept.
    bool ReadGray(const GrayKey& key, int first, int count, int x0, int width, uint8_t* gray,
                  size_t grayStride, uint8_t* marks) const;
    // Once every block of the band is kept as gray levels of `key`: the histogram of the
    // band's pixels with data, and those without (`nonFinite` of them marked NaN or infinite),
    // counted as the blocks became gray levels. False before, or for another key.
    bool GrayStatistics(const GrayKey& key, Histogram& histogram, int64_t& withoutData,
                        int64_t& nonFinite) const;

    // ----- values kept within what the gray levels will take -----
    // Until KeepGrayLevels, at most `blocks` blocks are kept in memory as values (no limit
    // when negative): a block decoded beyond them is kept only passing, until LetGoPassing,
    // and decoded again once the stretch is known. So a band whose range is being read takes
    // no more memory than the gray levels of the bands still to come.
    // Once the band's stretch is known (KeepGrayLevels), the pool keeps the pages of
    // `nextBytes` of the blocks it is given for the band read next, and no more.
    void LimitValues(int64_t blocks, int64_t nextBytes) {
        valueLimit_.store(blocks, std::memory_order_release);
        reserveNext_ = nextBytes;
    }
    // The blocks kept passing that lie wholly in the window, let go (their memory to the pool).
    void LetGoPassing(int first, int count, int x0, int width);
    // Block (row, column) is kept, as values or gray levels.
    bool HoldsBlock(int row, int column) const;

    // Keeps the blocks that lie wholly in the window (`values`, count lines of width, or at the
    // band's edge as far as it goes) and are not kept yet. False when the file cannot take them:
    // the caller stops keeping, and reads the band from its file again.
    bool Keep(int first, int count, int x0, int width, const double* values);
    // Keeps block (by, bx) from what decode(block) writes: the whole block in the kind kept,
    // blockLines rows of blockColumns values, straight into the memory kept when it is in
    // memory. Nothing is done for a block kept or being kept already.
    enum class Filled { Kept, NotDecoded, NotKept };
    template <class Decode>
    Filled KeepBlock(int by, int bx, const Decode& decode);

  private:
    KeptValues() = default;
    // Where block (by, bx) is filled: its place in memory, or a buffer of the caller's thread
    // to be written to the file; null when it is kept or being kept (claimed for the caller
    // otherwise), or nothing can be kept any more.
    uint8_t* Claim(size_t block);
    // The end of a claim: the block kept when `decoded`, else free again; false when the file
    // cannot take it.
    bool Settle(size_t block, bool decoded);
    // row(values of one line of one block, their count, the line and column in the window) for
    // every row of every block the window touches, in the kind kept; false when a block is not
    // kept or cannot be read back.
    template <class Row>
    bool ForEachRow(int first, int count, int x0, int width, const Row& row) const;
    // Block `block`, kept as values, made gray levels (unless another thread does so; it is
    // then waited for). False when it is not kept as values or gray levels.
    bool ToGrayLevels(size_t block) const;
    // A thread's buffers for making a block gray levels, kept for the next block (not in
    // thread-local storage: this code is also loaded as a module).
    struct Scratch {
        std::vector<uint8_t> marks;
        std::vector<uint8_t> runs;
        std::vector<double> line;
    };
    std::unique_ptr<Scratch> TakeScratch() const;
    void GiveScratch(std::unique_ptr<Scratch> scratch) const;
    mutable std::mutex scratchLock_;
    mutable std::vector<std::unique_ptr<Scratch>> scratch_;
    // Where block `block`'s values go: a place from the pool, else its own.
    uint8_t* Place(size_t block);
    // Block `block` kept no more as values (to be decoded again): the memory of its values to
    // the pool, or back to the system where it is the block's own place.
    void GiveBackValues(size_t block);
    size_t BlockIndex(int by, int bx) const { return static_cast<size_t>(by) * across_ + bx; }
    int64_t BlockOffset(size_t block) const { return static_cast<int64_t>(block) * blockBytes_; }

    ImageSize size_;
    int blockLines_ = 1, blockColumns_ = 1;
    int across_ = 1, down_ = 1;
    Kind kind_ = Kind::F64;
    int64_t blockBytes_ = 0;
    int64_t slotBytes_ = 0;  // a block's place in memory: its bytes, or whole pages
    // The blocks one after the other, when not spilled: a mapping of its own (the pool's, when
    // there is one), touched (and so made) only where a block is kept in its own place; where_
    // is where each block's values are (its own place, or one from the pool).
    uint8_t* memory_ = nullptr;
    size_t mapped_ = 0;
    std::shared_ptr<KeptBlockPool> pool_;
    std::unique_ptr<uint8_t*[]> where_;
    std::unique_ptr<uint8_t*[]> grayAt_;  // where each block's gray levels are
    // The blocks' gray levels, grayBytes_ a block, mapped by KeepGrayLevels.
    uint8_t* gray_ = nullptr;
    size_t grayMapped_ = 0;
    size_t grayBytes_ = 0;
    int file_ = -1;
    mutable std::atomic<bool> broken_{false};  // a block could not be kept: nothing is read from here
    // Per block: 0 not kept, 1 being kept by one thread, 2 kept, 3 becoming gray levels, 4 kept
    // as gray levels (at grayAt_, in gray_ or in the values' place: the gray levels of the
    // block's pixels within the band, a line after another; where hasMarks_, its marks at
    // marksOf_: with markBits_ a bit a pixel, each line from a whole byte on, or runs of
    // marked pixels, else a byte a pixel).
    std::unique_ptr<std::atomic<uint8_t>[]> state_;
    std::unique_ptr<uint8_t[]> hasMarks_;
    std::unique_ptr<std::unique_ptr<uint8_t[]>[]> marksOf_;
    std::unique_ptr<std::atomic<uint8_t>[]> passing_;  // kept passing (LimitValues)
    std::atomic<int64_t> valueLimit_{-1};
    int64_t reserveNext_ = -1;
    mutable std::atomic<int64_t> keptAsValues_{0};  // blocks in memory as values, not passing
    std::shared_ptr<const GrayKeeping> keeping_;
    bool markBits_ = true;
    uint8_t mark_ = 0;  // the one mark a bit stands for
    int markedCount_ = 0;  // how many values the table marks
    int markedValue_ = 0;  // the one, when one
    // The histogram of the blocks made gray levels so far, their pixels within the band.
    mutable std::mutex counting_;
    mutable Histogram grayCounts_{};
    mutable int64_t withoutData_ = 0;
    mutable int64_t nonFinite_ = 0;
    mutable size_t blocksCounted_ = 0;
};

template <class Decode>
KeptValues::Filled KeptValues::KeepBlock(int by, int bx, const Decode& decode) {
    const size_t block = BlockIndex(by, bx);
    uint8_t* place = Claim(block);
    if (place == nullptr)
        return broken_.load(std::memory_order_acquire) ? Filled::NotKept : Filled::Kept;
    const bool decoded = decode(place);
    if (!Settle(block, decoded)) return Filled::NotKept;
    return decoded ? Filled::Kept : Filled::NotDecoded;
}

}  // namespace tessera
