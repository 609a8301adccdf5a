#include "workspace/scenefit.h"

#include <algorithm>

namespace tessera {

SceneFit::SceneFit(int bandCount)
    : bandCount_(bandCount),
      stretches_(static_cast<size_t>(std::max(bandCount, 0))),
      dataTypes_(static_cast<size_t>(std::max(bandCount, 0))),
      sums_(static_cast<size_t>(std::max(bandCount, 0)) + 1, Histogram{}) {}

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

void SceneFit::AddCounts(const std::vector<int64_t>& pixelCount) {
    if (pixelCount_.size() < pixelCount.size()) pixelCount_.resize(pixelCount.size(), 0);
    for (size_t code = 0; code < pixelCount.size(); ++code) pixelCount_[code] += pixelCount[code];
}

}  // namespace tessera
