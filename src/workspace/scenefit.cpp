#include "workspace/scenefit.h"

#include <algorithm>

#include "support/numbers.h"

namespace tessera {

SceneFit::SceneFit(int bandCount)
    : bandCount_(bandCount),
      stretches_(static_cast<size_t>(std::max(bandCount, 0))),
      dataTypes_(static_cast<size_t>(std::max(bandCount, 0))),
      sums_(static_cast<size_t>(std::max(bandCount, 0)) + 1, Histogram{}),
      valueCounts_(static_cast<size_t>(std::max(bandCount, 0))),
      lowest_(static_cast<size_t>(std::max(bandCount, 0)), 0) {}

void SceneFit::AddValueCounts(int band, const std::vector<int64_t>& counts, int64_t lowest) {
    if (band < 1 || band > bandCount_) return;
    std::vector<int64_t>& sum = valueCounts_[static_cast<size_t>(band - 1)];
    if (sum.size() < counts.size()) sum.resize(counts.size(), 0);
    for (size_t v = 0; v < counts.size(); ++v) sum[v] += counts[v];
    lowest_[static_cast<size_t>(band - 1)] = lowest;
}

Status SceneFit::TakePercentiles(int band, PercentileRange percentiles) {
    const std::vector<int64_t>& counts = valueCounts_[static_cast<size_t>(band - 1)];
    const int64_t lowest = lowest_[static_cast<size_t>(band - 1)];
    int64_t total = 0;
    for (int64_t count : counts) total += count;
    const std::string named = "band " + std::to_string(band) + " of the scenes";
    if (total == 0) return Status::Failure(named + " holds no pixel with data");
    // The value of rank r (0-based) of all the values, sorted.
    const auto valueAt = [&](int64_t rank) {
        int64_t seen = 0;
        for (size_t v = 0; v < counts.size(); ++v) {
            seen += counts[v];
            if (seen > rank) return static_cast<int64_t>(v) + lowest;
        }
        return static_cast<int64_t>(counts.size()) - 1 + lowest;
    };
    // The values are whole numbers: mixed exactly, as one scene's are.
    const auto at = [&](double percent) {
        if (const auto exact = ExactPlaceOfPercentile(percent, total))
            return MixWholePercentile(valueAt(exact->lower), valueAt(exact->upper), *exact);
        const PercentilePlace place = PlaceOfPercentile(percent, total);
        return MixPercentile(static_cast<double>(valueAt(place.lower)),
                             static_cast<double>(valueAt(place.upper)), place.fraction);
    };
    const double minimum = at(percentiles.low), maximum = at(percentiles.high);
    if (!(minimum < maximum))
        return Status::Failure(named + ": its percentiles " + PercentText(percentiles.low) +
                               " and " + PercentText(percentiles.high) + " are both " +
                               NumberText(minimum) +
                               " over the scenes, which leaves no range to stretch to gray "
                               "levels; give others or --stretch MIN,MAX");
    stretches_[static_cast<size_t>(band - 1)] = StretchRange{minimum, maximum};
    anyOwn_ = true;
    return Status::Ok();
}

Status SceneFit::AddScene(int scene, const Treatment& read,
                          const std::vector<std::string>& dataTypes,
                          const std::vector<bool>& ownStretch) {
    for (int b = 1; b <= bandCount_; ++b) {
        const std::string& type = dataTypes[static_cast<size_t>(b - 1)];
        if (!first_) dataTypes_[b - 1] = type;
        if (type != dataTypes_[b - 1])
            return Status::Failure("band " + std::to_string(b) + " of scene " +
                                   std::to_string(scene) + " holds " + type +
                                   " values, and of scene 1 " + dataTypes_[b - 1] + " values");
    }
    for (int b = 1; b <= bandCount_; ++b) {
        const auto& stretch = read.records[b].stretch;
        if (ownStretch[static_cast<size_t>(b - 1)] && stretch) {
            std::optional<StretchRange>& range = stretches_[static_cast<size_t>(b - 1)];
            range = range ? StretchRange{std::min(range->minimum, stretch->range.minimum),
                                         std::max(range->maximum, stretch->range.maximum)}
                          : stretch->range;
            anyOwn_ = true;
        }
        for (int g = 0; g < 256; ++g) sums_[b][g] += read.histograms[b][g];
    }
    if (scene == 1) first_ = read;
    return Status::Ok();
}

void SceneFit::RestartHistograms() {
    sums_.assign(static_cast<size_t>(bandCount_) + 1, Histogram{});
}

Treatment& SceneFit::Combined() {
    if (!first_) {
        first_.emplace();
        first_->Begin(bandCount_);
    }
    for (int b = 1; b <= bandCount_; ++b) {
        first_->histograms[b] = sums_[b];
        first_->ranges[b] = RangeOfHistogram(sums_[b]);
    }
    return *first_;
}

void SceneFit::AddCounts(const CodeTally& tally) {
    if (tally.held.empty()) {
        std::vector<int64_t>& sum = counts_.pixelCount;
        if (sum.size() < tally.pixelCount.size()) sum.resize(tally.pixelCount.size(), 0);
        for (size_t code = 0; code < tally.pixelCount.size(); ++code)
            sum[code] += tally.pixelCount[code];
        return;
    }
    const auto entries = [](const CodeTally& counted) {
        std::vector<CodePixels> codes;
        codes.reserve(counted.held.size());
        for (size_t k = 1; k < counted.held.size(); ++k)
            codes.emplace_back(counted.held[k], counted.pixelCount[k]);
        return codes;
    };
    const int64_t noCode = (counts_.pixelCount.empty() ? 0 : counts_.pixelCount[0]) +
                           (tally.pixelCount.empty() ? 0 : tally.pixelCount[0]);
    std::vector<std::vector<CodePixels>> parts;
    parts.push_back(entries(counts_));
    parts.push_back(entries(tally));
    counts_ = SparseTally(MergeSparseCounts(std::move(parts)), noCode);
}

}  // namespace tessera
