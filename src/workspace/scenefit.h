#pragma once
// One treatment fitted on several scenes of as many bands, as if they were one scene: each
// band's stretch (of more than 8 bits, taken from the values) from the least MIN to the
// greatest MAX of the scenes (or at percentiles of all the scenes' values together), its
// histogram the sum of theirs, and the pixel count of every code the sum of the scenes' counts. The scenes are read one after another, so that the fit
// needs the memory of one streamed job.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bands/bandfacts.h"
#include "bands/percentiles.h"
#include "support/status.h"
#include "workspace/passes.h"

namespace tessera {

class SceneFit {
  public:
    explicit SceneFit(int bandCount);

    // Scene `scene` (1, 2, ...) read: band b of data type `dataTypes[b - 1]`, which took its
    // stretch from its own values where `ownStretch[b - 1]`. Refused, with the sentence that
    // says so, when a band's type differs from the first scene's. The first scene's state is
    // kept as the fitted treatment's.
    Status AddScene(int scene, const Treatment& read, const std::vector<std::string>& dataTypes,
                    const std::vector<bool>& ownStretch);
    // The stretches of every band that took its own, over the scenes added: band b at b - 1.
    const std::vector<std::optional<StretchRange>>& Stretches() const { return stretches_; }
    bool AnyOwnStretch() const { return anyOwn_; }
    // The pixels of each value of band `band` of a scene (RasterSource::CountValues), summed
    // over the scenes.
    void AddValueCounts(int band, const std::vector<int64_t>& counts, int64_t lowest);
    // Band `band` takes its stretch at these percentiles of the summed values, as numpy's
    // percentile gives them over all the scenes' values with data (worked out exactly, as the
    // values are whole numbers); refused, saying why, when there is none or both percentiles
    // are one value.
    Status TakePercentiles(int band, PercentileRange percentiles);
    // The scenes are read again with Stretches(): their histograms start anew.
    void RestartHistograms();
    // The fitted treatment: the first scene's records with the summed histograms and their
    // gray ranges, ready for SetBandSegmentation.
    Treatment& Combined();
    // A scene's code counts (codes 0..N of the fitted segmentation; of a sparse table, those
    // of the codes it holds), summed: a sparse table's merged in code order.
    void AddCounts(const CodeTally& tally);
    // The counts summed over the scenes added, as one scene's tally.
    const CodeTally& Counts() const { return counts_; }

  private:
    int bandCount_;
    std::vector<std::optional<StretchRange>> stretches_;
    std::vector<std::string> dataTypes_;
    std::vector<Histogram> sums_;  // 1..n
    std::optional<Treatment> first_;
    CodeTally counts_;
    std::vector<std::vector<int64_t>> valueCounts_;  // band b at b - 1
    std::vector<int64_t> lowest_;
    bool anyOwn_ = false;
};

}  // namespace tessera
