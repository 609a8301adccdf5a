#pragma once
// The band set of the interactive program as it is opened: each band's pixels and record, the
// loading rule, the masks, and how each band was loaded, so that a mask given after the bands,
// or a saved treatment's stretches, load them again the same way.
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bands/bandfiles.h"
#include "bands/bandset.h"
#include "bands/pixelmask.h"
#include "segmentation/bandrecord.h"
#include "support/progress.h"
#include "support/status.h"
#include "workspace/strips.h"
#include "workspace/treatmentfile.h"

namespace tessera {

struct BandData {
    // The gray levels; the band window shows them as they are (a picture over the same block).
    ByteMatrix pixels;
    // 1 for each pixel without data, 0 elsewhere; empty when every pixel holds data.
    ByteMatrix nodata;
    // The pixels with data: their gray levels, lowest and highest.
    Histogram histogram{};
    int minGray = 260;
    int maxGray = 0;
    bool Loaded() const { return !pixels.Empty(); }
    // The band as the passes read it, sharing its blocks.
    BandPlane Plane() const { return {pixels.SharedCells(), nodata.SharedCells()}; }
};

// What is known of a band's pixels beside their gray levels.
struct BandMarks {
    // 1 for each pixel without data (the band has a nodata value): left out of its histogram
    // and gray range. Empty: every pixel holds data.
    ByteMatrix nodata;
    std::optional<double> nodataValue;
    std::optional<Georeference> georeference;
};

// A mask of the band set as it was given: a band of a file and the rule of its values.
struct MaskSource {
    std::string path;
    BandFileType type = BandFileType::Raster;  // the type chosen (ReaderFor decides the reader)
    int rasterBand = 1;                        // of a raster
    MaskRule rule;
};

// What the interactive program holds for a band set: per band the pixels and their marks; per
// set the shown segment numbers (twice while a new segmentation replaces them) and the classes.
int64_t InteractiveMemoryNeed(ImageSize size, int bandCount);

class BandLoading {
  public:
    BandLoading();

    // Start of an open sequence of `bandCount` bands: every band and record is emptied, the
    // masks forgotten, and bands loaded from now on must share one size.
    void Begin(int bandCount);
    int BandCount() const { return bandCount_; }
    // Band b, 1..10.
    const BandData& Band(int b) const { return bands_[b]; }
    const BandRecord& Record(int b) const { return records_[b]; }
    // The records 1..10 at 1..10, for the segmentation's settings.
    std::array<BandRecord, kMaximumBands + 1>& Records() { return records_; }
    // The bands 1..BandCount() as the passes read them.
    std::vector<BandPlane> Planes() const;
    // The size of the last band kept.
    ImageSize Size() const { return size_; }
    // The size of the set being opened: that of the bands accepted since Begin; none before
    // the first.
    std::optional<ImageSize> SetSize() const;
    // The reader the last band loaded went to (ReaderFor: not always the type chosen).
    BandFileType LoadedType() const { return loadedType_; }

    Status CheckMemoryFor(const std::string& path, ImageSize size, int64_t physicalBytes) const;
    Status CheckBandSize(int band, const std::string& path, ImageSize size) const {
        return bandSet_.CheckBandSize(band, path, size);
    }
    // "ERROR" text naming the first band 1..BandCount() without pixels.
    Status CheckAllLoaded() const;

    // The loading rule (BandSet::Open) with the set's masks, then the band's pixels read and
    // kept; a refusal names the file and changes nothing.
    Status Load(int band, const std::string& path, BandFileType type,
                const BandLoadOptions& options, int threads);
    // Keeps the band's pixels: gray range and histogram (by the passes' own statistics),
    // record, size. Refuses (and keeps the band as it was) when memory runs out.
    Status Store(int band, const std::string& path, ByteMatrix pixels, BandMarks marks,
                 int threads);

    // A mask of the set; see Workspace::AddMask.
    Status AddMask(const MaskSource& mask, Progress& progress, int threads);
    const std::vector<std::string>& MaskTexts() const { return maskTexts_; }
    const std::vector<MaskDescription>& MaskDescriptions() const { return maskDescriptions_; }
    // The bands loaded again as they were first loaded, with each band's stretch, scale and
    // nodata value the treatment's; put back whole when one cannot be.
    Status LoadAgain(const SavedTreatment& saved, Progress& progress, int threads) {
        return LoadAgain(mask_, progress, threads, &saved);
    }

  private:
    // How a band was loaded: its file, type and options (without their questions), and the
    // answer of its raster question.
    struct Loading {
        std::string path;
        BandFileType type = BandFileType::Raw;
        BandLoadOptions options;
        std::optional<BandLoadOptions::RasterQuestion> answer;
        bool Known() const { return !path.empty(); }
    };
    Status LoadAgain(const std::shared_ptr<const PixelMask>& mask, Progress& progress, int threads,
                     const SavedTreatment* saved);

    int bandCount_ = 0;
    std::array<BandData, kMaximumBands + 1> bands_;      // 1..10
    std::array<BandRecord, kMaximumBands + 1> records_;  // 1..10
    BandSet bandSet_;  // the loading rule, with the bands accepted since Begin
    ImageSize size_;
    BandFileType loadedType_ = BandFileType::Raw;
    std::array<Loading, kMaximumBands + 1> loadings_;
    std::vector<MaskSource> maskSources_;
    std::shared_ptr<const PixelMask> mask_;  // none without masks
    std::vector<std::string> maskTexts_;
    std::vector<MaskDescription> maskDescriptions_;
};

}  // namespace tessera
