#include "workspace/workspace.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "crossing/codetable.h"
#include "crossing/mapresult.h"
#include "support/paths.h"
#include "workspace/treatmentapply.h"

namespace tessera {

namespace {

bool ValidBand(int band) {
    return band >= 1 && band <= kMaximumBands;
}

// The bands 1..n of the workspace as the passes read them.
std::vector<BandPlane> PlanesOf(const std::array<BandData, kMaximumBands + 1>& bands, int n) {
    std::vector<BandPlane> planes;
    for (int b = 1; b <= n; ++b) planes.push_back(bands[b].Plane());
    return planes;
}

}  // namespace

int64_t InteractiveMemoryNeed(ImageSize size, int bandCount) {
    // Per band: the pixels and their marks, and the same again for the bands an earlier
    // segmentation keeps while a new set is opened (2 + 2). Per set: the shown segment numbers
    // twice, the classes twice (the earlier result kept until a new one is whole), and the
    // passes' strips.
    const int bands = std::clamp(bandCount, 1, kMaximumBands);
    const int64_t pixels = int64_t{size.lines} * size.columns;
    return pixels * (4 * bands + 4);
}

Workspace::Workspace() {
    bandSet.SetMemoryNeed(InteractiveMemoryNeed);
}

void Workspace::BeginBandSet(int bandCount) {
    BandCount = bandCount;
    CurrentBand = bandCount;
    bandSet.Begin(bandCount);
    // A new set starts empty: nothing of the earlier set's bands is taken for one of its own
    // (the last segmentation and crossing keep what they treated).
    for (int b = 1; b <= kMaximumBands; ++b) {
        bands[b] = BandData{};
        records[b] = BandRecord{};
        loads_[b] = BandLoad{};
    }
    // The masks belonged to the earlier set.
    maskSources_.clear();
    mask_.reset();
    maskTexts_.clear();
    maskDescriptions_.clear();
    ++BandSetNumber;
}

Status Workspace::CheckMemoryFor(const std::string& path, ImageSize size,
                                 int64_t physicalBytes) const {
    return bandSet.CheckMemoryNeed(path, size, InteractiveMemoryNeed(size, BandCount),
                                   physicalBytes);
}

Status Workspace::LoadBand(int band, const std::string& path, BandFileType chosen,
                           const BandLoadOptions& options) {
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
    const Result<BandReader> file = bandSet.Open(band, path, type, opening);
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
    const Status stored = StoreBand(band, path, std::move(*pixels.value), options.makeImage,
                                    std::move(nodata), file.value->Nodata());
    if (stored) {
        records[band].stretch = file.value->Stretch();
        records[band].georeference = file.value->Georef();
        records[band].rasterBand = file.value->Raster() ? file.value->Raster()->Band() : 0;
        bandSet.Accept(band, path, ImageSize{Lines, Columns}, records[band].georeference);
        LoadedType = type;
        BandLoad& load = loads_[band];
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

Status Workspace::StoreBand(int band, const std::string& path, ByteMatrix pixels, bool,
                            ByteMatrix nodata, std::optional<double> nodataValue) {
    if (!ValidBand(band)) return Status::Failure(" There is no band " + std::to_string(band) + " ");
    loads_[band] = BandLoad{};
    try {
        const ImageSize size{pixels.Lines(), pixels.Columns()};
        const bool marked = !nodata.Empty() && nodata.Size() == pixels.Size();
        if (!marked) nodata = ByteMatrix();
        // The band's statistics by the same pass as every treatment's.
        MemoryStrips source(size, {BandPlane{pixels.SharedCells(), nodata.SharedCells()}});
        Result<BandStatistics> statistics = GatherStatistics(source, Threads());
        if (!statistics) return Status::Failure(statistics.message);
        const Histogram& histogram = statistics.value->histograms[1];
        const int64_t without = statistics.value->withoutData[1];
        const int64_t nonFinite = statistics.value->nonFinite[1];
        const int64_t masked = statistics.value->masked[1];
        const GrayRange range = RangeOfHistogram(histogram);
        std::string filePath = path;

        // Nothing below allocates: the band changes whole or not at all.
        BandData& data = bands[band];
        data.minGray = range.minGray;
        data.maxGray = range.maxGray;
        Lines = size.lines;
        Columns = size.columns;
        data.pixels = std::move(pixels);
        data.nodata = without > 0 ? std::move(nodata) : ByteMatrix();
        data.histogram = histogram;
        records[band].filePath.swap(filePath);
        records[band].stretch.reset();
        records[band].nodata = nodataValue;
        records[band].nodataPixels = without - nonFinite - masked;
        records[band].nonFinitePixels = nonFinite;
        records[band].georeference.reset();
        records[band].rasterBand = 0;
        bandSet.Accept(band, records[band].filePath, size, std::nullopt);
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        return Status::Failure(" Not enough memory to keep the band " + path +
                               " \nThe band was not loaded ");
    }
}

std::optional<ImageSize> Workspace::BandSetSize() const {
    for (int b = 1; b <= kMaximumBands; ++b) {
        const ImageSize size = bandSet.SizeOf(b);
        if (size.lines > 0 || size.columns > 0) return size;
    }
    return std::nullopt;
}

Status Workspace::AddMask(const MaskSource& source, Progress& progress) {
    const std::optional<ImageSize> size = BandSetSize();
    if (!size) return Status::Failure(" Open a band of the band set before its mask ");
    const BandFileType type = ReaderFor(source.path, source.type);
    // The place of the bands loaded, when every one of them lies on the map: a mask of another
    // grid is read onto theirs.
    std::vector<BandRecord> loaded(1);
    for (int b = 1; b <= kMaximumBands; ++b)
        if (bands[b].Loaded()) loaded.push_back(records[b]);
    const std::optional<Georeference> place = SharedGeoreference(loaded);
    const GridPlan grid = PlanOntoGrid(*size, place);
    Result<BandReader> band =
        OpenMaskBand(source.path, type, source.rasterBand, *size, place, grid);
    if (band.cancelled) return Status::Cancelled();
    if (!band) return Status::Failure(band.message);
    for (int b = 1; b <= kMaximumBands; ++b)
        if (bands[b].Loaded() && !loads_[b].Known())
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
    if (Status again = LoadAgain(all, progress); !again) return again;
    maskSources_.push_back(source);
    maskTexts_ = all->Texts();
    maskDescriptions_ = all->Descriptions();
    mask_ = std::move(all);
    return Status::Ok();
}

Status Workspace::LoadAgain(const std::shared_ptr<const PixelMask>& mask, Progress& progress,
                            const SavedTreatment* saved) {
    // The bands as they are, put back whole when one cannot be loaded again.
    std::array<BandData, kMaximumBands + 1> keptBands;
    std::array<BandRecord, kMaximumBands + 1> keptRecords = records;
    std::array<BandLoad, kMaximumBands + 1> keptLoads = loads_;
    const BandFileType keptType = LoadedType;
    const auto restore = [&](Status status) {
        for (int b = 1; b <= kMaximumBands; ++b)
            if (keptBands[b].Loaded()) bands[b] = std::move(keptBands[b]);
        records = keptRecords;
        loads_ = keptLoads;
        LoadedType = keptType;
        return status;
    };
    const std::shared_ptr<const PixelMask> before = mask_;
    mask_ = mask;
    for (int b = 1; b <= kMaximumBands; ++b) {
        if (!bands[b].Loaded()) continue;
        const BandLoad load = keptLoads[b];
        BandLoadOptions options = load.options;
        options.progress = &progress;
        if (load.answer) {
            // The band answered for, with the same answer.
            options.rasterBand = records[b].rasterBand;
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
        keptBands[b] = std::move(bands[b]);
        const Status loaded = LoadBand(b, load.path, load.type, options);
        if (!loaded) {
            mask_ = before;
            return restore(loaded);
        }
    }
    LoadedType = keptType;
    return Status::Ok();
}

Status Workspace::CheckAllBandsLoaded() const {
    for (int b = 1; b <= BandCount && b <= kMaximumBands; ++b)
        if (!bands[b].Loaded()) return Status::Failure(MissingBandMessage(b));
    return Status::Ok();
}

Status Workspace::CheckBandSetComplete() const {
    if (const Status count = CheckBandCount(BandCount); !count) return count;
    return CheckAllBandsLoaded();
}

void Workspace::SetSegmentation(int band, int type, int count,
                                const std::vector<int32_t>& typedUpper) {
    if (!ValidBand(band)) return;
    const BandData& data = bands[band];
    SetBandSegmentation(records[band], data.histogram, GrayRange{data.minGray, data.maxGray}, type,
                        count, typedUpper);
}

Status Workspace::FinishSegmentation(bool, bool, Progress& progress) {
    const int n = BandCount;
    if (n < 1 || n > kMaximumBands) return Status::Failure(" There is no band set to segment ");
    if (Status loaded = CheckAllBandsLoaded(); !loaded) return loaded;
    const ImageSize size{bands[1].pixels.Lines(), bands[1].pixels.Columns()};
    for (int b = 2; b <= n; ++b)
        if (bands[b].pixels.Lines() != size.lines || bands[b].pixels.Columns() != size.columns)
            return Status::Failure(SizeMismatchMessage(
                records[b].filePath, ImageSize{bands[b].pixels.Lines(), bands[b].pixels.Columns()},
                size));

    const RandomBelow randomBefore = random;
    const auto cancel = [&] {
        random = randomBefore;
        return Status::Cancelled();
    };
    try {
        SegmentationResult result;
        result.Begin(n);
        result.masks = maskTexts_;
        result.maskDescriptions = maskDescriptions_;
        result.size = size;
        for (int b = 1; b <= n; ++b) {
            result.records[b] = records[b];
            result.histograms[b] = bands[b].histogram;
            result.ranges[b] = GrayRange{bands[b].minGray, bands[b].maxGray};
        }
        result.planes = PlanesOf(bands, n);
        if (!progress.Step(kStageNumbering, 0, n)) return cancel();
        if (Status finished = tessera::FinishSegmentation(result, random); !finished)
            return finished;
        for (int b = 1; b < n; ++b)
            if (!progress.Step(kStageNumbering, b, n)) return cancel();
        // The segmented window shows the last band.
        std::optional<ByteMatrix> shown = ByteMatrix::CreateUnfilled(size.columns, size.lines);
        if (!shown) throw std::bad_alloc();
        MemoryStrips source = result.Strips();
        const Status numbered = source.ForEachStrip(Threads(), [&](int, int, const Strip& strip) {
            for (int i = 0; i < strip.count; ++i)
                NumberLine(result, n, strip.Gray(n - 1, i), strip.Marks(n - 1, i), size.columns,
                           (*shown)[strip.first + i]);
            return Status::Ok();
        });
        if (!numbered) return Status::Failure(numbered.message);
        if (!progress.Step(kStageNumbering, n, n)) return cancel();
        // A diagnostic list that nothing reads: a folder that refuses it changes nothing.
        if (!CodeListFolder.empty())
            WriteMultiTab(JoinPath(CodeListFolder, kMultiTabName), result.table);

        result.bandSetNumber = BandSetNumber;
        segmentation = std::move(result);
        ShownSegmentMatrix = std::move(*shown);
        CurrentSegmentedBand = n;
        PaletteMode = 1;
        Advance(StepBandsSegmented);
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        random = randomBefore;
        return Status::Failure(std::string(kMemoryRefusal) +
                               "to segment the bands \nThe earlier results are kept ");
    }
}

Result<CodeCounts> Workspace::CountCodes(Progress& progress) const {
    using R = Result<CodeCounts>;
    if (!segmentation) return R::Failure(" The bands are not segmented ");
    try {
        MemoryStrips source = segmentation->Strips();
        Result<CodeTally> tally = tessera::CountCodes(source, *segmentation, Threads(), &progress);
        if (tally.cancelled) return R::Cancelled();
        if (!tally) return R::Failure(tally.message);
        CodeCounts counts;
        counts.PixelCount = std::move(tally.value->pixelCount);
        counts.withoutData = tally.value->withoutData;
        counts.masked = tally.value->masked;
        return R::Of(std::move(counts));
    } catch (const std::bad_alloc&) {
        return R::Failure(std::string(kMemoryRefusal) + "to cross the bands ");
    }
}

Status Workspace::FinishCrossing(CodeCounts counts, std::vector<int32_t> selectedCodes, bool,
                                 Progress& progress) {
    return Cross(
        std::move(counts),
        [&](Treatment& result) {
            return tessera::FinishCrossing(result, random, std::move(selectedCodes));
        },
        progress);
}

Status Workspace::ApplyTreatment(const SavedTreatment& saved, const std::string& path,
                                 Progress& progress) {
    if (Status complete = CheckBandSetComplete(); !complete) return complete;
    if (Status fits = CheckTreatmentBandCount(saved, path, BandCount); !fits) return fits;
    for (int b = 1; b <= BandCount; ++b) {
        const std::string dataType = records[b].stretch ? records[b].stretch->dataType : "Byte";
        if (Status fits = CheckTreatmentBand(saved, path, b, records[b].filePath, dataType); !fits)
            return fits;
    }
    if (Status loaded = LoadAgain(mask_, progress, &saved); !loaded) return loaded;
    TakeSavedSegmentation(records.data(), BandCount, saved);
    if (Status segmented = FinishSegmentation(true, false, progress); !segmented) return segmented;
    Result<CodeCounts> counts = CountCodes(progress);
    if (counts.cancelled) return Status::Cancelled();
    if (!counts) return Status::Failure(counts.message);
    return Cross(
        std::move(*counts.value),
        [&](Treatment& result) { return TakeSavedClasses(result, saved, path); }, progress);
}

Status Workspace::Cross(CodeCounts counts, const std::function<Status(Treatment&)>& classes,
                        Progress& progress) {
    if (!segmentation) return Status::Failure(" The bands are not segmented ");
    const RandomBelow randomBefore = random;
    auto cancelled = [&](int done) {
        if (progress.Step(kStagePainting, done, 3)) return false;
        random = randomBefore;
        return true;
    };
    try {
        CrossingResult result;
        static_cast<Treatment&>(result) = *segmentation;
        result.size = segmentation->size;
        result.bandSetNumber = segmentation->bandSetNumber;
        TakeCounts(result,
                   CodeTally{std::move(counts.PixelCount), counts.withoutData, counts.masked, {}});
        if (Status finished = classes(result); !finished) return finished;
        if (cancelled(0)) return Status::Cancelled();
        const ImageSize size = result.size;
        std::optional<ByteMatrix> classes = ByteMatrix::CreateUnfilled(size.columns, size.lines);
        if (!classes) throw std::bad_alloc();
        if (cancelled(1)) return Status::Cancelled();
        MemoryStrips source = segmentation->Strips();
        const Status classified = ClassifyStrips(
            source, result, Threads(), [&](int, int, const Strip& strip, const uint8_t* lines) {
                std::memcpy((*classes)[strip.first], lines,
                            static_cast<size_t>(strip.count) * size.columns);
                return Status::Ok();
            });
        if (!classified) throw std::bad_alloc();
        if (cancelled(2)) return Status::Cancelled();
        result.ClassImage = std::move(*classes);

        crossing = std::move(result);
        PaletteMode = 2;
        Advance(StepBandsCrossed);
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        random = randomBefore;
        return Status::Failure(std::string(kMemoryRefusal) +
                               "to make the classes \nThe earlier result is kept ");
    }
}

ByteMatrix Workspace::SegmentNumbers(int band) const {
    if (!segmentation || band < 1 || band > segmentation->BandCount()) return ByteMatrix();
    const ImageSize size = segmentation->size;
    std::optional<ByteMatrix> numbers = ByteMatrix::CreateUnfilled(size.columns, size.lines);
    if (!numbers) return ByteMatrix();
    const BandPlane& plane = segmentation->planes[band - 1];
    const size_t columns = static_cast<size_t>(size.columns);
    for (int y = 0; y < size.lines; ++y)
        NumberLine(*segmentation, band, plane.gray.get() + columns * y,
                   plane.marks ? plane.marks.get() + columns * y : nullptr, size.columns,
                   (*numbers)[y]);
    return std::move(*numbers);
}

void Workspace::ShowSegmentedBand(int band) {
    if (!segmentation || band < 1 || band > segmentation->BandCount()) return;
    ByteMatrix numbers = SegmentNumbers(band);
    const ImageSize size = segmentation->size;
    if (numbers.Empty() && size.lines > 0 && size.columns > 0)
        return;  // no memory: the shown band stays the one before
    // A new block: the one shown until now may still be on screen.
    ShownSegmentMatrix = std::move(numbers);
    CurrentSegmentedBand = band;
}

Status Workspace::SaveSegmented(const std::string& stem, Progress& progress) const {
    if (!segmentation) return Status::Failure(" There is no segmented band to save ");
    const ByteMatrix& numbers = ShownSegmentMatrix;
    return SaveSegmentNumbers(stem, ImageSize{numbers.Lines(), numbers.Columns()}, numbers.Data(),
                              segmentation->SegmentColourTable, progress);
}

Status Workspace::SaveResult(const std::string& stem, Progress& progress) const {
    if (!crossing) return Status::Failure(" There is no result to save ");
    return SaveClasses(stem, *crossing, crossing->size, crossing->ClassImage.Data(), "tessera",
                       progress);
}

}  // namespace tessera
