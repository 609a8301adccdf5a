#include "workspace/workspace.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "crossing/codetable.h"
#include "support/paths.h"
#include "workspace/treatmentapply.h"

namespace tessera {

void Workspace::BeginBandSet(int bandCount) {
    loading_.Begin(bandCount);
    currentBand_ = bandCount;
    ++bandSetNumber_;
}

void Workspace::NoteBandFile(const std::string& path, BandFileType type) {
    openPath_ = path;
    if (ReaderFor(path, type) == BandFileType::Raw) saveDirectory_ = DirectoryOf(path);
}

std::string Workspace::LastBandFolder() const {
    const std::string band = DirectoryOf(openPath_);
    return band.empty() ? saveDirectory_ : band;
}

Status Workspace::CheckBandSetComplete() const {
    if (const Status count = CheckBandCount(BandCount()); !count) return count;
    return CheckAllBandsLoaded();
}

void Workspace::SetSegmentation(int band, int type, int count,
                                const std::vector<int32_t>& typedUpper) {
    if (band < 1 || band > kMaximumBands) return;
    const BandData& data = Band(band);
    SetBandSegmentation(loading_.Records()[band], data.histogram,
                        GrayRange{data.minGray, data.maxGray}, type, count, typedUpper);
}

Status Workspace::FinishSegmentation(Progress& progress) {
    const int n = BandCount();
    if (n < 1 || n > kMaximumBands) return Status::Failure(" There is no band set to segment ");
    if (Status loaded = CheckAllBandsLoaded(); !loaded) return loaded;
    const ImageSize size{Band(1).pixels.Lines(), Band(1).pixels.Columns()};
    for (int b = 2; b <= n; ++b)
        if (Band(b).pixels.Lines() != size.lines || Band(b).pixels.Columns() != size.columns)
            return Status::Failure(SizeMismatchMessage(
                Record(b).filePath, ImageSize{Band(b).pixels.Lines(), Band(b).pixels.Columns()},
                size));

    const RandomBelow randomBefore = random;
    const auto cancel = [&] {
        random = randomBefore;
        return Status::Cancelled();
    };
    try {
        SegmentationResult result;
        result.Begin(n);
        result.masks = loading_.MaskTexts();
        result.maskDescriptions = loading_.MaskDescriptions();
        result.size = size;
        for (int b = 1; b <= n; ++b) {
            result.records[b] = Record(b);
            result.histograms[b] = Band(b).histogram;
            result.ranges[b] = GrayRange{Band(b).minGray, Band(b).maxGray};
        }
        result.planes = loading_.Planes();
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
        if (!codeListFolder_.empty())
            WriteMultiTab(JoinPath(codeListFolder_, kMultiTabName), result.table);

        result.bandSetNumber = bandSetNumber_;
        segmentation = std::move(result);
        ShownSegmentMatrix = std::move(*shown);
        CurrentSegmentedBand = n;
        palette_ = PaletteMode::Segments;
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
        counts.pixelCount = std::move(tally.value->pixelCount);
        counts.withoutData = tally.value->withoutData;
        counts.masked = tally.value->masked;
        return R::Of(std::move(counts));
    } catch (const std::bad_alloc&) {
        return R::Failure(std::string(kMemoryRefusal) + "to cross the bands ");
    }
}

Status Workspace::FinishCrossing(CodeCounts counts, std::vector<int32_t> selectedCodes,
                                 Progress& progress, std::optional<CodeSelection> selection) {
    return Cross(
        std::move(counts),
        [&](Treatment& result) {
            result.selection = selection;
            return tessera::FinishCrossing(result, random, std::move(selectedCodes));
        },
        progress);
}

Status Workspace::ApplyTreatment(const SavedTreatment& saved, const std::string& path,
                                 Progress& progress) {
    if (Status complete = CheckBandSetComplete(); !complete) return complete;
    const int n = BandCount();
    if (Status fits = CheckTreatmentBandCount(saved, path, n); !fits) return fits;
    for (int b = 1; b <= n; ++b) {
        const std::string dataType = Record(b).stretch ? Record(b).stretch->dataType : "Byte";
        if (Status fits = CheckTreatmentBand(saved, path, b, Record(b).filePath, dataType); !fits)
            return fits;
    }
    if (Status loaded = loading_.LoadAgain(saved, progress, Threads()); !loaded) return loaded;
    TakeSavedSegmentation(loading_.Records().data(), n, saved);
    if (Status segmented = FinishSegmentation(progress); !segmented) return segmented;
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
                   CodeTally{std::move(counts.pixelCount), counts.withoutData, counts.masked, {}});
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
        result.classImage = std::move(*classes);

        crossing = std::move(result);
        palette_ = PaletteMode::Classes;
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
                              segmentation->segmentColourTable, progress);
}

Status Workspace::SaveResult(const std::string& stem, Progress& progress) const {
    if (!crossing) return Status::Failure(" There is no result to save ");
    return SaveClasses(stem, *crossing, crossing->size, crossing->classImage.Data(), "tessera",
                       progress);
}

}  // namespace tessera
