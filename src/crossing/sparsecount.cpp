#include "crossing/sparsecount.h"

#include <algorithm>
#include <unistd.h>

#include "crossing/crossing.h"

namespace tessera {

OffsetKernel MakeOffsetKernel(const CodeTable& table, const std::vector<SegmentLookup>& lookups) {
    const int n = table.BandCount();
    OffsetKernel kernel;
    kernel.share.assign(static_cast<size_t>(n), {});
    kernel.none.assign(static_cast<size_t>(n), {});
    for (int b = 1; b <= n && static_cast<size_t>(b) < lookups.size(); ++b) {
        const int count = std::min(table.segmentCounts[b], 254);  // 255 is NoSegment
        for (int gray = 0; gray < 256; ++gray) {
            const int digit = lookups[b][gray];
            const bool within = digit >= 1 && digit <= count;
            kernel.none[b - 1][gray] = within ? 0 : 1;
            kernel.share[b - 1][gray] =
                within ? static_cast<CodeOffset>(digit - 1) * table.OffsetWeight(b) : 0;
        }
    }
    return kernel;
}

void FormOffsets(const OffsetKernel& kernel, const uint8_t* const* values, int columns,
                 CodeOffset* offsets, uint8_t* hasCode) {
    const size_t n = kernel.share.size();
    std::fill(offsets, offsets + columns, CodeOffset{0});
    std::fill(hasCode, hasCode + columns, uint8_t{1});
    for (size_t b = 0; b < n; ++b) {
        const CodeOffset* share = kernel.share[b].data();
        const uint8_t* none = kernel.none[b].data();
        const uint8_t* v = values[b];
        for (int x = 0; x < columns; ++x) {
            offsets[x] += share[v[x]];
            hasCode[x] &= static_cast<uint8_t>(1 - none[v[x]]);
        }
    }
}

namespace {

constexpr size_t kFirstSlots = 1024;

size_t SlotOf(CodeOffset offset, size_t mask) {
    // A 64-bit mix, so that codes of neighbouring digits spread over the table.
    offset ^= offset >> 33;
    offset *= 0xff51afd7ed558ccdULL;
    offset ^= offset >> 33;
    return static_cast<size_t>(offset) & mask;
}

}  // namespace

SparseCounter::SparseCounter() : slots_(kFirstSlots, CodePixels{0, 0}) {}

void SparseCounter::Add(CodeOffset offset, int64_t pixels) {
    const size_t mask = slots_.size() - 1;
    for (size_t slot = SlotOf(offset, mask);; slot = (slot + 1) & mask) {
        CodePixels& entry = slots_[slot];
        if (entry.second == 0) {
            entry = {offset, pixels};
            if (++size_ * 2 > slots_.size()) Grow();
            return;
        }
        if (entry.first == offset) {
            entry.second += pixels;
            return;
        }
    }
}

void SparseCounter::Grow() {
    std::vector<CodePixels> old(slots_.size() * 2, CodePixels{0, 0});
    old.swap(slots_);
    size_ = 0;
    for (const CodePixels& entry : old)
        if (entry.second != 0) Add(entry.first, entry.second);
}

int64_t SparseCounter::AddLine(const CodeOffset* offsets, const uint8_t* hasCode, int columns) {
    int64_t noCode = 0;
    int x = 0;
    while (x < columns) {
        if (!hasCode[x]) {
            ++noCode;
            ++x;
            continue;
        }
        const CodeOffset offset = offsets[x];
        int end = x + 1;
        while (end < columns && hasCode[end] && offsets[end] == offset) ++end;
        Add(offset, end - x);
        x = end;
    }
    return noCode;
}

std::vector<CodePixels> SparseCounter::Entries() const {
    std::vector<CodePixels> entries;
    entries.reserve(size_);
    for (const CodePixels& entry : slots_)
        if (entry.second != 0) entries.push_back(entry);
    return entries;
}

std::vector<CodePixels> MergeSparseCounts(std::vector<std::vector<CodePixels>> parts) {
    std::vector<CodePixels> all;
    size_t total = 0;
    for (const auto& part : parts) total += part.size();
    all.reserve(total);
    for (auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
        std::vector<CodePixels>().swap(part);
    }
    std::sort(all.begin(), all.end(),
              [](const CodePixels& a, const CodePixels& b) { return a.first < b.first; });
    size_t kept = 0;
    for (size_t i = 0; i < all.size();) {
        CodePixels sum{all[i].first, 0};
        for (; i < all.size() && all[i].first == sum.first; ++i) sum.second += all[i].second;
        if (sum.second != 0) all[kept++] = sum;
    }
    all.resize(kept);
    return all;
}

std::vector<OffsetClass> ClassesByOffset(const CodeTable& table,
                                         const std::vector<int32_t>& selectedCodes) {
    std::vector<OffsetClass> classes;
    if (!table.Sparse()) return classes;
    for (size_t k = 1; k < selectedCodes.size() && k < NoWideClass; ++k) {
        const int32_t code = selectedCodes[k];
        if (code >= 1 && code <= table.CodeCount)
            classes.emplace_back(table.Offset(code), static_cast<uint16_t>(k));
    }
    std::sort(classes.begin(), classes.end());
    return classes;
}

int64_t SparseCountBytes(WideCount codes, int64_t pixels) {
    // A slot of the counter at half load, once more while it grows, the merged entry, then
    // the offset, pixels and class kept per code.
    constexpr int64_t kBytesPerCode = 2 * 16 + 16 + 16 + 8 + 8 + 2;
    const int64_t occurring =
        codes < static_cast<WideCount>(std::max<int64_t>(pixels, 0)) ? static_cast<int64_t>(codes)
                                                                      : std::max<int64_t>(pixels, 0);
    return occurring * kBytesPerCode;
}

int64_t MachineMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<int64_t>(pages) * pageSize;
}

std::string SparseCountRefusal(WideCount codes, int64_t pixels, int64_t memory) {
    const int64_t needed = SparseCountBytes(codes, pixels);
    if (memory <= 0 || needed <= memory) return {};
    constexpr int64_t kMiB = int64_t{1} << 20;
    return " Not enough memory to count the codes: the " + WideText(codes) + " codes of " +
           std::to_string(pixels) + " pixels may need up to " +
           std::to_string((needed + kMiB - 1) / kMiB) + " MiB, and this machine has " +
           std::to_string(memory / kMiB) + " MiB \nUse fewer bands or segments ";
}

}  // namespace tessera
