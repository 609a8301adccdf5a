#include "bands/percentilestretch.h"

#include <cstdint>
#include <vector>

#include "bands/stretch.h"
#include "support/numbers.h"

namespace tessera {

namespace {

// Where the percentiles lie among `count` values: exactly for whole numbers (the stored
// values of a scaled band too), else as numpy places them.
struct PercentilePlaces {
    std::optional<ExactPercentilePlace> exact[2];
    PercentilePlace place[2];
};

PercentilePlaces PlacesOf(const PercentileBand& band, int64_t count) {
    const bool whole = HoldsWholeNumbers(band.dataType);
    const double percents[2] = {band.percentiles.low, band.percentiles.high};
    PercentilePlaces places;
    for (int i = 0; i < 2; ++i) {
        if (whole) places.exact[i] = ExactPlaceOfPercentile(percents[i], count);
        places.place[i] = PlaceOfPercentile(percents[i], count);
    }
    return places;
}

}  // namespace

RankFinder NewPercentileFinder(const PercentileBand& band) {
    int keyBits = 64;
    int64_t lowest = 0;
    const std::string& type = band.dataType;
    if (type == "Int8" || type == "Int16") keyBits = 16, lowest = -32768;
    if (type == "UInt16") keyBits = 16;
    if (type == "Int32") keyBits = 32, lowest = INT32_MIN;
    if (type == "UInt32") keyBits = 32;
    if (band.scaling) keyBits = 64, lowest = 0;
    return RankFinder(keyBits, lowest);
}

bool RankPercentiles(const PercentileBand& band, RankFinder& finder) {
    const int64_t count = finder.Counted();
    if (count == 0) return false;
    const PercentilePlaces places = PlacesOf(band, count);
    std::vector<int64_t> ranks;
    for (int i = 0; i < 2; ++i) {
        const auto& exact = places.exact[i];
        ranks.push_back(exact ? exact->lower : places.place[i].lower);
        ranks.push_back(exact ? exact->upper : places.place[i].upper);
    }
    finder.EndFirstPass(ranks);
    return true;
}

Result<StretchRange> PercentileStretchFound(const PercentileBand& band, const RankFinder& finder) {
    const PercentilePlaces places = PlacesOf(band, finder.Counted());
    const auto percentile = [&](int i) {
        const double a = finder.Value(2 * i), b = finder.Value(2 * i + 1);
        const auto& exact = places.exact[i];
        if (!exact) return MixPercentile(a, b, places.place[i].fraction);
        if (!band.scaling)
            return MixWholePercentile(static_cast<int64_t>(a), static_cast<int64_t>(b), *exact);
        const auto stored = [&](double value) {
            return static_cast<int64_t>(StoredValueOf(value, *band.scaling));
        };
        const int64_t times = MixedWholeTimesParts(stored(a), stored(b), *exact);
        return PhysicalValue(RoundedQuotient(times, exact->parts), *band.scaling);
    };
    const double minimum = percentile(0);
    const double maximum = percentile(1);
    if (!(minimum < maximum)) {
        const GrayStretch found{band.dataType, {minimum, maximum}, band.percentiles, band.scaling};
        return Result<StretchRange>::Failure(
            "its percentiles " + PercentText(band.percentiles.low) + " and " +
            PercentText(band.percentiles.high) + " are both " +
            (band.scaling ? StretchEndText(found, false) : NativeText(minimum, found.ValueType())) +
            ", which leaves no range to stretch to gray levels; give others or --stretch "
            "MIN,MAX");
    }
    return Result<StretchRange>::Of(StretchRange{minimum, maximum});
}

}  // namespace tessera
