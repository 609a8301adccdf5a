#pragma once
// Every combination of one segment number per band, numbered 1..N in mixed-radix order with
// band 1 the most significant digit.
#include <cstdint>
#include <string>
#include <vector>

#include "support/safefile.h"
#include "support/status.h"

namespace tessera {

// Largest code table the program builds: beyond this the pixel counts, the code list and the
// tables shown to the user would not fit a desktop machine's memory.
constexpr int64_t kMaximumCodeCount = int64_t{1} << 24;

class CodeTable {
  public:
    int CodeCount = 0;
    // segmentCounts[b] for b = 1..n (entry 0 unused).
    std::vector<int32_t> segmentCounts;

    int BandCount() const {
        return segmentCounts.empty() ? 0 : static_cast<int>(segmentCounts.size()) - 1;
    }
    // Segment number of band b (1..n) in code c (1..N).
    int Digits(int code, int band) const {
        return static_cast<int>((code - 1) / weights_[band] % segmentCounts[band]) + 1;
    }
    // Code of a tuple of segment numbers (digits[1..n]), or 0 when a digit lies outside
    // 1..S_b.
    int CodeOf(const int* digits) const;
    // Weight of band b's digit: the product of the segment counts of the bands after it.
    int64_t Weight(int band) const { return weights_[band]; }

    friend Result<CodeTable> BuildCodeTable(const std::vector<int32_t>& segmentCounts);

  private:
    std::vector<int64_t> weights_;
};

// segmentCounts[1..n] (entry 0 unused). Refuses, with an "ERROR" text, a product of the
// segment counts beyond kMaximumCodeCount.
Result<CodeTable> BuildCodeTable(const std::vector<int32_t>& segmentCounts);

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
