#include "workspace/streamedjob.h"

#include <sys/uio.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "crossing/maplegend.h"
#include "crossing/mapresult.h"
#include "crossing/report.h"
#include "image/rawfiles.h"
#include "support/paths.h"
#include "support/safefile.h"

namespace tessera {

namespace {

// A strip of about this many bytes per band: the strips of ten bands and their codes stay
// within a core's second-level cache, and a band is read in a few hundred calls.
constexpr int64_t kStripBytes = int64_t{64} << 10;
constexpr int kMaximumThreads = 64;
// Stored lines of an 8-bit bitmap start here, after the headers and the palette.
constexpr int64_t kBitmapPixelOffset = 1078;

int64_t BitmapStride(int columns) {
    return (int64_t{columns} + 3) / 4 * 4;
}

// The file-size field of a bitmap is 32 bits wide: WriteBitmapFile refuses larger ones.
bool BitmapFits(ImageSize size) {
    return kBitmapPixelOffset + BitmapStride(size.columns) * size.lines <= int64_t{0xffffffff};
}

// Memory that needs no zero fill: every byte is written before it is read.
std::unique_ptr<uint8_t[]> Bytes(size_t count) {
    return std::unique_ptr<uint8_t[]>(new uint8_t[count]);
}

// One thread's strip of every band, line after line, and the marks of the pixels without data
// of the bands that have a nodata value.
struct BandStrips {
    BandStrips(int bandCount, int stripLines, int columns)
        : lineBytes(static_cast<size_t>(columns)),
          stripBytes(lineBytes * static_cast<size_t>(stripLines)),
          bytes(Bytes(stripBytes * static_cast<size_t>(bandCount))),
          marks(Bytes(stripBytes * static_cast<size_t>(bandCount))),
          values(static_cast<size_t>(bandCount)) {}
    uint8_t* Band(int b) { return bytes.get() + stripBytes * static_cast<size_t>(b); }
    uint8_t* Marks(int b) { return marks.get() + stripBytes * static_cast<size_t>(b); }
    // Reads the strip of bands 1..readers.size() - 1 (readers[b] for band b).
    Status Read(const std::vector<BandReader>& readers, int first, int count) {
        for (size_t b = 1; b < readers.size(); ++b) {
            const int band = static_cast<int>(b) - 1;
            const bool marked = readers[b].MayLackData();
            const Status read =
                readers[b].ReadLines(first, count, Band(band), marked ? Marks(band) : nullptr);
            if (!read) return read;
        }
        return Status::Ok();
    }
    // Code 0 for every pixel of line i without data in a band that has a nodata value; the
    // number of such pixels.
    int64_t ClearNodata(const std::vector<BandReader>& readers, int i, int32_t* codes) {
        bool any = false;
        for (size_t b = 1; b < readers.size(); ++b) {
            if (!readers[b].MayLackData()) continue;
            const uint8_t* line = Marks(static_cast<int>(b) - 1) + lineBytes * i;
            if (!any) {
                std::copy(line, line + lineBytes, union_.begin());
                any = true;
            } else {
                for (size_t x = 0; x < lineBytes; ++x) union_[x] |= line[x];
            }
        }
        if (!any) return 0;
        int64_t count = 0;
        for (size_t x = 0; x < lineBytes; ++x) {
            if (union_[x] == 0) continue;
            codes[x] = 0;
            ++count;
        }
        return count;
    }
    // The lines of every band at line `i` of the strip.
    const uint8_t* const* Line(int i) {
        for (size_t b = 0; b < values.size(); ++b)
            values[b] = Band(static_cast<int>(b)) + lineBytes * i;
        return values.data();
    }
    size_t lineBytes;
    size_t stripBytes;
    std::unique_ptr<uint8_t[]> bytes;
    std::unique_ptr<uint8_t[]> marks;
    std::vector<const uint8_t*> values;
    std::vector<uint8_t> union_ = std::vector<uint8_t>(lineBytes);
};

// A strip of a raster laid out as its bitmap stores it: the bottom line first, each line
// padded to whole words (the padding 0). The raw file takes the same lines top first.
struct RasterStrip {
    RasterStrip(int stripLines, int columns)
        : columns(columns),
          stride(static_cast<size_t>(BitmapStride(columns))),
          bytes(Bytes(stride * static_cast<size_t>(stripLines))),
          pieces(static_cast<size_t>(stripLines)) {
        for (int i = 0; i < stripLines; ++i)
            std::memset(bytes.get() + stride * i + columns, 0, stride - columns);
    }
    // Line i (0 = top) of a strip of `count` lines.
    uint8_t* Line(int i, int count) {
        return bytes.get() + stride * static_cast<size_t>(count - 1 - i);
    }
    void Write(StagedFile& bitmap, StagedFile& raw, ImageSize size, int first, int count) {
        if (!bitmap.Failed()) {
            const int64_t offset =
                kBitmapPixelOffset + int64_t{size.lines - first - count} * stride;
            const size_t length = stride * static_cast<size_t>(count);
            bitmap.WriteAt(offset, bytes.get(), length);
        }
        if (!raw.Failed()) {
            for (int i = 0; i < count; ++i)
                pieces[i] = {Line(i, count), static_cast<size_t>(columns)};
            raw.WriteAt(int64_t{first} * columns, pieces.data(), count);
        }
    }
    int columns;
    size_t stride;
    std::unique_ptr<uint8_t[]> bytes;
    std::vector<struct iovec> pieces;
};

// Turns taken strip by strip in their order: Wait(k) returns once strips 0..k - 1 are done,
// or false once some strip was abandoned (its thread failed), so that no thread waits forever.
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
    // Abandons the turns when it dies before Keep(): a strip that fails, by refusal or by
    // exception, releases every thread waiting for it.
    class Abandon {
      public:
        Abandon(StripTurns& turns, bool used) : turns_(turns), kept_(!used) {}
        ~Abandon() {
            if (kept_) return;
            {
                const std::lock_guard<std::mutex> lock(turns_.mutex_);
                turns_.abandoned_ = true;
            }
            turns_.changed_.notify_all();
        }
        Abandon(const Abandon&) = delete;
        Abandon& operator=(const Abandon&) = delete;
        void Keep() { kept_ = true; }

      private:
        StripTurns& turns_;
        bool kept_;
    };

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int next_ = 0;
    bool abandoned_ = false;
};

}  // namespace

int ThreadsOf(const StreamSettings& settings) {
    if (settings.threads > 0) return std::min(settings.threads, kMaximumThreads);
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(cores), 1, kMaximumThreads);
}

int StripLinesOf(const StreamSettings& settings, int columns) {
    if (settings.stripLines > 0) return settings.stripLines;
    return static_cast<int>(std::clamp<int64_t>(kStripBytes / std::max(columns, 1), 1, 1024));
}

int64_t StreamedMemoryNeed(ImageSize size, int bandCount, const StreamSettings& settings) {
    const int64_t strip =
        int64_t{StripLinesOf(settings, size.columns)} * BitmapStride(size.columns);
    // Per thread: the strips of the bands, a line of codes, the class and segment strips.
    const int64_t perThread =
        strip * (std::clamp(bandCount, 1, kMaximumBands) + 2) + int64_t{size.columns} * 4;
    return perThread * ThreadsOf(settings) + (int64_t{1} << 20);
}

StreamedJob::StreamedJob(StreamSettings settings) : settings_(settings) {}

StreamedJob::~StreamedJob() {
    FinishCodeList();
}

void StreamedJob::FinishCodeList() {
    if (codeListWriter_.joinable()) codeListWriter_.join();
}

void StreamedJob::BeginBandSet(int bandCount) {
    bandCount_ = std::clamp(bandCount, 0, kMaximumBands);
    checks_.BeginBandSet(bandCount);
    readers_.clear();
    readers_.resize(static_cast<size_t>(bandCount_) + 1);
    records_.assign(static_cast<size_t>(bandCount_) + 1, BandRecord{});
    histograms_.assign(static_cast<size_t>(bandCount_) + 1, Histogram{});
    ranges_.assign(static_cast<size_t>(bandCount_) + 1, GrayRange{});
    threads_ = ThreadsOf(settings_);
}

Status StreamedJob::ForEachStrip(int stripCount, const std::function<Status(int, int)>& work) {
    const int wanted = std::min(threads_, std::max(stripCount, 1));
    // Worker w starts with strip w, so that every thread takes part; then each takes the next
    // strip left, so that a thread slowed down by other work takes fewer.
    std::atomic<int> next{wanted};
    std::atomic<bool> failed{false};
    bool outOfMemory = false;
    // The refusal of the first strip that could not be read: every strip before it was taken
    // and is finished, so it is the same whatever the threads.
    int refusedStrip = stripCount;
    Status refusal = Status::Ok();
    std::mutex refusing;
    // A worker takes strip `index`, then the strips reserved beyond it (reserved..wanted - 1,
    // those of threads that could not start), then the next strips left: the strips of one
    // worker come in increasing order, so that a strip that waits for the ones before it (the
    // class GeoTIFF's turns) never waits for a later one of its own thread.
    auto worker = [&](int index, int reserved) {
        int strip = index;
        while (strip < stripCount && !failed.load()) {
            try {
                Status done = work(index, strip);
                if (done) {
                    strip = reserved < wanted ? reserved++ : next.fetch_add(1);
                    continue;
                }
                const std::lock_guard<std::mutex> lock(refusing);
                if (strip < refusedStrip) {
                    refusedStrip = strip;
                    refusal = std::move(done);
                }
            } catch (const std::exception&) {
                const std::lock_guard<std::mutex> lock(refusing);
                outOfMemory = true;
            }
            failed.store(true);
            return;
        }
    };
    std::vector<std::thread> helpers;
    int started = 1;
    for (int index = 1; index < wanted; ++index, ++started) {
        try {
            helpers.emplace_back(worker, index, wanted);
        } catch (const std::exception&) {
            break;
        }
    }
    // Strips meant for threads that could not start are taken by this one.
    worker(0, started);
    for (std::thread& helper : helpers) helper.join();
    if (outOfMemory) throw std::bad_alloc();
    return refusal;
}

Status StreamedJob::LoadBand(int band, const std::string& path, BandFileType type,
                             BandLoadOptions options) {
    if (band < 1 || band > bandCount_)
        return Status::Failure(" There is no band " + std::to_string(band) + " ");
    const StreamSettings settings = settings_;
    options.memoryNeed = [settings](ImageSize size, int bandCount) {
        return StreamedMemoryNeed(size, bandCount, settings);
    };
    Result<BandReader> reader = checks_.OpenBandFile(band, path, type, options);
    if (!reader) return Status::Failure(reader.message);
    const ImageSize size = reader.value->Size();
    // GDAL's block cache holds a row of blocks of every raster band at once, so that a strip
    // read never decodes a block twice; it is bounded to that, and counted with the strips.
    std::vector<const BandReader*> rasters{reader.value.operator->()};
    for (int b = 1; b <= bandCount_; ++b)
        if (b != band && readers_[b].IsOpen()) rasters.push_back(&readers_[b]);
    const int64_t cache = RasterCacheNeed(rasters);
    if (options.checkMemory && cache > 0) {
        if (const Status fits = checks_.CheckMemoryNeed(
                path, size, StreamedMemoryNeed(size, bandCount_, settings_) + cache);
            !fits)
            return fits;
    }
    if (cache > 0) BoundRasterCache(cache);
    try {
        const int stripLines = StripLinesOf(settings_, size.columns);
        const int stripCount = (size.lines + stripLines - 1) / stripLines;
        const int workers = std::min(threads_, stripCount);
        std::vector<Histogram> partial(static_cast<size_t>(workers), Histogram{});
        std::vector<int64_t> without(static_cast<size_t>(workers), 0);
        std::vector<std::unique_ptr<uint8_t[]>> buffers, marks;
        const BandReader& file = *reader.value;
        const bool marked = file.MayLackData();
        std::vector<int64_t> nonFinite(static_cast<size_t>(workers), 0);
        const size_t stripBytes = static_cast<size_t>(stripLines) * size.columns;
        for (int w = 0; w < workers; ++w) {
            buffers.push_back(Bytes(stripBytes));
            if (marked) marks.push_back(Bytes(stripBytes));
        }
        const Status gathered = ForEachStrip(stripCount, [&](int worker, int strip) {
            const int first = strip * stripLines;
            const int count = std::min(stripLines, size.lines - first);
            const size_t cells = static_cast<size_t>(count) * size.columns;
            uint8_t* gray = buffers[worker].get();
            const Status read =
                file.ReadLines(first, count, gray, marked ? marks[worker].get() : nullptr);
            if (!read) return read;
            AddToHistogram(gray, cells, partial[worker]);
            if (marked) {
                const int64_t removed =
                    RemoveNodata(gray, marks[worker].get(), cells, partial[worker]);
                without[worker] += removed;
                if (removed > 0 && file.Raster() && file.Raster()->IsFloating())
                    nonFinite[worker] += CountMarks(marks[worker].get(), cells, kNonFiniteMark);
            }
            return Status::Ok();
        });
        if (!gathered) return gathered;
        Histogram histogram{};
        for (const Histogram& part : partial)
            for (int g = 0; g < 256; ++g) histogram[g] += part[g];
        int64_t nodataPixels = 0, nonFinitePixels = 0;
        for (int64_t count : without) nodataPixels += count;
        for (int64_t count : nonFinite) nonFinitePixels += count;
        if (marked && nodataPixels == int64_t{size.lines} * size.columns)
            return Status::Failure(file.Refusal(
                AllNodataReason(file.Nodata(), file.Raster() && file.Raster()->IsFloating())));
        nodataPixels -= nonFinitePixels;
        std::string filePath = path;
        std::optional<GrayStretch> stretch = file.Stretch();
        std::optional<Georeference> georeference = file.Georef();

        // Nothing below allocates: the band is taken whole or not at all.
        histograms_[band] = histogram;
        ranges_[band] = RangeOfHistogram(histogram);
        readers_[band] = std::move(*reader.value);
        records_[band].filePath.swap(filePath);
        records_[band].stretch = std::move(stretch);
        records_[band].nodata = readers_[band].Nodata();
        records_[band].nodataPixels = nodataPixels;
        records_[band].nonFinitePixels = nonFinitePixels;
        records_[band].georeference = georeference;
        records_[band].rasterBand = type == BandFileType::Raster ? options.rasterBand : 0;
        checks_.records[band].filePath = records_[band].filePath;
        checks_.records[band].georeference = std::move(georeference);
        checks_.sequenceSizes[band] = size;
        size_ = size;
        stripLines_ = stripLines;
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        return Status::Failure(" Not enough memory to keep the band " + path +
                               " \nThe band was not loaded ");
    }
}

void StreamedJob::SetSegmentation(int band, int type, int count,
                                  const std::vector<int32_t>& typedUpper) {
    if (band < 1 || band > bandCount_) return;
    try {
        SegmentLimits limits =
            BandSegmentLimits(type, count, typedUpper, ranges_[band], histograms_[band]);
        BandRecord& record = records_[band];
        record.thresholdingType = type;
        record.segmentCount = count;
        record.segmentLimits = std::move(limits);
    } catch (const std::bad_alloc&) {
        // Lists of at most 255 entries: left as they were should this ever fail.
    }
}

Status StreamedJob::FinishSegmentation() {
    const int n = bandCount_;
    if (n < 1) return Status::Failure(" There is no band set to segment ");
    for (int b = 1; b <= n; ++b)
        if (!readers_[b].IsOpen()) return Status::Failure(MissingBandMessage(b));
    const RandomBelow randomBefore = random_;
    try {
        std::vector<int32_t> counts(static_cast<size_t>(n) + 1, 0);
        for (int b = 1; b <= n; ++b) counts[b] = records_[b].segmentCount;
        Result<CodeTable> table = BuildCodeTable(counts);
        if (!table) return Status::Failure(table.message);

        // A diagnostic list that nothing reads: a folder that refuses it changes nothing.
        FinishCodeList();
        const std::string codeList = JoinPath(DirectoryOf(records_[1].filePath), kMultiTabName);
        try {
            codeListWriter_ =
                std::thread([codeList, table = *table.value] { WriteMultiTab(codeList, table); });
        } catch (const std::system_error&) {
            WriteMultiTab(codeList, *table.value);  // no thread to spare: written now
        }

        const std::vector<CodeContribution> bySegment = SegmentContributions(*table.value);
        std::vector<SegmentLookup> lookups(static_cast<size_t>(n) + 1);
        std::vector<CodeContribution> byGray(static_cast<size_t>(n) + 1);
        for (int b = 1; b <= n; ++b) {
            lookups[b] = SegmentLookupTable(records_[b].segmentLimits);
            byGray[b] = GrayContribution(bySegment[b], lookups[b]);
        }
        segmentColours_ = BuildSegmentColourTable(random_);
        table_ = std::move(*table.value);
        lookups_ = std::move(lookups);
        grayContributions_ = std::move(byGray);
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        random_ = randomBefore;
        return Status::Failure(std::string(kMemoryRefusal) +
                               "to segment the bands \nThe earlier results are kept ");
    }
}

Status StreamedJob::CountCodes() {
    const Status refused = Status::Failure(std::string(kMemoryRefusal) + "to cross the bands ");
    const int n = bandCount_;
    if (grayContributions_.empty()) return Status::Failure(" The bands are not segmented ");
    try {
        const int columns = size_.columns;
        const int stripCount = (size_.lines + stripLines_ - 1) / stripLines_;
        const int workers = std::min(threads_, std::max(stripCount, 1));
        std::vector<const CodeContribution*> tables;
        for (int b = 1; b <= n; ++b) tables.push_back(&grayContributions_[b]);

        // 32 bits per code and thread: a thread counts at most kMaximumPixels pixels.
        static_assert(kMaximumPixels <= int64_t{UINT32_MAX});
        const size_t codes = static_cast<size_t>(table_.CodeCount) + 1;
        std::vector<std::vector<uint32_t>> counts;
        std::vector<int64_t> without(static_cast<size_t>(workers), 0);
        std::vector<std::unique_ptr<BandStrips>> strips;
        std::vector<std::unique_ptr<int32_t[]>> codeLines;
        for (int w = 0; w < workers; ++w) {
            counts.emplace_back(codes, 0);
            strips.push_back(std::make_unique<BandStrips>(n, stripLines_, columns));
            codeLines.emplace_back(new int32_t[static_cast<size_t>(columns)]);
        }
        const Status counted = ForEachStrip(stripCount, [&](int worker, int strip) {
            const int first = strip * stripLines_;
            const int count = std::min(stripLines_, size_.lines - first);
            BandStrips& band = *strips[worker];
            if (const Status read = band.Read(readers_, first, count); !read) return read;
            int32_t* line = codeLines[worker].get();
            uint32_t* pixelCount = counts[worker].data();
            for (int i = 0; i < count; ++i) {
                FormCodes(tables.data(), band.Line(i), n, columns, line);
                without[worker] += band.ClearNodata(readers_, i, line);
                CountLine(line, columns, pixelCount);
            }
            return Status::Ok();
        });
        if (!counted) return counted;
        strips.clear();
        codeLines.clear();

        std::vector<int64_t> total(counts[0].begin(), counts[0].end());
        for (int w = 1; w < workers; ++w) {
            const uint32_t* part = counts[w].data();
            for (size_t code = 0; code < codes; ++code) total[code] += part[code];
        }
        bool declared = false;
        for (int b = 1; b <= n; ++b)
            declared = declared || records_[b].nodata.has_value() ||
                       records_[b].nonFinitePixels > 0;
        int64_t nodataPixels = 0;
        for (int64_t count : without) nodataPixels += count;
        pixelCount_ = std::move(total);
        nodataPixels_ = declared ? std::optional<int64_t>(nodataPixels) : std::nullopt;
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        return refused;
    }
}

Status StreamedJob::FinishCrossing(std::vector<int32_t> selectedCodes) {
    if (pixelCount_.empty()) return Status::Failure(" The bands are not segmented ");
    const RandomBelow randomBefore = random_;
    try {
        const ColourTable colours = BuildClassColourTable(random_);
        std::vector<uint8_t> classOf = ClassOfCode(selectedCodes, table_.CodeCount);
        classColours_ = colours;
        classOf_ = std::move(classOf);
        classCount_ = selectedCodes.empty() ? 0 : static_cast<int>(selectedCodes.size()) - 1;
        selectedCodes_ = std::move(selectedCodes);
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        random_ = randomBefore;
        return Status::Failure(std::string(kMemoryRefusal) +
                               "to make the classes \nThe earlier result is kept ");
    }
}

std::optional<Georeference> StreamedJob::Place() const {
    return SharedGeoreference(records_);
}

Status StreamedJob::Save(const std::string& stem, const std::string& segmentedStem,
                         ResultFiles files) {
    if (classOf_.empty()) return Status::Failure(" There is no result to save ");
    const int n = bandCount_;
    const int columns = size_.columns;
    const bool segmented = !segmentedStem.empty();
    const std::optional<Georeference> place = Place();
    const bool onMap = place && files.geotiff;
    try {
        // The rasters go to temporary files strip by strip; each is renamed over its target
        // only once the pass is over, so a failure leaves nothing of it.
        const bool bitmapFits = BitmapFits(size_);
        StagedFile resultBitmap, resultRaw, segmentBitmap, segmentRaw;
        if (files.bitmap && bitmapFits && resultBitmap.Open(stem + ".bmp")) {
            const std::vector<uint8_t> header =
                BitmapFileHeader(columns, size_.lines, PaletteKind, classColours_);
            resultBitmap.WriteAt(0, header.data(), header.size());
        }
        if (files.raw) resultRaw.Open(stem + ".raw");
        StagedName geotiffName;
        ClassGeoTiff geotiff;
        bool geotiffMade = false;
        if (onMap && geotiffName.Open(stem + ".tif"))
            geotiffMade = geotiff.Create(
                geotiffName.Temporary(), size_, classColours_, *place,
                TreatmentMetadata("tessera-batch", records_, selection_, classCount_));
        if (segmented) {
            if (bitmapFits && segmentBitmap.Open(segmentedStem + ".bmp")) {
                const std::vector<uint8_t> header =
                    BitmapFileHeader(columns, size_.lines, PaletteKind, segmentColours_);
                segmentBitmap.WriteAt(0, header.data(), header.size());
            }
            segmentRaw.Open(segmentedStem + ".raw");
        }

        const int stripCount = (size_.lines + stripLines_ - 1) / stripLines_;
        const int workers = std::min(threads_, std::max(stripCount, 1));
        std::vector<const CodeContribution*> tables;
        for (int b = 1; b <= n; ++b) tables.push_back(&grayContributions_[b]);
        std::vector<std::unique_ptr<BandStrips>> strips;
        std::vector<std::unique_ptr<int32_t[]>> codeLines;
        std::vector<std::unique_ptr<RasterStrip>> classStrips, segmentStrips;
        for (int w = 0; w < workers; ++w) {
            strips.push_back(std::make_unique<BandStrips>(n, stripLines_, columns));
            codeLines.emplace_back(new int32_t[static_cast<size_t>(columns)]);
            classStrips.push_back(std::make_unique<RasterStrip>(stripLines_, columns));
            if (segmented)
                segmentStrips.push_back(std::make_unique<RasterStrip>(stripLines_, columns));
        }
        // The class table's areas, gathered line by line by each thread, then added up.
        const bool tabled = place && (files.table || files.geotiff || files.style);
        std::optional<CellAreas> cells;
        std::vector<ClassAreas> areas;
        if (tabled) {
            cells.emplace(size_, *place);
            areas.assign(static_cast<size_t>(workers), ClassAreas(*cells));
        }
        const SegmentLookup& lastLookup = lookups_[n];
        const bool lastMarked = readers_[n].MayLackData();
        // The class GeoTIFF takes its strips in order, so that GDAL lays its blocks out in the
        // same order whatever the threads and the cache: the same bytes every time.
        StripTurns geotiffTurns;
        const Status written = ForEachStrip(stripCount, [&](int worker, int strip) {
            StripTurns::Abandon abandon(geotiffTurns, geotiffMade);
            const int first = strip * stripLines_;
            const int count = std::min(stripLines_, size_.lines - first);
            BandStrips& band = *strips[worker];
            if (const Status read = band.Read(readers_, first, count); !read) return read;
            int32_t* line = codeLines[worker].get();
            RasterStrip& classes = *classStrips[worker];
            for (int i = 0; i < count; ++i) {
                const uint8_t* const* values = band.Line(i);
                FormCodes(tables.data(), values, n, columns, line);
                band.ClearNodata(readers_, i, line);
                ClassifyLine(line, columns, classOf_, classes.Line(i, count));
                if (tabled) areas[worker].AddLine(first + i, classes.Line(i, count), columns);
                if (segmented) {
                    uint8_t* numbers = segmentStrips[worker]->Line(i, count);
                    const uint8_t* gray = values[n - 1];
                    for (int x = 0; x < columns; ++x) numbers[x] = lastLookup[gray[x]];
                    if (lastMarked)
                        ClearNodata(band.Marks(n - 1) + band.lineBytes * i,
                                    static_cast<size_t>(columns), numbers);
                }
            }
            classes.Write(resultBitmap, resultRaw, size_, first, count);
            if (geotiffMade && geotiffTurns.Wait(strip)) {
                for (int i = 0; i < count; ++i)
                    geotiff.WriteLines(first + i, 1, classes.Line(i, count), classes.stride);
                geotiffTurns.Done();
            }
            abandon.Keep();
            if (segmented)
                segmentStrips[worker]->Write(segmentBitmap, segmentRaw, size_, first, count);
            return Status::Ok();
        });
        if (!written) return written;  // every staged file is removed as it goes

        // Every file syncs at once, each from a thread of its own; a result file named like
        // the code list replaces it, as in the interactive program.
        FinishCodeList();
        {
            std::vector<std::thread> syncs;
            for (StagedFile* file : {&resultBitmap, &resultRaw, &segmentBitmap, &segmentRaw}) {
                try {
                    syncs.emplace_back([file] { file->Sync(); });
                } catch (const std::system_error&) {
                    file->Sync();
                }
            }
            for (std::thread& sync : syncs) sync.join();
        }

        // The result's files in the order Workspace::SaveResult writes them.
        std::vector<std::string> failed;
        if (files.bitmap && (!bitmapFits || !resultBitmap.Commit())) failed.push_back(stem + ".bmp");
        const std::string report = stem + ".txt";
        if (files.report) {
            const std::string text = ResultReport(size_, records_, table_, pixelCount_,
                                                  selectedCodes_, nodataPixels_);
            if (text.empty() || !WriteWholeFile(report, text)) failed.push_back(report);
        }
        if (files.raw && !resultRaw.Commit()) failed.push_back(stem + ".raw");
        std::optional<MapSideFiles> sideFiles;  // the class table and the GeoTIFF's legend
        if (tabled) {
            for (size_t w = 1; w < areas.size(); ++w) areas[0].Add(areas[w]);
            sideFiles.emplace(stem,
                              MakeClassTable(size_, records_, table_, pixelCount_,
                                             selectedCodes_, nodataPixels_, areas[0]),
                              classColours_, MapSideFiles::Wanted{files.table, onMap, files.style});
        }
        bool geotiffSaved = false;
        if (onMap) {
            const bool closed = geotiff.Close() && geotiffMade;
            geotiffSaved = closed && geotiffName.Commit();
            if (!geotiffSaved) failed.push_back(stem + ".tif");
        }
        if (sideFiles) sideFiles->Commit(geotiffSaved, failed);
        if (!failed.empty()) return CollectedSaveStatus(failed);  // the segmented band: not saved
        if (!segmented) return Status::Ok();

        if (!bitmapFits || !segmentBitmap.Commit()) failed.push_back(segmentedStem + ".bmp");
        const std::string descriptor = segmentedStem + ".txt";
        if (!WriteWholeFile(descriptor, LongDescriptorText(size_))) failed.push_back(descriptor);
        if (!segmentRaw.Commit()) failed.push_back(segmentedStem + ".raw");
        return CollectedSaveStatus(failed);
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to save " + stem + " ");
    }
}

}  // namespace tessera
