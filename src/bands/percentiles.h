#pragma once
// Percentiles of a band's values with data, exact and in bounded memory: the values at the
// ranks a percentile reads are found digit by digit over a few passes through the band, and
// mixed as numpy's percentile (its default, linear method) mixes them.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/status.h"

namespace tessera {

// Two percentiles, 0 <= low < high <= 100, that a stretch takes its MIN and MAX at.
struct PercentileRange {
    double low = 0;
    double high = 100;
};
// "2%,98%": refused, with the reason, unless both are numbers followed by % and increase
// within 0..100. None (no refusal) when the text is no percentile pair at all.
std::optional<Result<PercentileRange>> ParsePercentiles(const std::string& text);
// "2 %" as the report writes a percentile.
std::string PercentText(double percent);

// Where percentile `percent` of n sorted values lies: between the values of ranks lower and
// upper (0-based), `fraction` of the way.
struct PercentilePlace {
    int64_t lower = 0;
    int64_t upper = 0;
    double fraction = 0;
};
PercentilePlace PlaceOfPercentile(double percent, int64_t count);
// The value `fraction` of the way from a to b, rounded as numpy rounds it.
double MixPercentile(double a, double b, double fraction);

// The same place worked out exactly, for whole numbers: the virtual index (n - 1) x q with q
// the percent's decimal / 100, lower + part / parts (part < parts, the fraction in lowest
// terms). numpy's doubles may land a hair below a whole index, mixing its value with the one
// below it (11288.999999999995 where the value is 11289). None for a percent of more than
// six decimals.
struct ExactPercentilePlace {
    int64_t lower = 0;
    int64_t upper = 0;
    int64_t part = 0;
    int64_t parts = 1;
};
std::optional<ExactPercentilePlace> ExactPlaceOfPercentile(double percent, int64_t count);
// The parts in which the percentile `percent` of any count of whole numbers is told: the
// parts of every ExactPlaceOfPercentile divide it (100 for 2 %, 1000 for 2.5 %).
std::optional<int64_t> PercentileParts(double percent);
// a x (parts - part) + b x part: parts times the value part / parts of the way from whole
// number a to whole number b (|a|, |b| < 2^32).
int64_t MixedWholeTimesParts(int64_t a, int64_t b, const ExactPercentilePlace& place);
// That value rounded once: the percentile of whole numbers a and b at `place`.
double MixWholePercentile(int64_t a, int64_t b, const ExactPercentilePlace& place);

// The values at given ranks of the values seen, found over passes through all of them: each
// pass fixes 16 more bits of the wanted values' keys. Whole numbers from `lowest` to
// lowest + 2^keyBits - 1 take keyBits 16 (one pass) or 32; any other values keyBits 64.
// The first pass counts the values, so that the ranks wanted can be chosen from the count.
class RankFinder {
  public:
    RankFinder(int keyBits, int64_t lowest = 0);
    bool Done() const { return shift_ < 0; }
    // Values of one strip of the pass; NaN, infinite values and those with skip[i] != 0 (when
    // given) are not counted.
    void Add(const double* values, const uint8_t* skip, size_t count);
    // After the first pass: the values counted.
    int64_t Counted() const { return counted_; }
    // Ends the first pass, with the ranks wanted (each below Counted()).
    void EndFirstPass(const std::vector<int64_t>& ranks);
    // Ends a later pass: the wanted ranks narrowed to the next digit.
    void EndPass();
    // Once Done: the value of rank `ranks[i]`.
    double Value(size_t i) const;

    // A pass shared out among several finders (the windows of a scene counted by other
    // processes): each starts as a copy of this one with its counts cleared (Cleared), counts
    // its part, and the parts are added back (Merge) before the pass ends; any of the parts
    // merged may then end the pass for all. Counts are whole
    // numbers, so the sum does not depend on the order the parts come in. Merge is refused
    // (false) for a finder of another search or pass.
    RankFinder Cleared() const;
    bool Merge(const RankFinder& part);
    // The whole state as whole numbers, to travel between processes; FromNumbers refuses
    // (none) numbers that are no finder's.
    std::vector<int64_t> Numbers() const;
    static std::optional<RankFinder> FromNumbers(const std::vector<int64_t>& numbers);

  private:
    uint64_t KeyOf(double value) const;
    double ValueOf(uint64_t key) const;
    struct Wanted {
        int64_t rank;      // within the values whose key begins with `prefix`
        uint64_t prefix;   // the key's bits above shift_ + 16 found so far
        std::vector<int64_t> counts;
    };
    int keyBits_;
    int64_t lowest_;
    int shift_;  // the digit counted in this pass: bits shift_..shift_ + 15
    std::vector<int64_t> first_;  // the first pass's counts of the highest digit
    int64_t counted_ = 0;
    bool ranked_ = false;
    std::vector<Wanted> wanted_;
};

}  // namespace tessera
