#pragma once
// Every combination of one segment number per band, numbered 1..N in mixed-radix order with
// band 1 the most significant digit.
#include <cstdint>
#include <string>
#include <vector>

#include "support/safefile.h"
#include "support/status.h"

namespace tessera {

// Largest code table counted densely (a counter for every code): the interactive program's
// limit, and beyond it a job counts only the codes that occur (a sparse table).
constexpr int64_t kMaximumCodeCount = int64_t{1} << 24;

// A code's digits are worked out of its offset, code - 1, held in 64 bits: a table holds at
// most 2^64 codes.
using CodeOffset = uint64_t;
__extension__ typedef unsigned __int128 WideCount;

class CodeTable {
  public:
    // The codes numbered 1..CodeCount in the counts, the selection and the classes: every code
    // of a dense table; the codes that occur (Held) of a sparse one, once counted (0 before).
    int CodeCount = 0;
    // segmentCounts[b] for b = 1..n (entry 0 unused).
    std::vector<int32_t> segmentCounts;

    int BandCount() const {
        return segmentCounts.empty() ? 0 : static_cast<int>(segmentCounts.size()) - 1;
    }
    bool Sparse() const { return sparse_; }
    // Every code of the table: the product of the segment counts (up to 2^64).
    WideCount TotalCodes() const { return total_; }
    std::string TotalText() const;
    // The offset of code number c (1..CodeCount).
    CodeOffset Offset(int code) const {
        return sparse_ ? held_[static_cast<size_t>(code)] : static_cast<CodeOffset>(code - 1);
    }
    // Segment number of band b (1..n) in code number c (1..CodeCount), or of the code at an
    // offset.
    int Digits(int code, int band) const { return DigitOfOffset(Offset(code), band); }
    int DigitOfOffset(CodeOffset offset, int band) const {
        if (segmentCounts[band] == 1) return 1;  // its weight may be 2^64
        return static_cast<int>(offset / weights_[band] % static_cast<uint32_t>(segmentCounts[band])) + 1;
    }
    // Code c's number as the user reads it (offset + 1), in decimal.
    std::string CodeText(int code) const;
    // Code of a tuple of segment numbers (digits[1..n]), or 0 when a digit lies outside
    // 1..S_b (a dense table).
    int CodeOf(const int* digits) const;
    // Weight of band b's digit: the product of the segment counts of the bands after it.
    int64_t Weight(int band) const { return static_cast<int64_t>(weights_[band]); }
    CodeOffset OffsetWeight(int band) const { return weights_[band]; }
    // A sparse table's codes that occur, as offsets ascending (entry 0 unused): numbered from 1.
    const std::vector<CodeOffset>& Held() const { return held_; }
    void Hold(std::vector<CodeOffset> offsets);

    friend Result<CodeTable> BuildCodeTable(const std::vector<int32_t>& segmentCounts,
                                            bool sparse);

  private:
    bool sparse_ = false;
    WideCount total_ = 0;
    std::vector<CodeOffset> weights_;
    std::vector<CodeOffset> held_;
};

// segmentCounts[1..n] (entry 0 unused). Refuses, with an "ERROR" text, a product of the
// segment counts beyond kMaximumCodeCount; with `sparse`, such a table is made sparse, and
// refused only beyond 2^64 codes.
Result<CodeTable> BuildCodeTable(const std::vector<int32_t>& segmentCounts, bool sparse = false);
// The decimal text of a count of up to 39 digits.
std::string WideText(WideCount value);

// The diagnostic code list: for each code a line of c and its digits, each as "%d\t", then one
// last line without line end holding, as "%d\t", each code's digits read as a decimal number.
// Up to kListEveryCodeBands bands it lists every code. Beyond, where the table soon holds
// millions of codes and more (3 segments on 20 bands: 3.5 x 10^9), it lists, given the pixel
// counts 0..N, only the codes that hold pixels, in the same form and order; without them,
// every code.
inline constexpr int kListEveryCodeBands = 10;
std::string MultiTabText(const CodeTable& table,
                         const std::vector<int64_t>* pixelCount = nullptr);
inline constexpr const char* kMultiTabName = "multi_tab.txt";
// The same bytes written straight to a file, piece by piece (whole or not at all).
Status WriteMultiTab(const std::string& path, const CodeTable& table);
// The same bytes written to a staged file of a save, from its start; false when a write failed.
bool WriteMultiTab(StagedFile& file, const CodeTable& table,
                   const std::vector<int64_t>* pixelCount = nullptr);

}  // namespace tessera
