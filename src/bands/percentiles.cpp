#include "bands/percentiles.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "support/numbers.h"

namespace tessera {

namespace {

constexpr int kDigitBits = 16;
constexpr size_t kDigits = size_t{1} << kDigitBits;

std::optional<double> PercentOf(std::string text) {
    while (!text.empty() && text.front() == ' ') text.erase(text.begin());
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (text.size() < 2 || text.back() != '%') return std::nullopt;
    text.pop_back();
    return FiniteNumber(text);
}

}  // namespace

std::optional<Result<PercentileRange>> ParsePercentiles(const std::string& text) {
    using R = Result<PercentileRange>;
    if (text.find('%') == std::string::npos) return std::nullopt;
    const size_t comma = text.find(',');
    const std::string refusal = "the percentiles '" + text +
                                "' are not two increasing percentiles from 0% to 100%, as 2%,98%";
    if (comma == std::string::npos) return R::Failure(refusal);
    const std::optional<double> low = PercentOf(text.substr(0, comma));
    const std::optional<double> high = PercentOf(text.substr(comma + 1));
    if (!low || !high || !(*low >= 0 && *low < *high && *high <= 100)) return R::Failure(refusal);
    return R::Of(PercentileRange{*low, *high});
}

std::string PercentText(double percent) {
    return NumberText(percent) + " %";
}

PercentilePlace PlaceOfPercentile(double percent, int64_t count) {
    // As numpy's linear method: the virtual index (n - 1) x q, q = percent / 100.
    const double quantile = percent / 100.0;
    const double index = static_cast<double>(count - 1) * quantile;
    PercentilePlace place;
    const double below = std::floor(index);
    place.lower = std::clamp<int64_t>(static_cast<int64_t>(below), 0, count - 1);
    place.upper = std::min<int64_t>(place.lower + 1, count - 1);
    place.fraction = index - below;
    return place;
}

double MixPercentile(double a, double b, double fraction) {
    // numpy's _lerp: from the nearer end, so that a fraction of 1 gives b exactly.
    const double difference = b - a;
    if (fraction >= 0.5) return b - difference * (1 - fraction);
    return a + difference * fraction;
}

RankFinder::RankFinder(int keyBits, int64_t lowest)
    : keyBits_(keyBits), lowest_(lowest), shift_(keyBits - kDigitBits), first_(kDigits, 0) {}

void RankFinder::EndFirstPass(const std::vector<int64_t>& ranks) {
    for (const int64_t rank : ranks) wanted_.push_back({rank, 0, first_});
    first_ = {};
    ranked_ = true;
    EndPass();
}

uint64_t RankFinder::KeyOf(double value) const {
    if (keyBits_ < 64) return static_cast<uint64_t>(static_cast<int64_t>(value) - lowest_);
    // Doubles in their order: the sign bit flipped, negative values' other bits too.
    const uint64_t bits = std::bit_cast<uint64_t>(value == 0 ? 0.0 : value);
    return (bits >> 63) != 0 ? ~bits : bits | (uint64_t{1} << 63);
}

double RankFinder::ValueOf(uint64_t key) const {
    if (keyBits_ < 64) return static_cast<double>(static_cast<int64_t>(key) + lowest_);
    const uint64_t bits = (key >> 63) != 0 ? key & ~(uint64_t{1} << 63) : ~key;
    return std::bit_cast<double>(bits);
}

void RankFinder::Add(const double* values, const uint8_t* skip, size_t count) {
    if (Done()) return;
    const int above = shift_ + kDigitBits;  // bits above this digit are the prefix
    for (size_t i = 0; i < count; ++i) {
        if ((skip && skip[i] != 0) || !std::isfinite(values[i])) continue;
        const uint64_t key = KeyOf(values[i]);
        if (!ranked_) {
            ++first_[static_cast<size_t>((key >> shift_) & (kDigits - 1))];
            ++counted_;
            continue;
        }
        const uint64_t prefix = above >= 64 ? 0 : key >> above;
        const size_t digit = static_cast<size_t>((key >> shift_) & (kDigits - 1));
        for (Wanted& wanted : wanted_)
            if (wanted.prefix == prefix) ++wanted.counts[digit];
    }
}

void RankFinder::EndPass() {
    if (Done() || !ranked_) return;
    for (Wanted& wanted : wanted_) {
        int64_t before = 0;
        size_t digit = 0;
        for (; digit + 1 < kDigits; ++digit) {
            if (before + wanted.counts[digit] > wanted.rank) break;
            before += wanted.counts[digit];
        }
        wanted.rank -= before;
        wanted.prefix = (wanted.prefix << kDigitBits) | digit;
        std::fill(wanted.counts.begin(), wanted.counts.end(), 0);
    }
    shift_ -= kDigitBits;
    if (Done())
        for (Wanted& wanted : wanted_) wanted.counts = {};
}

double RankFinder::Value(size_t i) const {
    return ValueOf(wanted_[i].prefix);
}

}  // namespace tessera
