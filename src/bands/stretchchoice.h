#pragma once
// The stretch of raster bands of more than 8 bits, chosen: given, from the band's own least and
// greatest values, or from two of its percentiles; several bands read through together. The
// steps of one band are RasterSource's (ChooseStretch, FindRange, the percentile steps), defined
// with these in stretchchoice.cpp.
#include <optional>
#include <string>
#include <vector>

#include "bands/bandfacts.h"
#include "bands/rasterband.h"
#include "support/status.h"

namespace tessera {

// ChooseStretch for those of `sources` that take their stretch from percentiles and have none
// yet.
Status ChoosePercentileStretches(const std::vector<RasterSource*>& sources);

// The own stretch of every source of `sources` that NeedsStretch(), found as ChooseStretch
// finds it, all read through together strip by strip (the bands of one pixel-interleaved file
// in one read of it), on `threads` threads; the refusal of the first band, in their order, that
// has none, or of the first strip that cannot be read.
Status ChooseStretchesTogether(const std::vector<RasterSource*>& sources, int threads = 1);

// TakeOwnRange for each of `sources`, from the least of low[worker][i] and the greatest of
// high[worker][i] over the workers that gathered them; the first refusal.
Status TakeOwnRanges(const std::vector<RasterSource*>& sources,
                     const std::vector<std::vector<double>>& low,
                     const std::vector<std::vector<double>>& high);

// The stretch of band `rasterBand` of `path` from its own range low..high over its pixels with
// data (of data type `dataType`, a floating-point one or not, its values physical with
// `scaling`); refused when it has no pixel with data (low > high) or a single value.
Result<StretchRange> OwnStretch(const std::string& path, int rasterBand, double low, double high,
                                const std::optional<double>& nodata, bool floating,
                                const std::string& dataType,
                                const std::optional<Scaling>& scaling = std::nullopt);

// Why a band whose every pixel is without data is refused: it holds its nodata value (if any)
// and, for a floating-point band, NaN or infinite values.
std::string AllNodataReason(const std::optional<double>& nodata, bool floating = false);

}  // namespace tessera
