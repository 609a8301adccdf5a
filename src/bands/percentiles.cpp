#include "bands/percentiles.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <utility>

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

namespace {

// percent / 100 as a fraction of whole numbers: 98 -> 98/100, 2.5 -> 25/1000. None beyond
// six decimals, so that the arithmetic of the place stays within 64 bits.
std::optional<std::pair<int64_t, int64_t>> QuantileFraction(double percent) {
    if (!(percent >= 0 && percent <= 100)) return std::nullopt;
    // Six decimals, when they read back as the same double: the decimal that was typed.
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.6f", percent);
    const std::string fixed = digits;
    if (std::strtod(digits, nullptr) != percent) return std::nullopt;
    int64_t numerator = 0;
    for (const char c : fixed)
        if (c >= '0' && c <= '9') numerator = numerator * 10 + (c - '0');
    int64_t denominator = 100'000'000;  // 100 x 10^6 for the six decimals
    const int64_t common = std::gcd(numerator, denominator);
    return std::pair{numerator / common, denominator / common};
}

}  // namespace

std::optional<ExactPercentilePlace> ExactPlaceOfPercentile(double percent, int64_t count) {
    const auto quantile = QuantileFraction(percent);
    if (!quantile || count < 1) return std::nullopt;
    const auto [p, d] = *quantile;
    // (n - 1) x p / d without overflow: (n - 1) = whole x d + rest.
    const int64_t whole = (count - 1) / d, rest = (count - 1) % d;
    ExactPercentilePlace place;
    place.lower = whole * p + rest * p / d;
    place.part = rest * p % d;
    place.parts = d;
    const int64_t common = std::gcd(place.part, place.parts);
    place.part /= common;
    place.parts /= common;
    place.upper = std::min<int64_t>(place.lower + 1, count - 1);
    return place;
}

std::optional<int64_t> PercentileParts(double percent) {
    const auto quantile = QuantileFraction(percent);
    if (!quantile) return std::nullopt;
    return quantile->second;
}

int64_t MixedWholeTimesParts(int64_t a, int64_t b, const ExactPercentilePlace& place) {
    return a * (place.parts - place.part) + b * place.part;
}

double MixWholePercentile(int64_t a, int64_t b, const ExactPercentilePlace& place) {
    return RoundedQuotient(MixedWholeTimesParts(a, b, place), place.parts);
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

RankFinder RankFinder::Cleared() const {
    RankFinder part = *this;
    std::fill(part.first_.begin(), part.first_.end(), 0);
    // The count of the values is the first pass's; later passes keep it.
    if (!ranked_) part.counted_ = 0;
    for (Wanted& wanted : part.wanted_) std::fill(wanted.counts.begin(), wanted.counts.end(), 0);
    return part;
}

bool RankFinder::Merge(const RankFinder& part) {
    if (part.keyBits_ != keyBits_ || part.lowest_ != lowest_ || part.shift_ != shift_ ||
        part.ranked_ != ranked_ || part.first_.size() != first_.size() ||
        part.wanted_.size() != wanted_.size() || (ranked_ && part.counted_ != counted_))
        return false;
    for (size_t i = 0; i < wanted_.size(); ++i)
        if (part.wanted_[i].rank != wanted_[i].rank || part.wanted_[i].prefix != wanted_[i].prefix ||
            part.wanted_[i].counts.size() != wanted_[i].counts.size())
            return false;
    for (size_t d = 0; d < first_.size(); ++d) first_[d] += part.first_[d];
    if (!ranked_) counted_ += part.counted_;
    for (size_t i = 0; i < wanted_.size(); ++i)
        for (size_t d = 0; d < wanted_[i].counts.size(); ++d)
            wanted_[i].counts[d] += part.wanted_[i].counts[d];
    return true;
}

std::vector<int64_t> RankFinder::Numbers() const {
    std::vector<int64_t> numbers{keyBits_, lowest_, shift_, ranked_ ? 1 : 0, counted_,
                                 static_cast<int64_t>(first_.size())};
    numbers.insert(numbers.end(), first_.begin(), first_.end());
    numbers.push_back(static_cast<int64_t>(wanted_.size()));
    for (const Wanted& wanted : wanted_) {
        numbers.push_back(wanted.rank);
        numbers.push_back(static_cast<int64_t>(wanted.prefix));
        numbers.push_back(static_cast<int64_t>(wanted.counts.size()));
        numbers.insert(numbers.end(), wanted.counts.begin(), wanted.counts.end());
    }
    return numbers;
}

std::optional<RankFinder> RankFinder::FromNumbers(const std::vector<int64_t>& numbers) {
    size_t at = 0;
    const auto next = [&](int64_t& value) {
        if (at >= numbers.size()) return false;
        value = numbers[at++];
        return true;
    };
    // A list of at most kDigits counts, none negative.
    const auto counts = [&](std::vector<int64_t>& list) {
        int64_t size = 0;
        if (!next(size) || size < 0 || static_cast<uint64_t>(size) > kDigits ||
            numbers.size() - at < static_cast<size_t>(size))
            return false;
        list.assign(numbers.begin() + static_cast<std::ptrdiff_t>(at),
                    numbers.begin() + static_cast<std::ptrdiff_t>(at + static_cast<size_t>(size)));
        at += static_cast<size_t>(size);
        return std::all_of(list.begin(), list.end(), [](int64_t n) { return n >= 0; });
    };
    int64_t keyBits = 0, lowest = 0, shift = 0, ranked = 0, counted = 0, wantedCount = 0;
    if (!next(keyBits) || !next(lowest) || !next(shift) || !next(ranked) || !next(counted))
        return std::nullopt;
    if ((keyBits != 16 && keyBits != 32 && keyBits != 64) || shift < -kDigitBits ||
        shift > keyBits - kDigitBits || shift % kDigitBits != 0 || (ranked != 0 && ranked != 1) ||
        counted < 0)
        return std::nullopt;
    RankFinder finder(static_cast<int>(keyBits), lowest);
    finder.shift_ = static_cast<int>(shift);
    finder.ranked_ = ranked != 0;
    finder.counted_ = counted;
    if (!counts(finder.first_) || !next(wantedCount) || wantedCount < 0 || wantedCount > 64)
        return std::nullopt;
    for (int64_t i = 0; i < wantedCount; ++i) {
        Wanted wanted;
        int64_t prefix = 0;
        if (!next(wanted.rank) || !next(prefix) || !counts(wanted.counts) || wanted.rank < 0)
            return std::nullopt;
        wanted.prefix = static_cast<uint64_t>(prefix);
        finder.wanted_.push_back(std::move(wanted));
    }
    if (at != numbers.size()) return std::nullopt;
    return finder;
}

}  // namespace tessera
