#pragma once
// Matrices addressed [line][column], stored as one contiguous block. New matrices are
// zero-filled; an allocation that fails gives no matrix rather than an exception.
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

namespace tessera {

template <class T>
class Matrix {
  public:
    Matrix() = default;

    // A zero-filled matrix of `lines` rows of `columns` values; nothing when the size is
    // negative or memory runs out.
    static std::optional<Matrix> Create(int columns, int lines) {
        if (columns < 0 || lines < 0) return std::nullopt;
        Matrix m;
        try {
            m.cells_.assign(static_cast<size_t>(columns) * static_cast<size_t>(lines), T{});
        } catch (const std::bad_alloc&) {
            return std::nullopt;
        } catch (const std::length_error&) {
            return std::nullopt;
        }
        m.columns_ = columns;
        m.lines_ = lines;
        return m;
    }

    T* operator[](int line) { return cells_.data() + static_cast<size_t>(line) * columns_; }
    const T* operator[](int line) const {
        return cells_.data() + static_cast<size_t>(line) * columns_;
    }

    int Lines() const { return lines_; }
    int Columns() const { return columns_; }
    bool Empty() const { return cells_.empty(); }
    size_t Size() const { return cells_.size(); }
    T* Data() { return cells_.data(); }
    const T* Data() const { return cells_.data(); }
    void Release() {
        std::vector<T>().swap(cells_);
        lines_ = columns_ = 0;
    }

    friend bool operator==(const Matrix& a, const Matrix& b) {
        return a.lines_ == b.lines_ && a.columns_ == b.columns_ && a.cells_ == b.cells_;
    }

  private:
    std::vector<T> cells_;
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
