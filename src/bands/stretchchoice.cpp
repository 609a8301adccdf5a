#include "bands/stretchchoice.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>

#include "bands/decodedgroup.h"
#include "bands/stretch.h"
#include "support/numbers.h"
#include "support/parallel.h"

namespace tessera {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

}  // namespace

std::string AllNodataReason(const std::optional<double>& nodata, bool floating) {
    if (!nodata)
        return "every pixel holds NaN or an infinite value, which leaves no data to segment";
    return "every pixel holds its nodata value " + NumberText(*nodata) +
           (floating ? ", NaN or an infinite value" : "") + ", which leaves no data to segment";
}

Status RasterSource::ChooseStretch(const std::optional<StretchRange>& given) {
    if (given) {
        if (const Status usable = CheckStretch(path_, rasterBand_, *given); !usable) return usable;
    }
    if (isByte_) return Status::Ok();
    if (given) {
        stretch_ = given;
        return Status::Ok();
    }
    if (percentiles_) return TakePercentileStretch();
    const Result<ValueRange> range = FindRange();
    if (!range) return Status::Failure(range.message);
    return TakeOwnRange(range.value->low, range.value->high);
}

Status ChoosePercentileStretches(const std::vector<RasterSource*>& sources) {
    for (RasterSource* source : sources) {
        if (source->isByte_ || source->stretch_ || !source->percentiles_) continue;
        if (Status chosen = source->TakePercentileStretch(); !chosen) return chosen;
    }
    return Status::Ok();
}
Status RasterSource::TakePercentileStretch() {
    RankFinder finder = NewPercentileFinder();
    if (Status counted = CountPercentileLines(finder, 0, size_.lines); !counted) return counted;
    if (Status ranked = RankPercentileFinder(finder); !ranked) return ranked;
    while (!finder.Done()) {
        if (Status read = CountPercentileLines(finder, 0, size_.lines); !read) return read;
        finder.EndPass();
    }
    return TakePercentilesFound(finder);
}

RankFinder RasterSource::NewPercentileFinder() const {
    return tessera::NewPercentileFinder(PercentileBandOf());
}

PercentileBand RasterSource::PercentileBandOf() const {
    return PercentileBand{dataType_, scaling_, percentiles_.value_or(PercentileRange{})};
}

Status RasterSource::CountPercentileLines(RankFinder& finder, int first, int count) const {
    const int stripLines = std::max(1, (1 << 16) / std::max(size_.columns, 1));
    const int end = std::min(first + count, size_.lines);
    std::vector<double> values(static_cast<size_t>(std::min(stripLines, std::max(count, 1))) *
                               size_.columns);
    std::vector<uint8_t> skip;
    for (int top = std::max(first, 0); top < end; top += stripLines) {
        const int lines = std::min(stripLines, end - top);
        const size_t cells = static_cast<size_t>(lines) * size_.columns;
        if (!ReadNative(top, lines, values.data())) return ReadFailure(top, lines);
        if (Status read = Excluded(top, lines, 0, size_.columns, skip); !read) return read;
        skip.resize(cells, 0);
        for (size_t i = 0; i < cells; ++i)
            if (IsNodata(values[i])) skip[i] = 1;
        finder.Add(values.data(), skip.data(), cells);
    }
    return Status::Ok();
}

Status RasterSource::RankPercentileFinder(RankFinder& finder) const {
    if (RankPercentiles(PercentileBandOf(), finder)) return Status::Ok();
    return Status::Failure(RasterRefusal(path_, rasterBand_, AllNodataReason(nodata_, isFloating_)));
}

Status RasterSource::TakePercentilesFound(const RankFinder& finder) {
    Result<StretchRange> found = PercentileStretchFound(PercentileBandOf(), finder);
    if (!found) return Status::Failure(RasterRefusal(path_, rasterBand_, found.message));
    stretch_ = *found.value;
    return Status::Ok();
}

Result<ValueRange> RasterSource::FindRange(Progress& progress) const {
    using R = Result<ValueRange>;
    // Over the pixels with data (NaN and infinite values have none), read through once a strip
    // at a time before the band's histogram is.
    const int stripLines = std::max(1, (1 << 16) / std::max(size_.columns, 1));
    const int64_t total = int64_t{size_.lines} * size_.columns;
    std::vector<double> values(static_cast<size_t>(stripLines) * size_.columns);
    std::vector<uint8_t> masked;
    ValueRange range;
    for (int first = 0; first < size_.lines; first += stripLines) {
        if (!progress.Step(kStageRange, int64_t{first} * size_.columns, total))
            return R::Cancelled();
        const int count = std::min(stripLines, size_.lines - first);
        if (!ReadNative(first, count, values.data()))
            return R::Failure(ReadFailure(first, count).message);
        if (Status read = Excluded(first, count, 0, size_.columns, masked); !read)
            return R::Failure(read.message);
        for (size_t i = 0, n = static_cast<size_t>(count) * size_.columns; i < n; ++i) {
            if (!std::isfinite(values[i]) || IsNodata(values[i])) continue;
            if (!masked.empty() && masked[i] != 0) continue;
            range.low = std::min(range.low, values[i]);
            range.high = std::max(range.high, values[i]);
        }
    }
    if (!progress.Step(kStageRange, total, total)) return R::Cancelled();
    return R::Of(range);
}

Status ChooseStretchesTogether(const std::vector<RasterSource*>& sources, int threads) {
    if (Status chosen = ChoosePercentileStretches(sources); !chosen) return chosen;
    std::vector<RasterSource*> wanted;
    for (RasterSource* source : sources)
        if (source->NeedsStretch()) wanted.push_back(source);
    if (wanted.empty()) return Status::Ok();
    const std::vector<const RasterSource*> reading(wanted.begin(), wanted.end());
    const ImageSize size = wanted[0]->size_;
    const int stripLines = std::max(1, (1 << 16) / std::max(size.columns, 1));
    const int stripCount = (size.lines + stripLines - 1) / stripLines;
    const std::vector<std::vector<size_t>> groups = DecodedGroup::Groups(reading);
    // Each thread takes the next strip and keeps its own least and greatest values; they are
    // the same whichever thread saw which strip. The first strip that fails is the refusal.
    const int workers = std::clamp(threads, 1, std::max(stripCount, 1));
    std::vector<std::vector<double>> low(workers, std::vector<double>(wanted.size(), kInfinity));
    std::vector<std::vector<double>> high(workers, std::vector<double>(wanted.size(), -kInfinity));
    std::atomic<int> next{0};
    std::mutex refusing;
    int refusedStrip = stripCount;
    Status refusal = Status::Ok();
    auto work = [&](int worker) {
        std::vector<double> values;
        std::vector<uint8_t> masked;
        for (int strip = next++; strip < stripCount; strip = next++) {
            const int first = strip * stripLines;
            const int count = std::min(stripLines, size.lines - first);
            const size_t cells = static_cast<size_t>(count) * size.columns;
            for (const std::vector<size_t>* each : GroupsInTurn(groups, worker, workers)) {
                const std::vector<size_t>& group = *each;
                std::vector<const RasterSource*> members;
                for (size_t i : group) members.push_back(reading[i]);
                values.resize(cells * members.size());
                const bool read =
                    DecodedGroup(members).Read({first, count, 0, size.columns}, values.data());
                if (!read) {
                    Status failure = members[0]->ReadFailure(first, count);
                    for (const RasterSource* member : members) {
                        if (member->ReadNative(first, count, values.data())) continue;
                        failure = member->ReadFailure(first, count);
                        break;
                    }
                    const std::lock_guard<std::mutex> lock(refusing);
                    if (strip < refusedStrip) {
                        refusedStrip = strip;
                        refusal = std::move(failure);
                    }
                    return;
                }
                for (size_t g = 0; g < group.size(); ++g) {
                    const RasterSource& source = *members[g];
                    const double* band = values.data() + g * cells;
                    double& least = low[worker][group[g]];
                    double& most = high[worker][group[g]];
                    if (Status excluded = source.Excluded(first, count, 0, size.columns, masked);
                        !excluded) {
                        const std::lock_guard<std::mutex> lock(refusing);
                        if (strip < refusedStrip) {
                            refusedStrip = strip;
                            refusal = std::move(excluded);
                        }
                        return;
                    }
                    for (size_t i = 0; i < cells; ++i) {
                        const double value = band[i];
                        if (!std::isfinite(value) || source.IsNodata(value)) continue;
                        if (!masked.empty() && masked[i] != 0) continue;
                        least = std::min(least, value);
                        most = std::max(most, value);
                    }
                }
            }
        }
    };
    RunWorkers(workers, work);
    if (!refusal) return refusal;
    return TakeOwnRanges(wanted, low, high);
}

Status TakeOwnRanges(const std::vector<RasterSource*>& sources,
                     const std::vector<std::vector<double>>& low,
                     const std::vector<std::vector<double>>& high) {
    for (size_t w = 0; w < sources.size(); ++w) {
        double least = kInfinity, most = -kInfinity;
        for (size_t worker = 0; worker < low.size(); ++worker) {
            least = std::min(least, low[worker][w]);
            most = std::max(most, high[worker][w]);
        }
        if (Status chosen = sources[w]->TakeOwnRange(least, most); !chosen) return chosen;
    }
    return Status::Ok();
}

Result<StretchRange> OwnStretch(const std::string& path, int rasterBand, double low, double high,
                                const std::optional<double>& nodata, bool floating,
                                const std::string& dataType,
                                const std::optional<Scaling>& scaling) {
    using R = Result<StretchRange>;
    if (!(low <= high))
        return R::Failure(RasterRefusal(path, rasterBand, AllNodataReason(nodata, floating)));
    if (!(low < high)) {
        return R::Failure(RasterRefusal(
            path, rasterBand,
            "every pixel holds the value " +
                HeldValueText(low, GrayStretch{dataType, {low, high}, std::nullopt, scaling}) +
                ", which leaves no range to stretch to gray levels; give one with --stretch "
                "MIN,MAX"));
    }
    return R::Of(StretchRange{low, high});
}

Status RasterSource::TakeOwnRange(double low, double high) {
    Result<StretchRange> own =
        OwnStretch(path_, rasterBand_, low, high, nodata_, isFloating_, dataType_, scaling_);
    if (!own) return Status::Failure(own.message);
    stretch_ = own.value;
    return Status::Ok();
}

}  // namespace tessera
