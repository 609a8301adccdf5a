#pragma once
// Matrices of trivial values addressed [line][column], stored as one contiguous block. New matrices
// are zero-filled unless the caller writes every cell at once (CreateUnfilled); an allocation that
// fails gives no matrix rather than an exception.
#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <vector>

namespace tessera {

// Blocks for the cells of matrices. A whole band is large: it is asked for in huge pages where
// the system gives them, so that touching it costs a page fault per 2 MiB rather than per 4 KiB.
struct MatrixBlockFree {
    void operator()(void* block) const { std::free(block); }
};
constexpr size_t kHugePage = size_t{2} << 20;
// Asks for huge pages over the whole 2 MiB pages inside [block, block + bytes), before they are
// first touched; a hint, which the system may ignore.
inline void AdviseHugePages(void* block, size_t bytes) {
#ifdef MADV_HUGEPAGE
    const uintptr_t start = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (start + kHugePage - 1) / kHugePage * kHugePage;
    const uintptr_t end = (start + bytes) / kHugePage * kHugePage;
    if (block != nullptr && end > first)
        ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}
inline void* AllocateMatrixBlock(size_t bytes) {
    if (bytes < 2 * kHugePage) return std::malloc(bytes);
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* block = std::aligned_alloc(kHugePage, rounded);
    AdviseHugePages(block, rounded);
    return block;
}

template <class T>
class Matrix {
  public:
    Matrix() = default;
    Matrix(Matrix&& other) noexcept { Take(other); }
    Matrix& operator=(Matrix&& other) noexcept {
        if (this != &other) Take(other);
        return *this;
    }
    // Copies throw std::bad_alloc when memory runs out, as a std::vector's would.
    Matrix(const Matrix& other) { CopyFrom(other); }
    Matrix& operator=(const Matrix& other) {
        if (this != &other) {
            Matrix copy(other);
            Take(copy);
        }
        return *this;
    }

    // A zero-filled matrix of `lines` rows of `columns` values; nothing when the size is
    // negative or memory runs out.
    static std::optional<Matrix> Create(int columns, int lines) {
        std::optional<Matrix> m = CreateUnfilled(columns, lines);
        if (m && m->size_ > 0) std::fill_n(m->cells_.get(), m->size_, T{});
        return m;
    }
    // The same without the zero fill, for a caller that writes every cell before reading any:
    // the pages are then touched once, by the writes themselves.
    static std::optional<Matrix> CreateUnfilled(int columns, int lines) {
        if (columns < 0 || lines < 0) return std::nullopt;
        Matrix m;
        const size_t size = static_cast<size_t>(columns) * static_cast<size_t>(lines);
        if (size > 0) {
            if (size > SIZE_MAX / sizeof(T)) return std::nullopt;
            if (!m.Adopt(AllocateMatrixBlock(size * sizeof(T)))) return std::nullopt;
        }
        m.size_ = size;
        m.columns_ = columns;
        m.lines_ = lines;
        return m;
    }

    T* operator[](int line) { return cells_.get() + static_cast<size_t>(line) * columns_; }
    const T* operator[](int line) const {
        return cells_.get() + static_cast<size_t>(line) * columns_;
    }

    int Lines() const { return lines_; }
    int Columns() const { return columns_; }
    bool Empty() const { return size_ == 0; }
    size_t Size() const { return size_; }
    T* Data() { return cells_.get(); }
    const T* Data() const { return cells_.get(); }
    void Release() {
        cells_.reset();
        size_ = 0;
        lines_ = columns_ = 0;
    }

    // The block of cells, shared: it lives on while a holder keeps it, whatever becomes of the
    // matrix (a picture shown on screen, the bands a treatment read). A shared block is not
    // written again: matrices are filled before they are shared.
    std::shared_ptr<const T[]> SharedCells() const { return cells_; }

    friend bool operator==(const Matrix& a, const Matrix& b) {
        return a.lines_ == b.lines_ && a.columns_ == b.columns_ &&
               std::equal(a.cells_.get(), a.cells_.get() + a.size_, b.cells_.get());
    }

  private:
    void Take(Matrix& other) noexcept {
        cells_ = std::move(other.cells_);
        size_ = other.size_;
        columns_ = other.columns_;
        lines_ = other.lines_;
        other.size_ = 0;
        other.columns_ = other.lines_ = 0;
    }
    void CopyFrom(const Matrix& other) {
        if (other.size_ > 0) {
            if (!Adopt(AllocateMatrixBlock(other.size_ * sizeof(T)))) throw std::bad_alloc();
            std::copy_n(other.cells_.get(), other.size_, cells_.get());
        }
        size_ = other.size_;
        columns_ = other.columns_;
        lines_ = other.lines_;
    }

    // Takes a block from AllocateMatrixBlock; false (the block freed) when there was none or no
    // memory is left to share it.
    bool Adopt(void* block) noexcept {
        if (block == nullptr) return false;
        try {
            cells_ = std::shared_ptr<T[]>(static_cast<T*>(block), MatrixBlockFree{});
        } catch (const std::bad_alloc&) {
            return false;  // the deleter has freed the block
        }
        return true;
    }

    std::shared_ptr<T[]> cells_;
    size_t size_ = 0;
    int columns_ = 0;
    int lines_ = 0;
};

using ByteMatrix = Matrix<uint8_t>;
using IntMatrix = Matrix<int32_t>;

// Note the argument order: columns first, then lines.
inline std::optional<ByteMatrix> NewByteMatrix(int columns, int lines) {
    return ByteMatrix::Create(columns, lines);
}
inline std::optional<IntMatrix> NewIntMatrix(int columns, int lines) {
    return IntMatrix::Create(columns, lines);
}
// Callers that index from 1 ask for one element more than they use.
inline std::optional<std::vector<int32_t>> NewIntArray(int count) {
    if (count < 0) return std::nullopt;
    try {
        return std::vector<int32_t>(static_cast<size_t>(count), 0);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace tessera
