#include "workspace/workspace.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "crossing/crossing.h"
#include "crossing/maplegend.h"
#include "crossing/mapresult.h"
#include "crossing/report.h"
#include "support/paths.h"
#include "support/safefile.h"

namespace tessera {

namespace {

bool ValidBand(int band) {
    return band >= 1 && band <= kMaximumBands;
}

}  // namespace

Status CollectedSaveStatus(const std::vector<std::string>& failedFiles) {
    if (failedFiles.empty()) return Status::Ok();
    std::string message = " These files could not be written:";
    for (const std::string& name : failedFiles) message += "\n" + name;
    message += " ";
    return Status::Failure(message);
}

namespace {

// The files of one save: each is written whole under a temporary name beside its target, and
// all are put in place together at the end, so that a cancelled save leaves no file behind and
// the earlier files of those names as they were. A file that could not be written is named in
// the "CAUTION" text; the others are still saved.
class SavedFiles {
  public:
    SavedFiles(Progress& progress, int count) : progress_(progress), count_(count) {}
    ~SavedFiles() {
        for (const Staged& file : staged_) ::unlink(file.temporary.c_str());
    }
    SavedFiles(const SavedFiles&) = delete;
    SavedFiles& operator=(const SavedFiles&) = delete;

    void Write(const std::string& target, const std::function<bool(const std::string&)>& write) {
        if (cancelled_ || !progress_.Step(kStageSaving, written_++, count_ + 1)) {
            cancelled_ = true;
            return;
        }
        const std::string place = FileBehind(target);
        std::string name(1, '.');
        name.append(BaseNameOf(place)).append(".saving-").append(std::to_string(::getpid()));
        const std::string temporary =
            JoinPath(DirectoryOf(place).empty() ? "." : DirectoryOf(place), name);
        if (write(temporary)) {
            staged_.push_back({temporary, place, target});
        } else {
            ::unlink(temporary.c_str());
            failed_.push_back(target);
        }
    }

    Status PutInPlace() {
        if (cancelled_ || !progress_.Step(kStageSaving, written_, count_ + 1)) return Status::Cancelled();
        for (const Staged& file : staged_)
            if (::rename(file.temporary.c_str(), file.place.c_str()) != 0)
                failed_.push_back(file.target);
        staged_.clear();
        return CollectedSaveStatus(failed_);
    }

  private:
    struct Staged {
        std::string temporary, place, target;
    };
    Progress& progress_;
    int count_;
    std::vector<Staged> staged_;
    std::vector<std::string> failed_;
    int written_ = 0;
    bool cancelled_ = false;
};

}  // namespace

void Workspace::BeginBandSet(int bandCount) {
    BandCount = bandCount;
    CurrentBand = bandCount;
    sequenceSizes.fill(ImageSize{});
}

int64_t InteractiveMemoryNeed(ImageSize size, int bandCount) {
    // Per band: pixels, display copy, segment numbers and segmented picture (3 bytes). Per set:
    // codes (4), classes, result picture (3), the shown segment numbers and the three windows'
    // pictures (3 each).
    const int bands = std::clamp(bandCount, 1, kMaximumBands);
    const int64_t pixels = int64_t{size.lines} * size.columns;
    return pixels * (6 * bands + 18);
}

Status Workspace::CheckMemoryFor(const std::string& path, ImageSize size,
                                 int64_t physicalBytes) const {
    return CheckMemoryNeed(path, size, InteractiveMemoryNeed(size, BandCount), physicalBytes);
}

Status Workspace::CheckMemoryNeed(const std::string& path, ImageSize size, int64_t needed,
                                  int64_t physicalBytes) const {
    if (physicalBytes <= 0) {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGESIZE);
        if (pages <= 0 || pageSize <= 0) return Status::Ok();  // unknown: nothing to compare
        physicalBytes = static_cast<int64_t>(pages) * pageSize;
    }
    const int bands = std::clamp(BandCount, 1, kMaximumBands);
    // Leave a quarter of the machine to the system and the other programs.
    if (needed <= physicalBytes / 4 * 3) return Status::Ok();
    const auto gib = [](int64_t bytes) { return std::to_string((bytes + (1 << 29)) >> 30); };
    return Status::Failure("The band set of " + std::to_string(bands) + " bands of " +
                           std::to_string(size.lines) + " lines x " + std::to_string(size.columns) +
                           " columns of\n" + path + "\nwould need about " + gib(needed) +
                           " GiB of memory, more than this machine can give it (" +
                           gib(physicalBytes) + " GiB in all).");
}

Status Workspace::CheckBandSize(int band, const std::string& path, ImageSize size) const {
    for (int b = 1; b <= kMaximumBands; ++b) {
        if (b == band) continue;
        const ImageSize loaded = sequenceSizes[b];
        if (loaded.lines == 0 && loaded.columns == 0) continue;
        if (loaded != size) return Status::Failure(SizeMismatchMessage(path, size, loaded));
    }
    return Status::Ok();
}

Result<BandReader> Workspace::OpenBandFile(int band, const std::string& path, BandFileType type,
                                           const BandLoadOptions& options) const {
    using R = Result<BandReader>;
    auto accepted = [&](ImageSize size) -> Status {
        if (Status same = CheckBandSize(band, path, size); !same) return same;
        if (!options.checkMemory) return Status::Ok();
        if (options.memoryNeed)
            return CheckMemoryNeed(path, size, options.memoryNeed(size, BandCount));
        return CheckMemoryFor(path, size);
    };
    if (type == BandFileType::Bitmap) {
        Result<BandReader> file = OpenBitmapBand(path);
        if (!file) return file;
        if (const Status fits = accepted(file.value->Size()); !fits)
            return R::Failure(fits.message);
        if (options.nodata) file.value->SetNodata(options.nodata);
        return file;
    }
    if (type == BandFileType::Raster) {
        // The size is checked before a band of more than 8 bits is read through for its range.
        Result<BandReader> file = OpenRasterBand(path, options.rasterBand);
        if (!file) return file;
        BandReader& reader = *file.value;
        if (const Status fits = accepted(reader.Size()); !fits) return R::Failure(fits.message);
        if (const Status placed = CheckGeoreference(band, path, reader.Georef()); !placed)
            return R::Failure(placed.message);
        if (options.nodata) reader.SetNodata(options.nodata);
        std::optional<StretchRange> stretch = options.stretch;
        if (options.askRaster) {
            BandLoadOptions::RasterQuestion proposed;
            proposed.dataType = reader.Raster()->DataType();
            proposed.stretched = !reader.Raster()->IsByte();
            proposed.stretch = stretch;
            proposed.nodata = reader.Nodata();
            const std::optional<BandLoadOptions::RasterQuestion> answer =
                options.askRaster(proposed);
            if (!answer) return R::Cancelled();
            stretch = answer->stretch;
            reader.SetNodata(answer->nodata);
        }
        // Bounded to what reading this band a strip at a time needs; a job that reads several
        // bands at once bounds it again for all of them.
        BoundRasterCache(RasterCacheNeed({&reader}));
        if (stretch || !options.ownStretchLater) {
            if (const Status stretched = reader.ChooseStretch(stretch); !stretched)
                return R::Failure(stretched.message);
        }
        return file;
    }
    const std::string descriptorPath = ReplaceExtension(path, ".txt");
    const DescriptorRead descriptor = ReadDescriptor(descriptorPath);
    if (descriptor.outcome == DescriptorRead::Malformed)
        return R::Failure(DescriptorMalformedMessage(descriptorPath));
    ImageSize size = descriptor.size;
    if (descriptor.outcome == DescriptorRead::Missing) {
        const std::optional<ImageSize> asked = options.askSize ? options.askSize() : std::nullopt;
        if (!asked)
            return R::Failure("The raw image " + path + " has no descriptor " + descriptorPath +
                              " giving its number of lines and columns.");
        size = *asked;
    }
    if (const Status valid = CheckImageSize(size); !valid)
        return R::Failure("The raw image\n" + path + "\ncannot be loaded: " + valid.message + ".");
    if (const Status opens = CheckRawFileSize(path, size); !opens) return R::Failure(opens.message);
    if (const Status fits = accepted(size); !fits) return R::Failure(fits.message);
    // The size asked for is kept only for a band that is accepted, before its pixels are
    // read: a refused size must not come back as the file's descriptor next time.
    if (descriptor.outcome == DescriptorRead::Missing) {
        const Status written = WriteWholeFile(descriptorPath, ShortDescriptorText(size));
        if (!written)
            return R::Failure(DescriptorNotWrittenMessage(descriptorPath, written.message));
    }
    Result<BandReader> file = OpenRawBand(path, size);
    if (file && options.nodata) file.value->SetNodata(options.nodata);
    return file;
}

Status Workspace::CheckGeoreference(int band, const std::string& path,
                                    const std::optional<Georeference>& place) const {
    if (!place) return Status::Ok();
    for (int b = 1; b <= kMaximumBands; ++b) {
        if (b == band || !records[b].georeference) continue;
        const ImageSize loaded = sequenceSizes[b];
        if (loaded.lines == 0 && loaded.columns == 0) continue;
        const std::string difference = GeoreferenceDifference(*records[b].georeference, *place);
        if (difference.empty()) continue;
        return Status::Failure("Band " + std::to_string(band) + "\n" + path + "\nand band " +
                               std::to_string(b) + "\n" + records[b].filePath +
                               "\ndo not lie on the same place of the map: " + difference +
                               ". The band was not loaded.");
    }
    return Status::Ok();
}

Status Workspace::LoadBand(int band, const std::string& path, BandFileType type,
                           const BandLoadOptions& options) {
    Progress& progress = options.progress ? *options.progress : NoProgress();
    if (type == BandFileType::Bitmap && !progress.Step(kStageLoading, 0, 1))
        return Status::Cancelled();
    const Result<BandReader> file = OpenBandFile(band, path, type, options);
    if (file.cancelled) return Status::Cancelled();
    if (!file) return Status::Failure(file.message);
    // A raw band tells how its reading goes, piece by piece; a bitmap is read at once.
    ByteMatrix nodata;
    Result<ByteMatrix> pixels =
        file.value->ReadAll(type == BandFileType::Raw ? progress : NoProgress(), &nodata);
    if (pixels.cancelled) return Status::Cancelled();
    if (!pixels) return Status::Failure(pixels.message);
    if (!nodata.Empty() &&
        std::find(nodata.Data(), nodata.Data() + nodata.Size(), uint8_t{0}) ==
            nodata.Data() + nodata.Size())
        return Status::Failure(file.value->Refusal(AllNodataReason(
            file.value->Nodata(), file.value->Raster() && file.value->Raster()->IsFloating())));
    if (!progress.Step(kStageLoading, 1, 1)) return Status::Cancelled();
    const Status stored = StoreBand(band, path, std::move(*pixels.value), options.makeImage,
                                    std::move(nodata), file.value->Nodata());
    if (stored) {
        records[band].stretch = file.value->Stretch();
        records[band].georeference = file.value->Georef();
        records[band].rasterBand = type == BandFileType::Raster ? options.rasterBand : 0;
    }
    return stored;
}

Status Workspace::StoreBand(int band, const std::string& path, ByteMatrix pixels, bool makeImage,
                            ByteMatrix nodata, std::optional<double> nodataValue) {
    if (!ValidBand(band)) return Status::Failure(" There is no band " + std::to_string(band) + " ");
    try {
        Histogram histogram = ComputeHistogram(pixels);
        const bool marked = !nodata.Empty() && nodata.Size() == pixels.Size();
        const int64_t without =
            marked ? RemoveNodata(pixels.Data(), nodata.Data(), pixels.Size(), histogram) : 0;
        const int64_t nonFinite =
            without > 0 ? CountMarks(nodata.Data(), nodata.Size(), kNonFiniteMark) : 0;
        const GrayRange range = RangeOfHistogram(histogram);
        GrayImage image;
        if (makeImage) {
            // The display copy is made in one pass from the pixels, not zero-filled first.
            image.width = pixels.Columns();
            image.height = pixels.Lines();
            image.kind = GrayKind;
            image.pixels.reserve(pixels.Size());
            AdviseHugePages(image.pixels.data(), image.pixels.capacity());
            image.pixels.assign(pixels.Data(), pixels.Data() + pixels.Size());
        }
        std::string filePath = path;

        // Nothing below allocates: the band changes whole or not at all.
        BandData& data = bands[band];
        data.minGray = range.minGray;
        data.maxGray = range.maxGray;
        Lines = pixels.Lines();
        Columns = pixels.Columns();
        sequenceSizes[band] = ImageSize{pixels.Lines(), pixels.Columns()};
        data.pixels = std::move(pixels);
        data.image = std::move(image);
        data.nodata = without > 0 ? std::move(nodata) : ByteMatrix();
        data.histogram = histogram;
        records[band].filePath.swap(filePath);
        records[band].stretch.reset();
        records[band].nodata = nodataValue;
        records[band].nodataPixels = without - nonFinite;
        records[band].nonFinitePixels = nonFinite;
        records[band].georeference.reset();
        records[band].rasterBand = 0;
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        return Status::Failure(" Not enough memory to keep the band " + path +
                               " \nThe band was not loaded ");
    }
}

std::optional<int64_t> Workspace::NodataPixels(int n) const {
    bool declared = false;
    std::vector<const ByteMatrix*> marks;
    for (int b = 1; b <= n && b <= kMaximumBands; ++b) {
        declared = declared || records[b].nodata.has_value() || records[b].nonFinitePixels > 0;
        if (!bands[b].nodata.Empty()) marks.push_back(&bands[b].nodata);
    }
    if (!declared) return std::nullopt;
    if (marks.empty()) return 0;
    if (marks.size() == 1) {
        // Only the band with marks lacks any pixel.
        int64_t count = 0;
        for (int b = 1; b <= n; ++b)
            count += records[b].nodataPixels + records[b].nonFinitePixels;
        return count;
    }
    // A line at a time: a pixel counts once however many bands lack it.
    const ByteMatrix& first = *marks[0];
    std::vector<uint8_t> line(static_cast<size_t>(first.Columns()));
    int64_t count = 0;
    for (int y = 0; y < first.Lines(); ++y) {
        std::copy(first[y], first[y] + first.Columns(), line.begin());
        for (size_t m = 1; m < marks.size(); ++m) {
            const uint8_t* other = (*marks[m])[y];
            for (size_t x = 0; x < line.size(); ++x) line[x] |= other[x];
        }
        for (uint8_t mark : line) count += mark != 0;
    }
    return count;
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
    try {
        SegmentLimits limits = BandSegmentLimits(
            type, count, typedUpper, GrayRange{data.minGray, data.maxGray}, data.histogram);
        BandRecord& record = records[band];
        record.thresholdingType = type;
        record.segmentCount = count;
        record.segmentLimits = std::move(limits);
    } catch (const std::bad_alloc&) {
        // Lists of at most 255 entries: left as they were should this ever fail.
    }
}

Status Workspace::FinishSegmentation(bool makeImages, bool consumePixels, Progress& progress) {
    const int n = BandCount;
    if (n < 1 || n > kMaximumBands) return Status::Failure(" There is no band set to segment ");
    if (Status loaded = CheckAllBandsLoaded(); !loaded) return loaded;
    const int lines = bands[1].pixels.Lines();
    const int columns = bands[1].pixels.Columns();
    for (int b = 2; b <= n; ++b)
        if (bands[b].pixels.Lines() != lines || bands[b].pixels.Columns() != columns)
            return Status::Failure(SizeMismatchMessage(
                records[b].filePath, ImageSize{bands[b].pixels.Lines(), bands[b].pixels.Columns()},
                ImageSize{lines, columns}));

    const RandomBelow randomBefore = random;
    try {
        std::vector<int32_t> counts(static_cast<size_t>(n) + 1, 0);
        for (int b = 1; b <= n; ++b) counts[b] = records[b].segmentCount;
        Result<CodeTable> table = BuildCodeTable(counts);
        if (!table) return Status::Failure(table.message);

        SegmentationResult result;
        result.size = ImageSize{lines, columns};
        result.records.assign(records.begin(), records.begin() + n + 1);
        result.table = std::move(*table.value);
        result.SegmentColourTable = BuildSegmentColourTable(random);
        result.SegmentNumberMatrix.resize(static_cast<size_t>(n) + 1);
        if (makeImages) result.SegmentedImage.resize(static_cast<size_t>(n) + 1);

        for (int b = 1; b <= n; ++b) {
            // Only the batch tool numbers the pixels in place, and it does not cancel.
            if (!consumePixels && !progress.Step(kStageNumbering, b - 1, n)) {
                random = randomBefore;
                return Status::Cancelled();
            }
            const SegmentLookup lookup = SegmentLookupTable(records[b].segmentLimits);
            ByteMatrix& numbers = result.SegmentNumberMatrix[b];
            if (consumePixels) {
                // The batch tool needs the gray levels no more: one matrix per band suffices.
                NumberSegments(bands[b].pixels, lookup, bands[b].pixels);
                numbers = std::move(bands[b].pixels);
                bands[b].pixels = ByteMatrix();
            } else {
                // NumberSegments writes every cell.
                std::optional<ByteMatrix> made = ByteMatrix::CreateUnfilled(columns, lines);
                if (!made) throw std::bad_alloc();
                numbers = std::move(*made);
                NumberSegments(bands[b].pixels, lookup, numbers);
            }
            const ByteMatrix& nodata = bands[b].nodata;
            if (!nodata.Empty()) ClearNodata(nodata.Data(), nodata.Size(), numbers.Data());
            if (makeImages) {
                std::optional<GrayImage> picture = PaintByTable(numbers, result.SegmentColourTable);
                if (!picture) throw std::bad_alloc();
                result.SegmentedImage[b] = std::move(*picture);
            }
        }
        if (!consumePixels && !progress.Step(kStageNumbering, n, n)) {
            random = randomBefore;
            return Status::Cancelled();
        }
        result.nodataPixels = NodataPixels(n);
        ByteMatrix shown = result.SegmentNumberMatrix[n];
        // A diagnostic list that nothing reads: a folder that refuses it changes nothing.
        WriteMultiTab(JoinPath(DirectoryOf(records[1].filePath), kMultiTabName), result.table);

        segmentation = std::move(result);
        ShownSegmentMatrix = std::move(shown);
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
    if (!segmentation) return Result<CodeCounts>::Failure(" The bands are not segmented ");
    // Tells a cancel from a refusal of the counting.
    class Watch : public Progress {
      public:
        explicit Watch(Progress& outer) : outer_(outer) {}
        bool Step(const char* stage, int64_t done, int64_t total) override {
            if (!outer_.Step(stage, done, total)) cancelled = true;
            return !cancelled;
        }
        bool cancelled = false;

      private:
        Progress& outer_;
    } watch(progress);
    try {
        std::vector<const ByteMatrix*> numbers;
        for (size_t b = 1; b < segmentation->SegmentNumberMatrix.size(); ++b)
            numbers.push_back(&segmentation->SegmentNumberMatrix[b]);
        std::optional<CodeCounts> counts = tessera::CountCodes(numbers, segmentation->table, watch);
        if (watch.cancelled) return Result<CodeCounts>::Cancelled();
        if (!counts)
            return Result<CodeCounts>::Failure(std::string(kMemoryRefusal) + "to cross the bands ");
        return Result<CodeCounts>::Of(std::move(*counts));
    } catch (const std::bad_alloc&) {
        return Result<CodeCounts>::Failure(std::string(kMemoryRefusal) + "to cross the bands ");
    }
}

Status Workspace::FinishCrossing(CodeCounts counts, std::vector<int32_t> selectedCodes,
                                 bool makeImage, Progress& progress) {
    if (!segmentation) return Status::Failure(" The bands are not segmented ");
    const RandomBelow randomBefore = random;
    auto cancelled = [&](int done) {
        if (progress.Step(kStagePainting, done, 3)) return false;
        random = randomBefore;
        return true;
    };
    try {
        CrossingResult result;
        result.ClassColorTable = BuildClassColourTable(random);
        if (cancelled(0)) return Status::Cancelled();
        std::optional<ByteMatrix> classes =
            MakeClassImage(counts.CodeImage, selectedCodes, segmentation->table.CodeCount);
        if (!classes) throw std::bad_alloc();
        if (cancelled(1)) return Status::Cancelled();
        counts.CodeImage = IntMatrix();  // the codes are no longer needed: free them early
        result.ClassImage = std::move(*classes);
        if (makeImage) {
            std::optional<GrayImage> picture =
                PaintByTable(result.ClassImage, result.ClassColorTable);
            if (!picture) throw std::bad_alloc();
            result.resultImage = std::move(*picture);
        }
        if (cancelled(2)) return Status::Cancelled();
        result.size = segmentation->size;
        result.records = segmentation->records;
        result.table = segmentation->table;
        result.PixelCount = std::move(counts.PixelCount);
        result.nodataPixels = segmentation->nodataPixels;
        result.ClassCount = selectedCodes.empty() ? 0 : static_cast<int>(selectedCodes.size()) - 1;
        result.SelectedCodes = std::move(selectedCodes);

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

void Workspace::ShowSegmentedBand(int band) {
    if (!segmentation || band < 1 ||
        band >= static_cast<int>(segmentation->SegmentNumberMatrix.size()))
        return;
    const ByteMatrix& numbers = segmentation->SegmentNumberMatrix[band];
    if (ShownSegmentMatrix.Lines() == numbers.Lines() &&
        ShownSegmentMatrix.Columns() == numbers.Columns()) {
        std::copy(numbers.Data(), numbers.Data() + numbers.Size(), ShownSegmentMatrix.Data());
    } else {
        try {
            ShownSegmentMatrix = numbers;
        } catch (const std::bad_alloc&) {
            return;  // the shown band stays the one before
        }
    }
    CurrentSegmentedBand = band;
}

Status Workspace::SaveSegmented(const std::string& stem, Progress& progress) const {
    if (!segmentation) return Status::Failure(" There is no segmented band to save ");
    try {
        const ByteMatrix& numbers = ShownSegmentMatrix;
        const ImageSize size{numbers.Lines(), numbers.Columns()};
        SavedFiles files(progress, 3);
        files.Write(stem + ".bmp", [&](const std::string& path) {
            return WriteBitmapFile(path, numbers, size.columns, size.lines, PaletteKind,
                                   segmentation->SegmentColourTable) == 0;
        });
        files.Write(stem + ".txt", [&](const std::string& path) {
            return WriteWholeFile(path, LongDescriptorText(size)).ok;
        });
        files.Write(stem + ".raw",
                    [&](const std::string& path) { return WriteRawImage(path, numbers).ok; });
        return files.PutInPlace();
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to save " + stem + " ");
    }
}

Status Workspace::SaveResult(const std::string& stem, Progress& progress) const {
    if (!crossing) return Status::Failure(" There is no result to save ");
    try {
        const CrossingResult& result = *crossing;
        const std::optional<Georeference> place = SharedGeoreference(result.records);
        SavedFiles files(progress, place ? 7 : 3);
        files.Write(stem + ".bmp", [&](const std::string& path) {
            return WriteBitmapFile(path, result.ClassImage, result.size.columns, result.size.lines,
                                   PaletteKind, result.ClassColorTable) == 0;
        });
        files.Write(stem + ".txt", [&](const std::string& path) {
            const std::string text =
                ResultReport(result.size, result.records, result.table, result.PixelCount,
                             result.SelectedCodes, result.nodataPixels);
            return !text.empty() && WriteWholeFile(path, text).ok;
        });
        files.Write(stem + ".raw", [&](const std::string& path) {
            return WriteRawImage(path, result.ClassImage).ok;
        });
        if (place) {
            // Bands that lie on the map: the classes go back on it, with their legend.
            const ClassTable classes = MakeClassTable(
                result.size, result.records, result.table, result.PixelCount,
                result.SelectedCodes, result.nodataPixels, result.ClassImage.Data(), *place);
            files.Write(stem + ".tif", [&](const std::string& path) {
                return WriteClassGeoTiff(path, result.size, result.ClassImage.Data(),
                                         result.ClassColorTable, *place,
                                         TreatmentMetadata("tessera", result.records,
                                                           result.selection, result.ClassCount));
            });
            files.Write(stem + ".csv", [&](const std::string& path) {
                return WriteWholeFile(path, ClassTableCsv(classes)).ok;
            });
            files.Write(stem + kLegendSuffix, [&](const std::string& path) {
                return WriteWholeFile(path, ClassRasterLegend(classes, result.ClassColorTable)).ok;
            });
            files.Write(stem + kStyleSuffix, [&](const std::string& path) {
                return WriteWholeFile(path, ClassRasterStyle(classes, result.ClassColorTable)).ok;
            });
        }
        return files.PutInPlace();
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to save " + stem + " ");
    }
}

}  // namespace tessera
