#pragma once
// The codes of a table too large to count every code (a sparse table): each pixel's code as
// its offset in 64 bits, and counts of the codes that occur only.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "crossing/codetable.h"
#include "segmentation/thresholding.h"

namespace tessera {

// Each band's share of a code's offset by gray level, and the gray levels without a segment.
struct OffsetKernel {
    std::vector<std::array<CodeOffset, 256>> share;  // band b + 1 at b
    std::vector<std::array<uint8_t, 256>> none;      // 1 where the gray level has no segment
};
// From the table and the bands' look-ups lookups[1..n] (entry 0 unused).
OffsetKernel MakeOffsetKernel(const CodeTable& table, const std::vector<SegmentLookup>& lookups);
// offsets[x] and hasCode[x] (0: no code, a band without a segment there) of one line from the
// line of each band (values[b] for b = 0..n - 1).
void FormOffsets(const OffsetKernel& kernel, const uint8_t* const* values, int columns,
                 CodeOffset* offsets, uint8_t* hasCode);

// A code and its pixels.
using CodePixels = std::pair<CodeOffset, int64_t>;

// The pixels of the codes that occur, in a table of open addressing that grows as codes come.
class SparseCounter {
  public:
    SparseCounter();
    void Add(CodeOffset offset, int64_t pixels);
    // Adds the codes of a line (hasCode as FormOffsets gives it); a run of one code is one
    // addition. Returns the pixels without a code.
    int64_t AddLine(const CodeOffset* offsets, const uint8_t* hasCode, int columns);
    // The codes counted, in no order.
    std::vector<CodePixels> Entries() const;
    size_t Size() const { return size_; }

  private:
    void Grow();
    std::vector<CodePixels> slots_;  // pixels 0: an empty slot
    size_t size_ = 0;
};

// The sum of several counts as codes ascending, each once: the same whatever the order of
// the parts or of the entries in each. Codes of no pixels are left out.
std::vector<CodePixels> MergeSparseCounts(std::vector<std::vector<CodePixels>> parts);

// The class of each code kept (selectedCodes[k], numbered as the table numbers them, is class
// k), ascending by offset; empty for a dense table.
using OffsetClass = std::pair<CodeOffset, uint16_t>;
std::vector<OffsetClass> ClassesByOffset(const CodeTable& table,
                                         const std::vector<int32_t>& selectedCodes);
// classes[x] of one line: the class of the code at offsets[x] where hasCode[x], else `none`.
template <class Class>
void ClassifyOffsets(const CodeOffset* offsets, const int32_t* hasCode, int columns,
                     const std::vector<OffsetClass>& classes, Class none, Class* out) {
    const OffsetClass* first = classes.data();
    const OffsetClass* last = first + classes.size();
    // Neighbouring pixels often share a code: the last one found is tried first.
    CodeOffset previous = 0;
    Class previousClass = none;
    bool known = false;
    for (int x = 0; x < columns; ++x) {
        if (hasCode[x] == 0) {
            out[x] = none;
            continue;
        }
        if (!known || offsets[x] != previous) {
            const OffsetClass* found = std::lower_bound(
                first, last, offsets[x],
                [](const OffsetClass& entry, CodeOffset offset) { return entry.first < offset; });
            previous = offsets[x];
            previousClass = found != last && found->first == offsets[x]
                                ? static_cast<Class>(found->second)
                                : none;
            known = true;
        }
        out[x] = previousClass;
    }
}

// What a sparse count of a scene may need at most: a table entry, a merged entry, the code's
// offset, count and class for each code that can occur (no more than the pixels).
int64_t SparseCountBytes(WideCount codes, int64_t pixels);
// The memory of this machine, in bytes (0 when unknown).
int64_t MachineMemoryBytes();
// Empty when `memory` bytes (0: unknown) can hold a sparse count of `codes` codes over
// `pixels` pixels; else the refusal, with the memory the count would need.
std::string SparseCountRefusal(WideCount codes, int64_t pixels, int64_t memory);

}  // namespace tessera
