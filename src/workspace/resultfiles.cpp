#include "workspace/resultfiles.h"

#include <sys/uio.h>

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <mutex>
#include <new>

#include "crossing/codetable.h"
#include "crossing/maplegend.h"
#include "crossing/report.h"
#include "image/rawfiles.h"
#include "support/parallel.h"

namespace tessera {

namespace {

// A text staged as every file of a save is; false when it could not be.
bool StageText(StagedFile& file, const std::string& path, const std::string& text) {
    return !text.empty() && file.Open(path) && file.WriteAt(0, text.data(), text.size());
}

// Turns taken strip by strip in their order: Wait(k) returns once strips 0..k - 1 are done,
// or false once the turns were abandoned (a strip failed), so that no thread waits forever.
class StripTurns {
  public:
    bool Wait(int strip) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return next_ == strip || abandoned_; });
        return !abandoned_;
    }
    void Done() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++next_;
        }
        changed_.notify_all();
    }
    void Abandon() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            abandoned_ = true;
        }
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int next_ = 0;
    bool abandoned_ = false;
};

}  // namespace

Status CollectedSaveStatus(const std::vector<std::string>& failedFiles) {
    if (failedFiles.empty()) return Status::Ok();
    std::string message = " These files could not be written:";
    for (const std::string& name : failedFiles) message += "\n" + name;
    message += " \nNone of the files of this save was kept; the earlier files are as they were ";
    return Status::Failure(message);
}

// ----- RasterPair -----

RasterPair::RasterPair(const std::string& stem, ImageSize size, const ColourTable& colours,
                       bool bitmap, bool raw, bool wide)
    : stem_(stem),
      size_(size),
      bitmap_(bitmap && !wide),
      raw_(raw),
      wide_(wide),
      bitmapFits_(BitmapFits(size.columns, size.lines)) {
    padding_.assign(4, 0);
    if (bitmap_ && bitmapFits_ && bitmapFile_.Open(stem + ".bmp")) {
        const std::vector<uint8_t> header =
            BitmapFileHeader(size.columns, size.lines, PaletteKind, colours);
        bitmapFile_.WriteAt(0, header.data(), header.size());
    }
    if (raw_) rawFile_.Open(stem + ".raw");
}

void RasterPair::Write(int first, int count, const uint8_t* lines) {
    const size_t columns = static_cast<size_t>(size_.columns);
    if (bitmap_ && bitmapFits_ && !bitmapFile_.Failed()) {
        // The strip's lines lie in the bitmap one after another from the bottom one up, each
        // followed by its padding.
        const size_t pad = static_cast<size_t>(BitmapStride(size_.columns)) - columns;
        std::vector<struct iovec> pieces;
        pieces.reserve(static_cast<size_t>(count) * 2);
        for (int i = count - 1; i >= 0; --i) {
            pieces.push_back({const_cast<uint8_t*>(lines + columns * i), columns});
            if (pad > 0) pieces.push_back({padding_.data(), pad});
        }
        const int64_t offset =
            kBitmapPixelOffset + int64_t{size_.lines - first - count} * BitmapStride(size_.columns);
        bitmapFile_.WriteAt(offset, pieces.data(), static_cast<int>(pieces.size()));
    }
    if (!raw_ || rawFile_.Failed()) return;
    if (!wide_) {
        rawFile_.WriteAt(int64_t{first} * size_.columns, lines, columns * count);
    } else {
        const size_t bytes = columns * static_cast<size_t>(count) * 2;
        if constexpr (std::endian::native == std::endian::little) {
            rawFile_.WriteAt(int64_t{first} * size_.columns * 2, lines, bytes);
        } else {
            std::vector<uint8_t> little(lines, lines + bytes);
            for (size_t i = 0; i < bytes; i += 2) std::swap(little[i], little[i + 1]);
            rawFile_.WriteAt(int64_t{first} * size_.columns * 2, little.data(), bytes);
        }
    }
}

void RasterPair::Sync() {
    if (bitmap_) bitmapFile_.Sync();
    if (raw_) rawFile_.Sync();
}

void RasterPair::AddBitmap(FileSet& set) {
    if (!bitmap_) return;
    if (bitmapFits_)
        set.Add(stem_ + ".bmp", bitmapFile_);
    else
        set.AddUnwritten(stem_ + ".bmp");
}

void RasterPair::AddRaw(FileSet& set) {
    if (raw_) set.Add(stem_ + ".raw", rawFile_);
}

namespace {

// Syncs the files at once, each from a thread of its own.
void SyncTogether(const std::vector<RasterPair*>& pairs) {
    RunParts(static_cast<int>(pairs.size()),
             [&pairs](int k) { pairs[static_cast<size_t>(k)]->Sync(); });
}

}  // namespace

// ----- ResultWriter -----

// The files that put the classes back on the map.
struct ResultWriter::Map {
    Georeference place;
    std::optional<MapSideFiles> sideFiles;
    bool onMap = false;   // the GeoTIFF is wanted
    bool tabled = false;  // the class table's areas are gathered
    StagedName geotiffName;
    ClassGeoTiff geotiff;
    bool geotiffMade = false;
    std::optional<CellAreas> cells;
    std::vector<ClassAreas> areas;  // one per worker
    StripTurns turns;
};

ResultWriter::ResultWriter(const std::string& stem, ImageSize size, const Treatment& treatment,
                           ResultFiles files, const std::string& program, int workers)
    : stem_(stem),
      size_(size),
      treatment_(treatment),
      files_(files),
      rasters_(stem, size, treatment.classColourTable, files.bitmap, files.raw,
               treatment.WideClasses()) {
    const std::optional<Georeference> place = SharedGeoreference(treatment.records);
    if (!place) return;
    map_ = std::make_unique<Map>();
    map_->place = *place;
    map_->onMap = files.geotiff;
    map_->tabled = files.table || files.geotiff || files.style;
    map_->geotiff.SetThreads(workers);
    if (map_->onMap && map_->geotiffName.Open(stem + ".tif")) {
        const RasterMetadata metadata =
            TreatmentMetadata(program, treatment.records, treatment.selection, treatment.classCount,
                              treatment.maskDescriptions);
        map_->geotiffMade =
            treatment.WideClasses()
                ? map_->geotiff.CreateWide(map_->geotiffName.Temporary(), size,
                                           treatment.wideColours, *place, metadata)
                : map_->geotiff.Create(map_->geotiffName.Temporary(), size,
                                       treatment.classColourTable, *place, metadata);
    }
    if (map_->tabled) {
        map_->cells.emplace(size, *place);
        map_->areas.assign(static_cast<size_t>(std::max(workers, 1)), ClassAreas(*map_->cells));
    }
}

ResultWriter::~ResultWriter() = default;

void ResultWriter::Abandon() {
    if (map_) map_->turns.Abandon();
}

void ResultWriter::Write(int worker, int index, int first, int count, const uint8_t* classes) {
    rasters_.Write(first, count, classes);
    if (!map_) return;
    const size_t columns = static_cast<size_t>(size_.columns);
    if (map_->tabled && treatment_.WideClasses()) {
        const auto* wide = reinterpret_cast<const uint16_t*>(classes);
        for (int i = 0; i < count; ++i)
            map_->areas[static_cast<size_t>(worker)].AddLine(first + i, wide + columns * i,
                                                             size_.columns);
    } else if (map_->tabled) {
        for (int i = 0; i < count; ++i)
            map_->areas[static_cast<size_t>(worker)].AddLine(first + i, classes + columns * i,
                                                             size_.columns);
    }
    // GDAL lays the GeoTIFF's blocks out in the order its lines come: in strip order, the same
    // bytes whatever the threads.
    if (map_->geotiffMade && map_->turns.Wait(index)) {
        if (treatment_.WideClasses())
            map_->geotiff.WriteLines(first, count, reinterpret_cast<const uint16_t*>(classes),
                                     columns * 2);
        else
            map_->geotiff.WriteLines(first, count, classes, columns);
        map_->turns.Done();
    }
}

Status ResultWriter::Stage(FileSet& set, std::vector<RasterPair*> others, Progress& progress) {
    others.push_back(&rasters_);
    SyncTogether(others);
    // The rasters are on the disk: the last moment of their stage.
    if (!progress.Step(kStageSaving, size_.lines, size_.lines)) return Status::Cancelled();
    rasters_.AddBitmap(set);
    if (files_.report) {
        report_ = std::make_unique<StagedFile>();
        const std::string path = stem_ + ".txt";
        if (StageText(
                *report_, path,
                ResultReport(size_, treatment_.records, treatment_.table, treatment_.pixelCount,
                             treatment_.selectedCodes, treatment_.nodataPixels, treatment_.masks,
                             treatment_.maskedPixels, treatment_.applied)))
            set.Add(path, *report_);
        else
            set.AddUnwritten(path);
    }
    rasters_.AddRaw(set);
    if (map_) {
        if (map_->onMap) {
            const bool closed = map_->geotiff.Close(&progress) && map_->geotiffMade;
            if (map_->geotiff.Cancelled()) return Status::Cancelled();
            if (closed)
                set.Add(stem_ + ".tif", map_->geotiffName);
            else
                set.AddUnwritten(stem_ + ".tif");
        }
        if (map_->tabled) {
            if (!progress.Step(kStageLegend, 0, 1)) return Status::Cancelled();
            for (size_t w = 1; w < map_->areas.size(); ++w) map_->areas[0].Add(map_->areas[w]);
            map_->sideFiles.emplace(stem_,
                                    MakeClassTable(size_, treatment_.records, treatment_.table,
                                                   treatment_.pixelCount, treatment_.selectedCodes,
                                                   treatment_.PixelsWithoutData(), map_->areas[0]),
                                    treatment_.WideClasses()
                                        ? treatment_.wideColours
                                        : std::vector<ColourEntry>(
                                              treatment_.classColourTable.begin(),
                                              treatment_.classColourTable.end()),
                                    MapSideFiles::Wanted{files_.table, map_->onMap, files_.style});
            map_->sideFiles->AddTo(set);
            if (!progress.Step(kStageLegend, 1, 1)) return Status::Cancelled();
        }
    }
    if (files_.codes) {
        codes_ = std::make_unique<StagedFile>();
        const std::string path = stem_ + kCodeListSuffix;
        if (codes_->Open(path) && WriteMultiTab(*codes_, treatment_.table, &treatment_.pixelCount))
            set.Add(path, *codes_);
        else
            set.AddUnwritten(path);
    }
    return Status::Ok();
}

Status ResultWriter::Finish(std::vector<RasterPair*> others, Progress& progress) {
    FileSet set;
    if (Status staged = Stage(set, std::move(others), progress); !staged) return staged;
    std::vector<std::string> failed;
    set.Commit(failed);
    return CollectedSaveStatus(failed);
}

// ----- SegmentedWriter -----

SegmentedWriter::SegmentedWriter(const std::string& stem, ImageSize size,
                                 const ColourTable& colours)
    : stem_(stem), size_(size), rasters_(stem, size, colours, true, true) {}

void SegmentedWriter::Stage(FileSet& set) {
    rasters_.AddBitmap(set);
    if (StageText(descriptor_, stem_ + ".txt", LongDescriptorText(size_)))
        set.Add(stem_ + ".txt", descriptor_);
    else
        set.AddUnwritten(stem_ + ".txt");
    rasters_.AddRaw(set);
}

Status SegmentedWriter::Finish(Progress& progress) {
    rasters_.Sync();
    if (!progress.Step(kStageSaving, size_.lines, size_.lines)) return Status::Cancelled();
    FileSet set;
    Stage(set);
    std::vector<std::string> failed;
    set.Commit(failed);
    return CollectedSaveStatus(failed);
}

// ----- whole rasters -----

namespace {

// Lines of a whole raster handed to a writer at a time: about 4 million pixels, so that a save
// can be cancelled every few tenths of a second.
int SaveStripLines(ImageSize size) {
    return std::max(1, (4 << 20) / std::max(size.columns, 1));
}

}  // namespace

Status SaveClasses(const std::string& stem, const Treatment& treatment, ImageSize size,
                   const uint8_t* classes, const std::string& program, Progress& progress) {
    try {
        if (!progress.Step(kStageSaving, 0, size.lines)) return Status::Cancelled();
        ResultWriter writer(stem, size, treatment, ResultFiles{}, program, 1);
        const int strip = SaveStripLines(size);
        for (int first = 0, index = 0; first < size.lines; first += strip, ++index) {
            const int count = std::min(strip, size.lines - first);
            writer.Write(0, index, first, count,
                         classes + static_cast<size_t>(first) * size.columns);
            if (!progress.Step(kStageSaving, first + count, size.lines)) {
                writer.Abandon();
                return Status::Cancelled();
            }
        }
        return writer.Finish({}, progress);
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to save " + stem + " ");
    }
}

Status SaveSegmentNumbers(const std::string& stem, ImageSize size, const uint8_t* numbers,
                          const ColourTable& colours, Progress& progress) {
    try {
        if (!progress.Step(kStageSaving, 0, size.lines)) return Status::Cancelled();
        SegmentedWriter writer(stem, size, colours);
        const int strip = SaveStripLines(size);
        for (int first = 0; first < size.lines; first += strip) {
            const int count = std::min(strip, size.lines - first);
            writer.Write(first, count, numbers + static_cast<size_t>(first) * size.columns);
            if (!progress.Step(kStageSaving, first + count, size.lines)) return Status::Cancelled();
        }
        return writer.Finish(progress);
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to save " + stem + " ");
    }
}

}  // namespace tessera
