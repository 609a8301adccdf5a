#pragma once
// Small matrices written out row by row in the tests.
#include <cstdint>
#include <vector>

#include "image/matrix.h"

namespace testing_support {

template <class T>
tessera::Matrix<T> MatrixOf(const std::vector<std::vector<T>>& rows) {
    tessera::Matrix<T> m = *tessera::Matrix<T>::Create(static_cast<int>(rows[0].size()),
                                                       static_cast<int>(rows.size()));
    for (size_t y = 0; y < rows.size(); ++y)
        for (size_t x = 0; x < rows[y].size(); ++x) m[static_cast<int>(y)][x] = rows[y][x];
    return m;
}

inline tessera::ByteMatrix Bytes(const std::vector<std::vector<uint8_t>>& rows) {
    return MatrixOf(rows);
}
inline tessera::IntMatrix Ints(const std::vector<std::vector<int32_t>>& rows) {
    return MatrixOf(rows);
}

}  // namespace testing_support
