#pragma once
// A band's stretch taken at two percentiles of its values with data, apart from where the
// values come from (a band file read in windows, or blocks of an array): the search's finder
// for the band's values, the ranks it looks for, and the stretch made of the values found.
#include <optional>
#include <string>

#include "bands/bandfacts.h"
#include "bands/percentiles.h"
#include "support/status.h"

namespace tessera {

// The values a band of data type `dataType` (GDAL's name) is searched in: its stored whole
// numbers, or physical values (`scaling`) and any other as doubles.
struct PercentileBand {
    std::string dataType;
    std::optional<Scaling> scaling;
    PercentileRange percentiles;
};

// A finder for the band's values: whole numbers of up to 16 bits are found in one pass after
// the count, of 32 bits in two; other values in four.
RankFinder NewPercentileFinder(const PercentileBand& band);
// After the finder's first pass: the ranks of the two percentiles chosen. False, the finder
// untouched, when no value was counted (the band has no pixel with data).
bool RankPercentiles(const PercentileBand& band, RankFinder& finder);
// Once the finder is done: the stretch at the percentiles, mixed as numpy mixes them (whole
// numbers exactly, rounded once). Refused, with the reason only, when both are one value.
Result<StretchRange> PercentileStretchFound(const PercentileBand& band, const RankFinder& finder);

}  // namespace tessera
