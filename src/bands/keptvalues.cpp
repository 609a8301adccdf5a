#include "bands/keptvalues.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "bands/graytable.h"
#include "support/temporaries.h"

namespace tessera {

namespace {

template <typename T>
void ToDoubles(const uint8_t* from, size_t count, double* to) {
    T value;
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(&value, from + i * sizeof(T), sizeof(T));
        to[i] = static_cast<double>(value);
    }
}

template <typename T>
void FromDoubles(const double* from, size_t count, uint8_t* to) {
    for (size_t i = 0; i < count; ++i) {
        const T value = static_cast<T>(from[i]);
        std::memcpy(to + i * sizeof(T), &value, sizeof(T));
    }
}

void Convert(KeptValues::Kind kind, const uint8_t* from, size_t count, double* to) {
    switch (kind) {
        case KeptValues::Kind::U8: return ToDoubles<uint8_t>(from, count, to);
        case KeptValues::Kind::I8: return ToDoubles<int8_t>(from, count, to);
        case KeptValues::Kind::U16: return ToDoubles<uint16_t>(from, count, to);
        case KeptValues::Kind::I16: return ToDoubles<int16_t>(from, count, to);
        case KeptValues::Kind::U32: return ToDoubles<uint32_t>(from, count, to);
        case KeptValues::Kind::I32: return ToDoubles<int32_t>(from, count, to);
        case KeptValues::Kind::F32: return ToDoubles<float>(from, count, to);
        case KeptValues::Kind::F64: return ToDoubles<double>(from, count, to);
    }
}

void Convert(KeptValues::Kind kind, const double* from, size_t count, uint8_t* to) {
    switch (kind) {
        case KeptValues::Kind::U8: return FromDoubles<uint8_t>(from, count, to);
        case KeptValues::Kind::I8: return FromDoubles<int8_t>(from, count, to);
        case KeptValues::Kind::U16: return FromDoubles<uint16_t>(from, count, to);
        case KeptValues::Kind::I16: return FromDoubles<int16_t>(from, count, to);
        case KeptValues::Kind::U32: return FromDoubles<uint32_t>(from, count, to);
        case KeptValues::Kind::I32: return FromDoubles<int32_t>(from, count, to);
        case KeptValues::Kind::F32: return FromDoubles<float>(from, count, to);
        case KeptValues::Kind::F64: return FromDoubles<double>(from, count, to);
    }
}

bool WriteAll(int file, const uint8_t* bytes, size_t length, int64_t offset) {
    while (length > 0) {
        const ssize_t wrote = ::pwrite(file, bytes, length, static_cast<off_t>(offset));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        bytes += wrote;
        length -= static_cast<size_t>(wrote);
        offset += wrote;
    }
    return true;
}

bool ReadAll(int file, uint8_t* bytes, size_t length, int64_t offset) {
    while (length > 0) {
        const ssize_t got = ::pread(file, bytes, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        length -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}

constexpr uint8_t kFree = 0, kKeeping = 1, kKept = 2, kBecomingGray = 3, kGray = 4;

}  // namespace

KeptBlockPool::~KeptBlockPool() {
    for (const auto& [mapping, length] : mappings_) ::munmap(mapping, length);
}

void KeptBlockPool::Add(BySize& lists, uint8_t* block, size_t bytes) {
    for (auto& [size, blocks] : lists)
        if (size == bytes) {
            blocks.push_back(block);
            return;
        }
    lists.push_back({bytes, {block}});
}

uint8_t* KeptBlockPool::Remove(BySize& lists, size_t bytes) {
    for (auto& [size, blocks] : lists)
        if (size == bytes && !blocks.empty()) {
            uint8_t* block = blocks.back();
            blocks.pop_back();
            return block;
        }
    return nullptr;
}

uint8_t* KeptBlockPool::Take(size_t bytes) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (uint8_t* block = Remove(made_, bytes)) {
        madeBytes_ -= static_cast<int64_t>(bytes);
        return block;
    }
    return Remove(released_, bytes);
}

namespace {

// The whole pages of bytes at `start` back to the system.
void ReleasePages(uint8_t* start, size_t bytes) {
    const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t from = (reinterpret_cast<uintptr_t>(start) + page - 1) / page * page;
    const uintptr_t to = (reinterpret_cast<uintptr_t>(start) + bytes) / page * page;
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
}

// The whole pages of bytes at `start` made (written) now.
void PopulatePages(uint8_t* start, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t from = (reinterpret_cast<uintptr_t>(start) + page - 1) / page * page;
    const uintptr_t to = (reinterpret_cast<uintptr_t>(start) + bytes) / page * page;
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)start;
    (void)bytes;
#endif
}

}  // namespace

void KeptBlockPool::Give(uint8_t* block, size_t bytes) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (releasing_.load() || madeBytes_ + static_cast<int64_t>(bytes) > reserve_) {
        ReleasePages(block, bytes);
        Add(released_, block, bytes);
        return;
    }
    Add(made_, block, bytes);
    madeBytes_ += static_cast<int64_t>(bytes);
}

void KeptBlockPool::Trim(bool later) {
    const std::lock_guard<std::mutex> hold(lock_);
    ReleaseBeyond(0);
    releasing_ = later;
}

void KeptBlockPool::Reserve(int64_t bytes) {
    const std::lock_guard<std::mutex> hold(lock_);
    reserve_ = bytes;
    ReleaseBeyond(reserve_);
}

void KeptBlockPool::ReleaseBeyond(int64_t bytes) {
    for (auto& [size, blocks] : made_)
        while (madeBytes_ > bytes && !blocks.empty()) {
            ReleasePages(blocks.back(), size);
            Add(released_, blocks.back(), size);
            blocks.pop_back();
            madeBytes_ -= static_cast<int64_t>(size);
        }
}

int64_t KeptBlockPool::Wanted() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return releasing_.load() ? 0 : std::max<int64_t>(0, reserve_ - madeBytes_);
}

bool KeptBlockPool::Releasing() const {
    return releasing_.load();
}

void KeptBlockPool::Hold(uint8_t* mapping, size_t length) {
    const std::lock_guard<std::mutex> hold(lock_);
    mappings_.push_back({mapping, length});
}

KeptValues::Kind KeptValues::KindOf(const std::string& dataType) {
    if (dataType == "Byte") return Kind::U8;
    if (dataType == "Int8") return Kind::I8;
    if (dataType == "UInt16") return Kind::U16;
    if (dataType == "Int16") return Kind::I16;
    if (dataType == "UInt32") return Kind::U32;
    if (dataType == "Int32") return Kind::I32;
    if (dataType == "Float32") return Kind::F32;
    return Kind::F64;
}

int KeptValues::BytesOf(Kind kind) {
    switch (kind) {
        case Kind::U8:
        case Kind::I8: return 1;
        case Kind::U16:
        case Kind::I16: return 2;
        case Kind::U32:
        case Kind::I32:
        case Kind::F32: return 4;
        case Kind::F64: return 8;
    }
    return 8;
}

int64_t KeptValues::BytesFor(ImageSize size, int blockLines, int blockColumns, Kind kind) {
    const int64_t lines = std::max(blockLines, 1), columns = std::max(blockColumns, 1);
    const int64_t down = (size.lines + lines - 1) / lines;
    const int64_t across = (size.columns + columns - 1) / columns;
    return down * across * lines * columns * BytesOf(kind);
}

Result<std::unique_ptr<KeptValues>> KeptValues::Make(ImageSize size, int blockLines,
                                                     int blockColumns, Kind kind,
                                                     const std::string& spillFolder,
                                                     std::shared_ptr<KeptBlockPool> pool) {
    using R = Result<std::unique_ptr<KeptValues>>;
    std::unique_ptr<KeptValues> kept(new KeptValues());
    kept->size_ = size;
    kept->blockLines_ = std::max(blockLines, 1);
    kept->blockColumns_ = std::max(blockColumns, 1);
    kept->down_ = (size.lines + kept->blockLines_ - 1) / kept->blockLines_;
    kept->across_ = (size.columns + kept->blockColumns_ - 1) / kept->blockColumns_;
    kept->kind_ = kind;
    kept->blockBytes_ = int64_t{kept->blockLines_} * kept->blockColumns_ * BytesOf(kind);
    // In memory each block from a page on, where that wastes little: its pages go back to the
    // system whole once it is gray levels.
    const int64_t page = ::sysconf(_SC_PAGESIZE);
    const int64_t rounded = (kept->blockBytes_ + page - 1) / page * page;
    kept->slotBytes_ = (rounded - kept->blockBytes_) * 8 <= kept->blockBytes_ ? rounded
                                                                             : kept->blockBytes_;
    const size_t blocks = static_cast<size_t>(kept->down_) * kept->across_;
    kept->state_.reset(new std::atomic<uint8_t>[blocks]);
    for (size_t i = 0; i < blocks; ++i) kept->state_[i].store(kFree, std::memory_order_relaxed);
    kept->hasMarks_.reset(new uint8_t[blocks]());
    kept->marksOf_.reset(new std::unique_ptr<uint8_t[]>[blocks]);
    kept->passing_.reset(new std::atomic<uint8_t>[blocks]);
    for (size_t i = 0; i < blocks; ++i) kept->passing_[i].store(0, std::memory_order_relaxed);
    kept->where_.reset(new uint8_t*[blocks]());
    kept->grayAt_.reset(new uint8_t*[blocks]());
    if (spillFolder.empty()) {
        const int64_t bytes = kept->slotBytes_ * static_cast<int64_t>(blocks);
        // Not touched until a block is kept: pages the band never fills cost nothing.
        // In the system's own pages: asking for huge pages costs more than it saves, since
        // where the system defragments for them only on request (Debian's default), each
        // first touch of 2 MiB waits for memory to be compacted, then zeroes it whole.
        const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        const size_t length = (static_cast<size_t>(bytes) + page - 1) / page * page;
        void* mapped = ::mmap(nullptr, length, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (mapped == MAP_FAILED) return R::Failure("no memory for the values kept");
        kept->memory_ = static_cast<uint8_t*>(mapped);
        kept->mapped_ = length;
        if (pool) {
            pool->Hold(kept->memory_, length);
            kept->pool_ = std::move(pool);
        }
        return R::Of(std::move(kept));
    }
    std::string name;
    int record = -1;
    const int file =
        CreateRecordedTemporary(spillFolder + "/.tessera-kept-XXXXXX", name, record);
    if (file < 0)
        return R::Failure("cannot make a temporary file in " + spillFolder + ": " +
                          std::strerror(errno));
    // Unlinked at once: the file goes when it is closed, whatever ends the program.
    ::unlink(name.c_str());
    ForgetTemporary(record);
    kept->file_ = file;
    return R::Of(std::move(kept));
}

KeptValues::~KeptValues() {
    if (file_ >= 0) ::close(file_);
    if (memory_ && !pool_) ::munmap(memory_, mapped_);
    if (gray_) ::munmap(gray_, grayMapped_);
}

bool KeptValues::Holds(int first, int count, int x0, int width) const {
    if (broken_.load(std::memory_order_acquire)) return false;
    if (count <= 0 || width <= 0) return true;
    const int by0 = first / blockLines_, by1 = (first + count - 1) / blockLines_;
    const int bx0 = x0 / blockColumns_, bx1 = (x0 + width - 1) / blockColumns_;
    for (int by = by0; by <= by1; ++by)
        for (int bx = bx0; bx <= bx1; ++bx) {
            const uint8_t state = state_[BlockIndex(by, bx)].load(std::memory_order_acquire);
            if (state != kKept && state != kBecomingGray && state != kGray) return false;
        }
    return true;
}

template <class Row>
bool KeptValues::ForEachRow(int first, int count, int x0, int width, const Row& row) const {
    if (broken_.load(std::memory_order_acquire)) return false;
    if (count <= 0 || width <= 0) return true;
    // Values only: a block kept as gray levels holds them no more.
    for (int by = first / blockLines_; by * blockLines_ < first + count; ++by)
        for (int bx = x0 / blockColumns_; bx * blockColumns_ < x0 + width; ++bx)
            if (state_[BlockIndex(by, bx)].load(std::memory_order_acquire) != kKept) return false;
    const int bytes = BytesOf(kind_);
    thread_local std::vector<uint8_t> rows;
    for (int by = first / blockLines_; by * blockLines_ < first + count; ++by) {
        const int top = by * blockLines_;
        const int y0 = std::max(first, top), y1 = std::min(first + count, top + blockLines_);
        for (int bx = x0 / blockColumns_; bx * blockColumns_ < x0 + width; ++bx) {
            const int left = bx * blockColumns_;
            const int c0 = std::max(x0, left), c1 = std::min(x0 + width, left + blockColumns_);
            const int64_t rowBytes = int64_t{blockColumns_} * bytes;
            const int64_t start = BlockOffset(BlockIndex(by, bx)) + (y0 - top) * rowBytes;
            const uint8_t* block = nullptr;
            if (memory_) {
                block = where_[BlockIndex(by, bx)] + (y0 - top) * rowBytes;
            } else {
                // The block's lines of the window, read back from the file.
                rows.resize(static_cast<size_t>((y1 - y0) * rowBytes));
                if (!ReadAll(file_, rows.data(), rows.size(), start)) {
                    broken_.store(true, std::memory_order_release);
                    return false;
                }
                block = rows.data();
            }
            for (int y = y0; y < y1; ++y)
                row(block + (y - y0) * rowBytes + int64_t{c0 - left} * bytes,
                    static_cast<size_t>(c1 - c0), static_cast<size_t>(y - first),
                    static_cast<size_t>(c0 - x0));
        }
    }
    return true;
}

bool KeptValues::Read(int first, int count, int x0, int width, double* values) const {
    return ForEachRow(first, count, x0, width,
                      [&](const uint8_t* from, size_t n, size_t line, size_t column) {
                          Convert(kind_, from, n, values + line * width + column);
                      });
}

namespace {

template <typename T>
void Through(const uint8_t* from, size_t count, const uint8_t* grayOf, const uint8_t* markOf,
             int lowest, uint8_t* gray, uint8_t* marks) {
    T value;
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(&value, from + i * sizeof(T), sizeof(T));
        const int at = static_cast<int>(value) - lowest;
        gray[i] = grayOf[at];
        if (marks) marks[i] = markOf[at];
    }
}

}  // namespace

bool KeptValues::ReadThrough(int first, int count, int x0, int width, const uint8_t* grayOf,
                             const uint8_t* markOf, int lowest, uint8_t* gray,
                             size_t grayStride, uint8_t* marks) const {
    if (BytesOf(kind_) > 2) return false;
    return ForEachRow(
        first, count, x0, width, [&](const uint8_t* from, size_t n, size_t line, size_t column) {
            uint8_t* to = gray + line * grayStride + column;
            uint8_t* mark = marks ? marks + line * width + column : nullptr;
            switch (kind_) {
                case Kind::U8: Through<uint8_t>(from, n, grayOf, markOf, lowest, to, mark); break;
                case Kind::I8: Through<int8_t>(from, n, grayOf, markOf, lowest, to, mark); break;
                case Kind::U16: Through<uint16_t>(from, n, grayOf, markOf, lowest, to, mark); break;
                case Kind::I16: Through<int16_t>(from, n, grayOf, markOf, lowest, to, mark); break;
                default: break;
            }
        });
}

bool KeptValues::KeepGrayLevels(GrayKeeping keeping) {
    const int bytes = BytesOf(kind_);
    if (bytes < 2 || memory_ == nullptr) return false;
    if (bytes == 2 ? !keeping.table : !keeping.convert) return false;
    if (keeping_ && keeping_->key == keeping.key) return true;
    const size_t blocks = static_cast<size_t>(down_) * across_;
    for (size_t block = 0; block < blocks; ++block) {
        const uint8_t state = state_[block].load(std::memory_order_acquire);
        if (state == kBecomingGray || state == kGray) return false;  // of another stretch
    }
    // Marks a bit a pixel where a table gives one kind of mark (and the values it marks);
    // else a byte a pixel.
    uint8_t mark = 0;
    int marked = 0, markedCount = 0;
    bool oneKind = keeping.table != nullptr;
    if (keeping.table) {
        const GrayTable& table = *keeping.table;
        for (size_t i = 0; i < table.marks.size() && oneKind; ++i) {
            const uint8_t each = table.marks[i];
            if (each == 0) continue;
            oneKind = mark == 0 || each == mark;
            mark = each;
            marked = table.lowest + static_cast<int>(i);
            ++markedCount;
        }
    }
    // A block's gray levels (its marks apart).
    const size_t grayBytes = static_cast<size_t>(blockLines_) * blockColumns_;
    if (gray_ == nullptr || grayBytes != grayBytes_) {
        const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        const size_t length = (grayBytes * blocks + page - 1) / page * page;
        void* mapped = ::mmap(nullptr, length, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (mapped == MAP_FAILED) return false;
        if (gray_) ::munmap(gray_, grayMapped_);
        gray_ = static_cast<uint8_t*>(mapped);
        grayMapped_ = length;
        grayBytes_ = grayBytes;
    }
    keeping_ = std::make_shared<const GrayKeeping>(std::move(keeping));
    valueLimit_.store(-1, std::memory_order_release);  // values become gray levels from now on
    if (pool_ && reserveNext_ >= 0) pool_->Reserve(reserveNext_);
    markBits_ = oneKind;
    mark_ = mark;
    markedValue_ = marked;
    markedCount_ = oneKind ? markedCount : 2;
    return true;
}

void KeptValues::KeepRowAsGray(int row) {
    if (!keeping_ || row < 0 || row >= down_) return;
    for (int bx = 0; bx < across_; ++bx) ToGrayLevels(BlockIndex(row, bx));
}

bool KeptValues::KeepBlockAsGray(int row, int column) {
    if (!keeping_ || row < 0 || row >= down_ || column < 0 || column >= across_) return false;
    return ToGrayLevels(BlockIndex(row, column));
}

void KeptValues::KeepLinesAsGray(const GrayKey& key, int first, int count) const {
    if (!keeping_ || keeping_->key != key) return;
    for (int by = (first + blockLines_ - 1) / blockLines_; by < down_; ++by) {
        if (std::min(size_.lines, (by + 1) * blockLines_) > first + count) break;
        for (int bx = 0; bx < across_; ++bx) ToGrayLevels(BlockIndex(by, bx));
    }
}

void KeptValues::LetGoPassing(int first, int count, int x0, int width) {
    if (!memory_) return;
    for (int by = (first + blockLines_ - 1) / blockLines_; by < down_; ++by) {
        const int top = by * blockLines_, bottom = std::min(size_.lines, top + blockLines_);
        if (bottom > first + count) break;
        for (int bx = (x0 + blockColumns_ - 1) / blockColumns_; bx < across_; ++bx) {
            const int left = bx * blockColumns_;
            if (std::min(size_.columns, left + blockColumns_) > x0 + width) break;
            const size_t block = BlockIndex(by, bx);
            if (passing_[block].load(std::memory_order_acquire) == 0) continue;
            uint8_t expected = kKept;
            if (!state_[block].compare_exchange_strong(expected, kKeeping,
                                                       std::memory_order_acq_rel))
                continue;
            passing_[block].store(0, std::memory_order_release);
            GiveBackValues(block);
            state_[block].store(kFree, std::memory_order_release);
        }
    }
}

bool KeptValues::HoldsBlock(int row, int column) const {
    const uint8_t state = state_[BlockIndex(row, column)].load(std::memory_order_acquire);
    return !broken_.load(std::memory_order_acquire) &&
           (state == kKept || state == kBecomingGray || state == kGray);
}

namespace {

// Gray levels of `columns` values of a line through `grayOf` (indexed from `lowest`), eight at a
// time: each eight values are read before their eight gray levels are stored, so that `to` may
// take the place of `from` (byte x is written after value x is read, and holds value x / 2).
template <typename T>
void LineThroughTable(const uint8_t* from, int columns, const uint8_t* grayOf, int lowest,
                      uint8_t* to) {
    const auto valueAt = [from](int x) {
        T value;
        std::memcpy(&value, from + sizeof(T) * static_cast<size_t>(x), sizeof(T));
        return static_cast<int>(value);
    };
    int x = 0;
    for (; x + 8 <= columns; x += 8) {
        uint8_t eight[8];
        for (int k = 0; k < 8; ++k) eight[k] = grayOf[valueAt(x + k) - lowest];
        std::memcpy(to + x, eight, sizeof eight);
    }
    for (; x < columns; ++x) to[x] = grayOf[valueAt(x) - lowest];
}

// A block's 16-bit values (`lines` of `columns`, each `stride` values from the last) through
// the table: gray levels, `columns` a line (`gray` may be `values`: gray level x of a line lies
// over values the line has read already, or those of an earlier line), and the marks: with
// `bits`, a bit a pixel (lines from a whole byte on) set where the table marks the value, else
// the table's marks, a byte a pixel. `markedCount` values are marked: none, one (`marked`), or
// more (then looked up). Whether any is marked.
template <typename T>
bool BlockThrough(const uint8_t* values, int lines, int columns, int stride,
                  const GrayTable& table, int markedCount, int marked, bool bits, uint8_t* gray,
                  uint8_t* marks) {
    const size_t rowBits = (static_cast<size_t>(columns) + 7) / 8;
    const uint8_t* grayOf = table.gray.data();
    const uint8_t* markOf = table.marks.data();
    const int lowest = table.lowest;
    const auto valueAt = [](const uint8_t* from, int x) {
        T value;
        std::memcpy(&value, from + sizeof(T) * static_cast<size_t>(x), sizeof(T));
        return value;
    };
    uint8_t any = 0;
    for (int y = 0; y < lines; ++y) {
        const uint8_t* from = values + sizeof(T) * static_cast<size_t>(y) * stride;
        uint8_t* to = gray + static_cast<size_t>(y) * columns;
        if (markedCount == 0) {
            LineThroughTable<T>(from, columns, grayOf, lowest, to);
            continue;
        }
        // The marks first: the gray levels may take the place of the values they are read
        // from (value x is read before byte x is written, and byte x holds value x / 2).
        if (!bits) {
            uint8_t* row = marks + static_cast<size_t>(y) * columns;
            for (int x = 0; x < columns; ++x) {
                row[x] = markOf[static_cast<int>(valueAt(from, x)) - lowest];
                any |= row[x];
            }
        } else {
            uint8_t* row = marks + rowBits * static_cast<size_t>(y);
            for (int x0 = 0; x0 < columns; x0 += 8) {
                const int end = std::min(8, columns - x0);
                uint8_t byte = 0;
                if (markedCount == 1) {
                    const T value = static_cast<T>(marked);
                    if (end == 8) {
                        for (int k = 0; k < 8; ++k)
                            byte = static_cast<uint8_t>(byte |
                                                        ((valueAt(from, x0 + k) == value) << k));
                    } else {
                        for (int k = 0; k < end; ++k)
                            byte = static_cast<uint8_t>(byte |
                                                        ((valueAt(from, x0 + k) == value) << k));
                    }
                } else {
                    for (int k = 0; k < end; ++k)
                        byte = static_cast<uint8_t>(
                            byte |
                            ((markOf[static_cast<int>(valueAt(from, x0 + k)) - lowest] != 0) << k));
                }
                row[x0 >> 3] = byte;
                any |= byte;
            }
        }
        LineThroughTable<T>(from, columns, grayOf, lowest, to);
    }
    return any != 0;
}

// How a block kept as gray levels keeps the marks of its pixels without data.
constexpr uint8_t kNoMarks = 0, kMarkMap = 1, kMarkRuns = 2;

// Marks a bit a pixel (lines of `columns`, each from a whole byte on) as runs of marked pixels:
// for every line y, entries offset(y)..offset(y + 1) - 1 of 16-bit numbers, a run's first
// pixel then the one after its last; offsets are 32-bit, lines + 1 of them, before the runs.
// False (runs then undefined) where runs would take as much as the bits, or columns do not
// fit 16 bits.
bool MarkRuns(const uint8_t* bits, int lines, int columns, std::vector<uint8_t>& runs) {
    const size_t rowBits = (static_cast<size_t>(columns) + 7) / 8;
    const size_t limit = rowBits * static_cast<size_t>(lines);
    if (columns > 0xFFFF) return false;
    runs.resize(4 * (static_cast<size_t>(lines) + 1));
    uint32_t entries = 0;
    const auto put = [&](size_t at, const void* value, size_t bytes) {
        std::memcpy(runs.data() + at, value, bytes);
    };
    put(0, &entries, 4);
    for (int y = 0; y < lines; ++y) {
        const uint8_t* row = bits + rowBits * static_cast<size_t>(y);
        int x = 0;
        while (x < columns) {
            // The next marked pixel, a byte at a time over bytes without one.
            if ((x & 7) == 0 && row[x >> 3] == 0) {
                x += 8;
                continue;
            }
            if (((row[x >> 3] >> (x & 7)) & 1) == 0) {
                ++x;
                continue;
            }
            int end = x + 1;
            while (end < columns) {
                if ((end & 7) == 0 && row[end >> 3] == 0xFF && end + 8 <= columns) {
                    end += 8;
                } else if ((row[end >> 3] >> (end & 7)) & 1) {
                    ++end;
                } else {
                    break;
                }
            }
            // Runs that would take as much as the bits: the bits are kept.
            if (runs.size() + 4 >= limit) return false;
            const uint16_t pair[2] = {static_cast<uint16_t>(x), static_cast<uint16_t>(end)};
            runs.insert(runs.end(), reinterpret_cast<const uint8_t*>(pair),
                        reinterpret_cast<const uint8_t*>(pair) + sizeof pair);
            entries += 2;
            x = end;
        }
        put(4 * (static_cast<size_t>(y) + 1), &entries, 4);
    }
    return true;
}

// The runs MarkRuns makes, read where they lie (on any byte).
class MarkRunsView {
  public:
    MarkRunsView(const uint8_t* runs, int lines)
        : offsets_(runs), entries_(runs + 4 * (static_cast<size_t>(lines) + 1)) {}
    // Calls each(first, end) for every run of line y.
    template <class Each>
    void ForEach(int y, const Each& each) const {
        const uint32_t from = Word32(y), to = Word32(y + 1);
        for (uint32_t i = from; i + 1 < to; i += 2) each(Word16(i), Word16(i + 1));
    }

  private:
    uint32_t Word32(int y) const {
        uint32_t value;
        std::memcpy(&value, offsets_ + 4 * static_cast<size_t>(y), 4);
        return value;
    }
    int Word16(uint32_t i) const {
        uint16_t value;
        std::memcpy(&value, entries_ + 2 * static_cast<size_t>(i), 2);
        return value;
    }
    const uint8_t* offsets_;
    const uint8_t* entries_;
};

}  // namespace

bool KeptValues::ToGrayLevels(size_t block) const {
    std::atomic<uint8_t>& state = state_[block];
    for (;;) {
        uint8_t now = state.load(std::memory_order_acquire);
        if (now == kGray) return true;
        if (now == kBecomingGray) {
            std::this_thread::yield();
            continue;
        }
        if (now != kKept) return false;
        if (state.compare_exchange_weak(now, kBecomingGray, std::memory_order_acq_rel)) break;
    }
    // The block's pixels within the band only: an edge block keeps no gray levels for the
    // padding the file's blocks have beyond the band.
    const int top = static_cast<int>(block / across_) * blockLines_;
    const int left = static_cast<int>(block % across_) * blockColumns_;
    const int lines = std::min(blockLines_, size_.lines - top);
    const int columns = std::min(blockColumns_, size_.columns - left);
    const size_t cells = static_cast<size_t>(lines) * columns;
    const size_t rowBits = (static_cast<size_t>(columns) + 7) / 8;
    const size_t markBytes = markBits_ ? rowBits * lines : cells;
    std::unique_ptr<Scratch> scratch = TakeScratch();
    std::vector<uint8_t>& marks = scratch->marks;
    marks.resize(markBytes);
    const uint8_t* values = where_[block];
    // In place of the values, where no band decodes into their memory any more; else apart,
    // and the values' memory to the pool for the blocks decoded next: by the blocks that become
    // gray levels last, where the pool wants fewer than the band has.
    const bool inPlace =
        !pool_ || pool_->Releasing() ||
        keptAsValues_.load(std::memory_order_acquire) * slotBytes_ > pool_->Wanted();
    uint8_t* place = inPlace ? where_[block] : gray_ + grayBytes_ * block;
    if (!inPlace) PopulatePages(place, cells);
    const GrayKeeping& keeping = *keeping_;
    bool marked = false;
    if (kind_ == Kind::U16 || kind_ == Kind::I16) {
        marked = kind_ == Kind::U16
                     ? BlockThrough<uint16_t>(values, lines, columns, blockColumns_,
                                              *keeping.table, markedCount_, markedValue_,
                                              markBits_, place, marks.data())
                     : BlockThrough<int16_t>(values, lines, columns, blockColumns_,
                                             *keeping.table, markedCount_, markedValue_,
                                             markBits_, place, marks.data());
    } else {
        // Wider values, a line at a time as doubles.
        const int bytes = BytesOf(kind_);
        std::vector<double>& line = scratch->line;
        line.resize(static_cast<size_t>(columns));
        uint8_t any = 0;
        for (int y = 0; y < lines; ++y) {
            Convert(kind_, values + static_cast<size_t>(y) * blockColumns_ * bytes,
                    static_cast<size_t>(columns), line.data());
            uint8_t* row = marks.data() + static_cast<size_t>(y) * columns;
            // (In place: the line's values are taken first, as above.)
            keeping.convert(line.data(), static_cast<size_t>(columns),
                            place + static_cast<size_t>(y) * columns, row);
            for (int x = 0; x < columns; ++x) any |= row[x];
        }
        marked = any != 0;
    }
    // The block's part of the band's statistics.
    const uint8_t* gray = place;
    Histogram counts{};
    int64_t without = 0, nonFinite = 0;
    AddToHistogram(gray, cells, counts);
    // Marks a bit a pixel kept as runs of marked pixels where those take less.
    std::vector<uint8_t>& runs = scratch->runs;
    const bool asRuns = marked && markBits_ && MarkRuns(marks.data(), lines, columns, runs);
    const auto unmark = [&](int y, int from, int to, uint8_t mark) {
        const uint8_t* line = gray + static_cast<size_t>(y) * columns;
        for (int x = from; x < to; ++x) --counts[line[x]];
        without += to - from;
        if (mark == kNonFiniteMark) nonFinite += to - from;
    };
    if (asRuns) {
        const MarkRunsView view(runs.data(), lines);
        for (int y = 0; y < lines; ++y)
            view.ForEach(y, [&](int from, int to) { unmark(y, from, to, mark_); });
    } else {
        for (int y = 0; marked && y < lines; ++y)
            for (int x = 0; x < columns; ++x) {
                const uint8_t mark =
                    markBits_
                        ? static_cast<uint8_t>(((marks[rowBits * y + (x >> 3)] >> (x & 7)) & 1) *
                                               mark_)
                        : marks[static_cast<size_t>(y) * columns + x];
                if (mark != 0) unmark(y, x, x + 1, mark);
            }
    }
    {
        const std::lock_guard<std::mutex> lock(counting_);
        for (int g = 0; g < 256; ++g) grayCounts_[g] += counts[g];
        withoutData_ += without;
        nonFinite_ += nonFinite;
        ++blocksCounted_;
    }
    const std::vector<uint8_t>& kept = asRuns ? runs : marks;
    if (marked) {
        // Apart from the gray levels, in as many bytes as they take.
        marksOf_[block].reset(new uint8_t[kept.size()]);
        std::memcpy(marksOf_[block].get(), kept.data(), kept.size());
    }
    hasMarks_[block] = !marked ? kNoMarks : asRuns ? kMarkRuns : kMarkMap;
    if (inPlace) {
        const size_t used = cells;
        const size_t slot = static_cast<size_t>(slotBytes_);
        ReleasePages(place + used, slot - std::min(used, slot));
    } else {
        pool_->Give(where_[block], static_cast<size_t>(slotBytes_));
    }
    grayAt_[block] = place;
    where_[block] = nullptr;
    if (!passing_[block].exchange(0, std::memory_order_acq_rel))
        keptAsValues_.fetch_sub(1, std::memory_order_acq_rel);
    GiveScratch(std::move(scratch));
    state.store(kGray, std::memory_order_release);
    return true;
}

std::unique_ptr<KeptValues::Scratch> KeptValues::TakeScratch() const {
    const std::lock_guard<std::mutex> hold(scratchLock_);
    if (scratch_.empty()) return std::make_unique<Scratch>();
    std::unique_ptr<Scratch> taken = std::move(scratch_.back());
    scratch_.pop_back();
    return taken;
}

void KeptValues::GiveScratch(std::unique_ptr<Scratch> scratch) const {
    const std::lock_guard<std::mutex> hold(scratchLock_);
    scratch_.push_back(std::move(scratch));
}

bool KeptValues::GrayStatistics(const GrayKey& key, Histogram& histogram, int64_t& withoutData,
                                int64_t& nonFinite) const {
    if (!keeping_ || keeping_->key != key) return false;
    const std::lock_guard<std::mutex> lock(counting_);
    if (blocksCounted_ != static_cast<size_t>(down_) * across_) return false;
    histogram = grayCounts_;
    withoutData = withoutData_;
    nonFinite = nonFinite_;
    return true;
}

bool KeptValues::ReadGray(const GrayKey& key, int first, int count, int x0, int width,
                          uint8_t* gray, size_t grayStride, uint8_t* marks) const {
    if (!keeping_ || keeping_->key != key || !Holds(first, count, x0, width)) return false;
    for (int by = first / blockLines_; by * blockLines_ < first + count; ++by) {
        const int top = by * blockLines_;
        const int y0 = std::max(first, top), y1 = std::min(first + count, top + blockLines_);
        const int lines = std::min(blockLines_, size_.lines - top);
        for (int bx = x0 / blockColumns_; bx * blockColumns_ < x0 + width; ++bx) {
            const size_t block = BlockIndex(by, bx);
            if (!ToGrayLevels(block)) return false;
            const int left = bx * blockColumns_;
            // Lines of the block's pixels within the band.
            const int columns = std::min(blockColumns_, size_.columns - left);
            const size_t rowBits = (static_cast<size_t>(columns) + 7) / 8;
            const int c0 = std::max(x0, left), c1 = std::min(x0 + width, left + columns);
            const size_t n = static_cast<size_t>(c1 - c0);
            const size_t start = static_cast<size_t>(c0 - left);
            const uint8_t* place = grayAt_[block];
            const uint8_t* marked = marksOf_[block].get();
            const uint8_t how = hasMarks_[block];
            for (int y = y0; y < y1; ++y) {
                const size_t line = static_cast<size_t>(y - first);
                const size_t row = static_cast<size_t>(y - top);
                std::memcpy(gray + line * grayStride + (c0 - x0), place + row * columns + start,
                            n);
                if (marks == nullptr) continue;
                uint8_t* mark = marks + line * width + (c0 - x0);
                if (how == kNoMarks) {
                    std::memset(mark, 0, n);
                } else if (how == kMarkRuns) {
                    std::memset(mark, 0, n);
                    MarkRunsView(marked, lines).ForEach(static_cast<int>(row), [&](int a, int b) {
                        const int from = std::max(a, static_cast<int>(start));
                        const int to = std::min(b, static_cast<int>(start + n));
                        if (to > from)
                            std::memset(mark + (from - static_cast<int>(start)), mark_,
                                        static_cast<size_t>(to - from));
                    });
                } else if (!markBits_) {
                    std::memcpy(mark, marked + row * columns + start, n);
                } else {
                    const uint8_t* bits = marked + row * rowBits;
                    for (size_t i = 0; i < n; ++i) {
                        const size_t at = start + i;
                        mark[i] = ((bits[at >> 3] >> (at & 7)) & 1) ? mark_ : uint8_t{0};
                    }
                }
            }
        }
    }
    return true;
}

namespace {

template <typename T>
void Occurring(const uint8_t* from, size_t count, const uint8_t* skip, int lowest, uint8_t* seen) {
    T value;
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(&value, from + i * sizeof(T), sizeof(T));
        if (skip == nullptr || skip[i] == 0) seen[static_cast<int>(value) - lowest] = 1;
    }
}

}  // namespace

bool KeptValues::MarkOccurring(int first, int count, int x0, int width, const uint8_t* skip,
                               uint8_t* seen) const {
    if (BytesOf(kind_) > 2) return false;
    return ForEachRow(
        first, count, x0, width, [&](const uint8_t* from, size_t n, size_t line, size_t column) {
            const uint8_t* skipping = skip ? skip + line * width + column : nullptr;
            switch (kind_) {
                case Kind::U8: Occurring<uint8_t>(from, n, skipping, 0, seen); break;
                case Kind::I8: Occurring<int8_t>(from, n, skipping, -128, seen); break;
                case Kind::U16: Occurring<uint16_t>(from, n, skipping, 0, seen); break;
                case Kind::I16: Occurring<int16_t>(from, n, skipping, -32768, seen); break;
                default: break;
            }
        });
}

bool KeptValues::Keep(int first, int count, int x0, int width, const double* values) {
    if (broken_.load(std::memory_order_acquire)) return false;
    const int bytes = BytesOf(kind_);
    std::vector<uint8_t> buffer;
    for (int by = (first + blockLines_ - 1) / blockLines_; by < down_; ++by) {
        const int top = by * blockLines_, bottom = std::min(size_.lines, top + blockLines_);
        if (bottom > first + count) break;
        for (int bx = (x0 + blockColumns_ - 1) / blockColumns_; bx < across_; ++bx) {
            const int left = bx * blockColumns_, right = std::min(size_.columns, left + blockColumns_);
            if (right > x0 + width) break;
            std::atomic<uint8_t>& state = state_[BlockIndex(by, bx)];
            uint8_t expected = kFree;
            if (!state.compare_exchange_strong(expected, kKeeping, std::memory_order_acq_rel))
                continue;  // kept, or being kept by another thread
            uint8_t* block = nullptr;
            if (memory_) {
                block = Place(BlockIndex(by, bx));
            } else {
                buffer.assign(static_cast<size_t>(blockBytes_), 0);
                block = buffer.data();
            }
            const int64_t rowBytes = int64_t{blockColumns_} * bytes;
            for (int y = top; y < bottom; ++y)
                Convert(kind_, values + static_cast<size_t>(y - first) * width + (left - x0),
                        static_cast<size_t>(right - left), block + (y - top) * rowBytes);
            if (!memory_ && !WriteAll(file_, buffer.data(), buffer.size(),
                                      BlockOffset(BlockIndex(by, bx)))) {
                broken_.store(true, std::memory_order_release);
                state.store(kFree, std::memory_order_release);
                return false;
            }
            state.store(kKept, std::memory_order_release);
        }
    }
    return true;
}

namespace {

// The block a thread decodes before it goes to the file.
std::vector<uint8_t>& SpillBuffer() {
    thread_local std::vector<uint8_t> buffer;
    return buffer;
}

}  // namespace

uint8_t* KeptValues::Place(size_t block) {
    uint8_t* place = pool_ ? pool_->Take(static_cast<size_t>(slotBytes_)) : nullptr;
    if (place == nullptr) place = memory_ + static_cast<int64_t>(block) * slotBytes_;
    // Its pages made at once, not one fault at a time as the decoder writes them (where the
    // system cannot, the faults make them).
    PopulatePages(place, static_cast<size_t>(slotBytes_));
    where_[block] = place;
    return place;
}

void KeptValues::GiveBackValues(size_t block) {
    uint8_t* place = where_[block];
    where_[block] = nullptr;
    // A block's own place is its own again when it is decoded again: not the pool's.
    if (pool_ && place != memory_ + static_cast<int64_t>(block) * slotBytes_)
        pool_->Give(place, static_cast<size_t>(slotBytes_));
    else
        ReleasePages(place, static_cast<size_t>(slotBytes_));
}

void KeptValues::TrimPool(bool later) {
    if (pool_) pool_->Trim(later);
}

uint8_t* KeptValues::Claim(size_t block) {
    if (broken_.load(std::memory_order_acquire)) return nullptr;
    uint8_t expected = kFree;
    if (!state_[block].compare_exchange_strong(expected, kKeeping, std::memory_order_acq_rel))
        return nullptr;
    if (memory_) {
        const int64_t limit = valueLimit_.load(std::memory_order_acquire);
        const int64_t before = keptAsValues_.fetch_add(1, std::memory_order_acq_rel);
        const bool passing = limit >= 0 && before >= limit;
        if (passing) keptAsValues_.fetch_sub(1, std::memory_order_acq_rel);
        passing_[block].store(passing ? 1 : 0, std::memory_order_release);
        return Place(block);
    }
    // Written whole by the decoder: not cleared first.
    std::vector<uint8_t>& buffer = SpillBuffer();
    buffer.resize(static_cast<size_t>(blockBytes_));
    return buffer.data();
}

bool KeptValues::Settle(size_t block, bool decoded) {
    std::atomic<uint8_t>& state = state_[block];
    if (!decoded) {
        if (memory_ && !passing_[block].exchange(0, std::memory_order_acq_rel))
            keptAsValues_.fetch_sub(1, std::memory_order_acq_rel);
        if (memory_) GiveBackValues(block);
        state.store(kFree, std::memory_order_release);
        return true;
    }
    if (!memory_ && !WriteAll(file_, SpillBuffer().data(), static_cast<size_t>(blockBytes_),
                              BlockOffset(block))) {
        broken_.store(true, std::memory_order_release);
        state.store(kFree, std::memory_order_release);
        return false;
    }
    state.store(kKept, std::memory_order_release);
    return true;
}

}  // namespace tessera
