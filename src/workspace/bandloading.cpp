#include "workspace/bandloading.h"

#include <algorithm>
#include <new>

#include "bands/bandgrid.h"
#include "crossing/mapresult.h"
#include "workspace/passes.h"
#include "workspace/treatmentapply.h"

namespace tessera {

int64_t InteractiveMemoryNeed(ImageSize size, int bandCount) {
    // Per band: the pixels and their marks, and the same again for the bands an earlier
    // segmentation keeps while a new set is opened (2 + 2). Per set: the shown segment numbers
    // twice, the classes twice (the earlier result kept until a new one is whole), and the
    // passes' strips.
    const int bands = std::clamp(bandCount, 1, kMaximumBands);
    const int64_t pixels = int64_t{size.lines} * size.columns;
    return pixels * (4 * bands + 4);
}

BandLoading::BandLoading() {
    bandSet_.SetMemoryNeed(InteractiveMemoryNeed);
}

void BandLoading::Begin(int bandCount) {
    bandCount_ = bandCount;
    bandSet_.Begin(bandCount);
    // A new set starts empty: nothing of the earlier set's bands is taken for one of its own
    // (the last segmentation and crossing keep what they treated).
    for (int b = 1; b <= kMaximumBands; ++b) {
        bands_[b] = BandData{};
        records_[b] = BandRecord{};
        loadings_[b] = Loading{};
    }
    // The masks belonged to the earlier set.
    maskSources_.clear();
    mask_.reset();
    maskTexts_.clear();
    maskDescriptions_.clear();
}

Status BandLoading::CheckMemoryFor(const std::string& path, ImageSize size,
                                   int64_t physicalBytes) const {
    return bandSet_.CheckMemoryNeed(path, size, InteractiveMemoryNeed(size, bandCount_),
                                    physicalBytes);
}

Status BandLoading::Load(int band, const std::string& path, BandFileType chosen,
                         const BandLoadOptions& options, int threads) {
    Progress& progress = options.progress ? *options.progress : NoProgress();
    // The file's own first bytes may say that it is not what the type list said.
    const BandFileType type = ReaderFor(path, chosen);
    if (type == BandFileType::Bitmap && !progress.Step(kStageLoading, 0, 1))
        return Status::Cancelled();
    // The band set's masks leave their pixels without data in this band too; the raster
    // question's answer is kept, to load the band again the same way with a later mask.
    BandLoadOptions opening = options;
    if (mask_) opening.exclusion = mask_;
    // A band read through for the raster question is not decoded again by ReadAll below.
    opening.keepDecoded = true;
    std::optional<BandLoadOptions::RasterQuestion> answer;
    if (options.askRaster)
        opening.askRaster = [&](const BandLoadOptions::RasterQuestion& proposed) {
            answer = options.askRaster(proposed);
            return answer;
        };
    // Likewise the answer to the grid question.
    std::optional<bool> regrid;
    if (options.askRegrid)
        opening.askRegrid = [&](const std::string& question) {
            regrid = options.askRegrid(question);
            return *regrid;
        };
    const Result<BandReader> file = bandSet_.Open(band, path, type, opening);
    if (file.cancelled) return Status::Cancelled();
    if (!file) return Status::Failure(file.message);
    // A raw band or a raster tells how its reading goes, piece by piece; a bitmap is read at
    // once.
    ByteMatrix nodata;
    Result<ByteMatrix> pixels =
        file.value->ReadAll(type == BandFileType::Bitmap ? NoProgress() : progress, &nodata);
    if (pixels.cancelled) return Status::Cancelled();
    if (!pixels) return Status::Failure(pixels.message);
    if (!nodata.Empty() && std::find(nodata.Data(), nodata.Data() + nodata.Size(), uint8_t{0}) ==
                               nodata.Data() + nodata.Size())
        return Status::Failure(file.value->Refusal(AllNodataReason(
            file.value->Nodata(), file.value->Raster() && file.value->Raster()->IsFloating())));
    if (!progress.Step(kStageLoading, 1, 1)) return Status::Cancelled();
    const Status stored =
        Store(band, path, std::move(*pixels.value),
              BandMarks{std::move(nodata), file.value->Nodata(), file.value->Georef()}, threads);
    if (stored) {
        records_[band].stretch = file.value->Stretch();
        records_[band].rasterBand = file.value->Raster() ? file.value->Raster()->Band() : 0;
        loadedType_ = type;
        Loading& load = loadings_[band];
        load.path = path;
        load.type = chosen;
        load.options = options;
        load.options.askSize = nullptr;  // a size answered is in the descriptor written since
        load.options.askRaster = nullptr;
        load.options.askRegrid = nullptr;
        if (regrid) {
            const bool onto = *regrid;
            load.options.askRegrid = [onto](const std::string&) { return onto; };
        }
        load.options.progress = nullptr;
        load.options.exclusion = nullptr;
        load.answer = answer;
    }
    return stored;
}

Status BandLoading::Store(int band, const std::string& path, ByteMatrix pixels, BandMarks marks,
                          int threads) {
    if (band < 1 || band > kMaximumBands)
        return Status::Failure(" There is no band " + std::to_string(band) + " ");
    loadings_[band] = Loading{};
    ByteMatrix& nodata = marks.nodata;
    try {
        const ImageSize size{pixels.Lines(), pixels.Columns()};
        const bool marked = !nodata.Empty() && nodata.Size() == pixels.Size();
        if (!marked) nodata = ByteMatrix();
        // The band's statistics by the same pass as every treatment's.
        MemoryStrips source(size, {BandPlane{pixels.SharedCells(), nodata.SharedCells()}});
        Result<BandStatistics> statistics = GatherStatistics(source, threads);
        if (!statistics) return Status::Failure(statistics.message);
        const Histogram& histogram = statistics.value->histograms[1];
        const int64_t without = statistics.value->withoutData[1];
        const int64_t nonFinite = statistics.value->nonFinite[1];
        const int64_t masked = statistics.value->masked[1];
        const GrayRange range = RangeOfHistogram(histogram);
        std::string filePath = path;

        // Nothing below allocates: the band changes whole or not at all.
        BandData& data = bands_[band];
        data.minGray = range.minGray;
        data.maxGray = range.maxGray;
        size_ = size;
        data.pixels = std::move(pixels);
        data.nodata = without > 0 ? std::move(nodata) : ByteMatrix();
        data.histogram = histogram;
        BandRecord& record = records_[band];
        record.filePath.swap(filePath);
        record.stretch.reset();
        record.nodata = marks.nodataValue;
        record.nodataPixels = without - nonFinite - masked;
        record.nonFinitePixels = nonFinite;
        record.georeference = std::move(marks.georeference);
        record.rasterBand = 0;
        bandSet_.Accept(band, record.filePath, size, record.georeference);
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        return Status::Failure(" Not enough memory to keep the band " + path +
                               " \nThe band was not loaded ");
    }
}

std::optional<ImageSize> BandLoading::SetSize() const {
    for (int b = 1; b <= kMaximumBands; ++b) {
        const ImageSize size = bandSet_.SizeOf(b);
        if (size.lines > 0 || size.columns > 0) return size;
    }
    return std::nullopt;
}

Status BandLoading::AddMask(const MaskSource& source, Progress& progress, int threads) {
    const std::optional<ImageSize> size = SetSize();
    if (!size) return Status::Failure(" Open a band of the band set before its mask ");
    const BandFileType type = ReaderFor(source.path, source.type);
    // The place of the bands loaded, when every one of them lies on the map: a mask of another
    // grid is read onto theirs.
    std::vector<BandRecord> loaded(1);
    for (int b = 1; b <= kMaximumBands; ++b)
        if (bands_[b].Loaded()) loaded.push_back(records_[b]);
    const std::optional<Georeference> place = SharedGeoreference(loaded);
    const GridPlan grid = PlanOntoGrid(*size, place);
    Result<BandReader> band =
        OpenMaskBand(source.path, type, source.rasterBand, *size, place, grid);
    if (band.cancelled) return Status::Cancelled();
    if (!band) return Status::Failure(band.message);
    for (int b = 1; b <= kMaximumBands; ++b)
        if (bands_[b].Loaded() && !loadings_[b].Known())
            return Status::Failure(" Band " + std::to_string(b) +
                                   " was not loaded from a file: open the mask before the bands ");

    // The earlier masks are opened again with the new one, for a mask of its own that the
    // bands loaded already do not share.
    auto all = std::make_shared<PixelMask>();
    for (const MaskSource& earlier : maskSources_) {
        const BandFileType earlierType = ReaderFor(earlier.path, earlier.type);
        Result<BandReader> reopened =
            OpenMaskBand(earlier.path, earlierType, earlier.rasterBand, *size, place, grid);
        if (!reopened) return Status::Failure(reopened.message);
        all->Add(std::move(*reopened.value), earlier.rule,
                 MaskName(earlier.path, earlierType, earlier.rasterBand));
    }
    all->Add(std::move(*band.value), source.rule, MaskName(source.path, type, source.rasterBand));
    if (Status again = LoadAgain(all, progress, threads, nullptr); !again) return again;
    maskSources_.push_back(source);
    maskTexts_ = all->Texts();
    maskDescriptions_ = all->Descriptions();
    mask_ = std::move(all);
    return Status::Ok();
}

Status BandLoading::LoadAgain(const std::shared_ptr<const PixelMask>& mask, Progress& progress,
                              int threads, const SavedTreatment* saved) {
    // The bands as they are, put back whole when one cannot be loaded again.
    std::array<BandData, kMaximumBands + 1> keptBands;
    std::array<BandRecord, kMaximumBands + 1> keptRecords = records_;
    std::array<Loading, kMaximumBands + 1> keptLoads = loadings_;
    const BandFileType keptType = loadedType_;
    const auto restore = [&](Status status) {
        for (int b = 1; b <= kMaximumBands; ++b)
            if (keptBands[b].Loaded()) bands_[b] = std::move(keptBands[b]);
        records_ = keptRecords;
        loadings_ = keptLoads;
        loadedType_ = keptType;
        return status;
    };
    const std::shared_ptr<const PixelMask> before = mask_;
    mask_ = mask;
    for (int b = 1; b <= kMaximumBands; ++b) {
        if (!bands_[b].Loaded()) continue;
        const Loading load = keptLoads[b];
        BandLoadOptions options = load.options;
        options.progress = &progress;
        if (load.answer) {
            // The band answered for, with the same answer.
            options.rasterBand = records_[b].rasterBand;
            options.askRasterBand = false;
            const BandLoadOptions::RasterQuestion answer = *load.answer;
            options.askRaster = [answer](const BandLoadOptions::RasterQuestion&) {
                return std::optional<BandLoadOptions::RasterQuestion>(answer);
            };
        }
        if (saved && b <= saved->BandCount()) {
            const SavedBand& kept = saved->bands[static_cast<size_t>(b - 1)];
            TakeSavedLoading(options, kept);
            if (load.answer) {
                BandLoadOptions::RasterQuestion answer = *load.answer;
                answer.stretch = kept.stretch;
                answer.percentiles.reset();
                answer.nodata = kept.nodata;
                options.askRaster = [answer](const BandLoadOptions::RasterQuestion&) {
                    return std::optional<BandLoadOptions::RasterQuestion>(answer);
                };
            }
        }
        keptBands[b] = std::move(bands_[b]);
        const Status loaded = Load(b, load.path, load.type, options, threads);
        if (!loaded) {
            mask_ = before;
            return restore(loaded);
        }
    }
    loadedType_ = keptType;
    return Status::Ok();
}

Status BandLoading::CheckAllLoaded() const {
    for (int b = 1; b <= bandCount_ && b <= kMaximumBands; ++b)
        if (!bands_[b].Loaded()) return Status::Failure(MissingBandMessage(b));
    return Status::Ok();
}

std::vector<BandPlane> BandLoading::Planes() const {
    std::vector<BandPlane> planes;
    for (int b = 1; b <= bandCount_; ++b) planes.push_back(bands_[b].Plane());
    return planes;
}

}  // namespace tessera
