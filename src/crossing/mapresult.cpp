#include "crossing/mapresult.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "bands/gdalapi.h"
#include "bands/gdalsupport.h"
#include "bands/stretch.h"
#include "crossing/crossing.h"
#include "support/numbers.h"
#include "support/parallel.h"
#include "support/safefile.h"

namespace tessera {

namespace {

void AppendFixed(std::string& out, double value, int decimals) {
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.*f", decimals, value);
    out += digits;
}

}  // namespace

std::optional<Georeference> SharedGeoreference(const std::vector<BandRecord>& records) {
    if (records.size() < 2) return std::nullopt;
    for (size_t b = 1; b < records.size(); ++b)
        if (!records[b].georeference) return std::nullopt;
    return records[1].georeference;
}

struct ClassGeoTiff::Handles {
    std::string path;               // the cloud-optimised file
    StagedName strips;              // the striped file the lines go to first
    const GdalApi* gdal = nullptr;  // the module, once Create has loaded it
    void* dataset = nullptr;        // GDALDatasetH
    void* band = nullptr;           // GDALRasterBandH
    ImageSize size;
    int threads = 1;
    bool wide = false;  // 16-bit classes
    bool failed = false;
    bool cancelled = false;
    std::mutex writing;
};

namespace {

// The overview factors: halving until the larger side is at most one tile.
std::vector<int> OverviewFactors(ImageSize size) {
    std::vector<int> factors;
    int64_t side = std::max(size.lines, size.columns);
    for (int factor = 2; side > kClassTileSize; factor *= 2) {
        factors.push_back(factor);
        side = (side + 1) / 2;
    }
    return factors;
}

// The source pixels of each overview pixel along one axis: [begin[i], end[i]) of `source`
// for pixel i of `overview`, as GDAL's resampling spans them (a pixel at least, windows that
// may share a pixel where the sizes are not in a ratio of whole numbers).
struct Spans {
    std::vector<int> begin, end;
};

Spans SpansOf(int source, int overview) {
    Spans spans;
    const double ratio = static_cast<double>(source) / overview;
    spans.begin.resize(static_cast<size_t>(overview));
    spans.end.resize(static_cast<size_t>(overview));
    for (int i = 0; i < overview; ++i) {
        const int begin = std::max(static_cast<int>(i * ratio + 1e-8), 0);
        int end = static_cast<int>(std::ceil((i + 1) * ratio - 1e-8));
        if (end == begin) ++end;
        spans.begin[static_cast<size_t>(i)] = begin;
        spans.end[static_cast<size_t>(i)] = std::min(end, source);
    }
    return spans;
}

// The most frequent of the four pixels a, b (upper line) and c, d (lower line) by the rules of
// ModeLines, without a table: the pixel taken is the first whose count so far reaches the
// greatest count, the pixels without data not counted.
inline uint8_t ModeOfFour(const uint8_t* upper, const uint8_t* lower,
                          std::optional<uint8_t> nodata) {
    const int a = upper[0], b = upper[1], c = lower[0], d = lower[1];
    const int skip = nodata ? *nodata : -1;
    const int na = a != skip;
    const int nb = (b != skip) * (1 + (a == b));
    const int nc = (c != skip) * (1 + (a == c) + (b == c));
    const int nd = (d != skip) * (1 + (a == d) + (b == d) + (c == d));
    const int most = std::max(std::max(na, nb), std::max(nc, nd));
    // Chosen from the last to the first, each a select rather than a branch: noisy classes
    // would mispredict one.
    int mode = d;
    mode = nc == most ? c : mode;
    mode = nb == most ? b : mode;
    mode = na == most ? a : mode;
    mode = most == 0 ? (nodata ? *nodata : 0) : mode;
    return static_cast<uint8_t>(mode);
}

// Overview lines first..last - 1 from the source lines held in `source` (from line
// `sourceFirst` on, `columns` wide): each pixel the class most frequent among the pixels it
// covers, the nodata value left out; of classes as frequent, the one that got there first,
// line by line and left to right; the nodata value where every pixel is nodata. These are
// GDAL's rules for a band of bytes resampled by "MODE", so that the file holds the same
// bytes as when GDAL computes its overviews.
void ModeLines(const uint8_t* source, int sourceFirst, int columns, const Spans& xs,
               const Spans& ys, int first, int last, std::optional<uint8_t> nodata,
               uint8_t* lines) {
    std::array<int, 256> counts{};
    const size_t width = xs.begin.size();
    // Halved columns: pixel x covers columns 2x and 2x + 1, a loop the compiler can vectorise.
    const bool halved = static_cast<size_t>(columns) == 2 * width;
    for (int y = first; y < last; ++y) {
        const size_t yi = static_cast<size_t>(y);
        const uint8_t* top =
            source + static_cast<size_t>(ys.begin[yi] - sourceFirst) * static_cast<size_t>(columns);
        const int rows = ys.end[yi] - ys.begin[yi];
        uint8_t* out = lines + static_cast<size_t>(y - first) * width;
        if (halved && rows == 2) {
            const uint8_t* bottom = top + columns;
            for (size_t x = 0; x < width; ++x)
                out[x] = ModeOfFour(top + 2 * x, bottom + 2 * x, nodata);
            continue;
        }
        for (size_t x = 0; x < width; ++x) {
            const int x0 = xs.begin[x], x1 = xs.end[x];
            if (rows == 2 && x1 - x0 == 2) {
                out[x] = ModeOfFour(top + x0, top + columns + x0, nodata);
                continue;
            }
            int most = 0, value = -1;
            for (int r = 0; r < rows; ++r) {
                const uint8_t* row = top + static_cast<size_t>(r) * static_cast<size_t>(columns);
                for (int c = x0; c < x1; ++c) {
                    const uint8_t v = row[c];
                    if (nodata && v == *nodata) continue;
                    if (++counts[v] > most) {
                        most = counts[v];
                        value = v;
                    }
                }
            }
            for (int r = 0; r < rows; ++r) {
                const uint8_t* row = top + static_cast<size_t>(r) * static_cast<size_t>(columns);
                for (int c = x0; c < x1; ++c) counts[row[c]] = 0;
            }
            out[x] = value < 0 ? (nodata ? *nodata : uint8_t{0}) : static_cast<uint8_t>(value);
        }
    }
}

// Fills `overview` from `source` (GDAL bands of bytes) a block of lines at a time: the block's
// source lines read, its overview lines shared among `threads` threads, then written.
// The overview lines done of all, told to the progress of a save; false: cancelled.
struct OverviewProgress {
    Progress* progress = nullptr;
    int64_t done = 0, total = 0;
    bool cancelled = false;
    bool Step(int64_t lines) {
        done += lines;
        if (progress && !progress->Step(kStageOverviews, done, total)) cancelled = true;
        return !cancelled;
    }
};

bool FillModeOverview(const GdalApi& gdal, void* source, void* overview, int threads,
                      OverviewProgress& told) {
    GdalBandFacts from, to;
    gdal.bandFacts(source, &from);
    gdal.bandFacts(overview, &to);
    if (from.columns <= 0 || from.lines <= 0 || to.columns <= 0 || to.lines <= 0) return false;
    const std::optional<uint8_t> nodata =
        from.hasNodata && from.nodata >= 0 && from.nodata <= 255 &&
                from.nodata == std::floor(from.nodata)
            ? std::optional<uint8_t>(static_cast<uint8_t>(from.nodata))
            : std::nullopt;
    const Spans xs = SpansOf(from.columns, to.columns);
    const Spans ys = SpansOf(from.lines, to.lines);
    // Some 256 source lines a block.
    const int perBlock =
        std::max(1, static_cast<int>(256.0 * to.lines / static_cast<double>(from.lines)));
    std::vector<uint8_t> lines, result;
    for (int first = 0; first < to.lines; first += perBlock) {
        const int last = std::min(to.lines, first + perBlock);
        const int sourceFirst = ys.begin[static_cast<size_t>(first)];
        const int sourceCount = ys.end[static_cast<size_t>(last - 1)] - sourceFirst;
        lines.resize(static_cast<size_t>(sourceCount) * static_cast<size_t>(from.columns));
        result.resize(static_cast<size_t>(last - first) * static_cast<size_t>(to.columns));
        if (!gdal.readBand(source, 0, sourceFirst, from.columns, sourceCount, lines.data(),
                           kGdalBytes))
            return false;
        const int parts = std::clamp(threads, 1, last - first);
        auto part = [&](int k) {
            const int begin = first + (last - first) * k / parts;
            const int end = first + (last - first) * (k + 1) / parts;
            ModeLines(lines.data(), sourceFirst, from.columns, xs, ys, begin, end, nodata,
                      result.data() + static_cast<size_t>(begin - first) * to.columns);
        };
        RunParts(parts, part);
        if (!gdal.writeBand(overview, 0, first, to.columns, last - first, result.data(),
                            to.columns) ||
            !told.Step(last - first))
            return false;
    }
    return true;
}

// The overviews of `band`, made by GDAL and left empty, each filled from the next larger one
// (the band for the first), as GDAL does for "MODE".
bool FillModeOverviews(const GdalApi& gdal, void* band, int threads, OverviewProgress& told) {
    for (int k = 0; k < gdal.overviewCount(band); ++k) {
        GdalBandFacts facts;
        gdal.bandFacts(gdal.overview(band, k), &facts);
        told.total += facts.lines;
    }
    if (!told.Step(0)) return false;
    void* source = band;
    for (int k = 0; k < gdal.overviewCount(band); ++k) {
        void* overview = gdal.overview(band, k);
        if (overview == nullptr || !FillModeOverview(gdal, source, overview, threads, told))
            return false;
        source = overview;
    }
    return true;
}

// The share of the cloud-optimised copy done, told to the progress of a save.
struct CopyProgress {
    Progress* progress;
    bool cancelled = false;
};

int TellCopy(double done, void* data) {
    CopyProgress& told = *static_cast<CopyProgress*>(data);
    if (!told.progress->Step(kStageGeoTiffCopy, static_cast<int64_t>(done * 1000), 1000))
        told.cancelled = true;
    return told.cancelled ? 0 : 1;
}

// GDAL's block cache, raised for the copy to two rows of tiles of the class raster (the
// striped lines it reads and the tiles it writes) and put back as it was after.
class CopyCache {
  public:
    CopyCache(const GdalApi& gdal, ImageSize size) : gdal_(gdal), before_(gdal.cacheMax()) {
        const int64_t rows = int64_t{2} * kClassTileSize * std::max(size.columns, 1);
        BoundRasterCache(std::max<int64_t>(before_, rows));
    }
    ~CopyCache() {
        if (gdal_.configOption("GDAL_CACHEMAX") == nullptr) gdal_.setCacheMax(before_);
    }
    CopyCache(const CopyCache&) = delete;
    CopyCache& operator=(const CopyCache&) = delete;

  private:
    const GdalApi& gdal_;
    int64_t before_;
};

}  // namespace

ClassGeoTiff::ClassGeoTiff() : handles_(std::make_unique<Handles>()) {}

ClassGeoTiff::~ClassGeoTiff() {
    Abandon();
}

bool ClassGeoTiff::Cancelled() const {
    return handles_->cancelled;
}

void ClassGeoTiff::Abandon() {
    Handles& h = *handles_;
    if (h.dataset != nullptr) {
        const QuietGdalErrors quiet;
        h.gdal->closeDataset(h.dataset);
        h.dataset = nullptr;
        h.band = nullptr;
        h.failed = true;
    }
    h.strips.Discard();
}

bool ClassGeoTiff::Create(const std::string& path, ImageSize size, const ColourTable& colours,
                          const Georeference& place, const RasterMetadata& metadata) {
    return Create(path, size, std::vector<ColourEntry>(colours.begin(), colours.end()), false,
                  place, metadata);
}

bool ClassGeoTiff::CreateWide(const std::string& path, ImageSize size,
                              const std::vector<ColourEntry>& colours, const Georeference& place,
                              const RasterMetadata& metadata) {
    return Create(path, size, colours, true, place, metadata);
}

bool ClassGeoTiff::Create(const std::string& path, ImageSize size,
                          const std::vector<ColourEntry>& colours, bool wide,
                          const Georeference& place, const RasterMetadata& metadata) {
    RegisterGdalDrivers();
    handles_->wide = wide;
    const QuietGdalErrors quiet;
    handles_->path = path;
    handles_->size = size;
    handles_->failed = true;  // until every step below is done
    // Without the GDAL module the file cannot be made (GdalUnavailable() says why).
    const GdalApi* gdal = Gdal();
    if (gdal == nullptr) return false;
    handles_->gdal = gdal;
    if (!gdal->haveDriver("GTiff") || !gdal->haveDriver("COG")) return false;
    if (!handles_->strips.Open(path)) return false;
    // Strips of whole lines, as the class raster is written; BigTIFF only where needed.
    const char* options[] = {"INTERLEAVE=BAND", "BIGTIFF=IF_SAFER", nullptr};
    void* dataset =
        wide ? gdal->createUInt16("GTiff", handles_->strips.Temporary().c_str(), size.columns,
                                  size.lines, options)
             : gdal->createBytes("GTiff", handles_->strips.Temporary().c_str(), size.columns,
                                 size.lines, options);
    if (dataset == nullptr) return false;
    handles_->dataset = dataset;
    handles_->band = gdal->rasterBand(dataset, 1);
    bool made = gdal->setGeoTransform(dataset, place.transform.data()) != 0;
    if (!place.coordinateSystem.empty())
        made = made && gdal->setProjection(dataset, place.coordinateSystem.c_str());
    made = made && gdal->setNodata(handles_->band, wide ? NoWideClass : NoClass);
    // A 16-bit map's table holds its classes 0..K only: a table of every 16-bit value would
    // weigh on every reader of the file.
    const int entries = static_cast<int>(colours.size());
    std::vector<short> palette(4 * colours.size());
    for (int i = 0; i < entries; ++i) {
        // The pixels in no class are transparent (GDAL gives the nodata entry alpha 0 when it
        // reads the file back: a TIFF palette has no alpha of its own).
        const short alpha = !wide && i == NoClass ? 0 : 255;
        const short entry[4] = {colours[i].red, colours[i].green, colours[i].blue, alpha};
        std::copy(entry, entry + 4, palette.begin() + 4 * i);
    }
    made = made && (wide ? gdal->setPaletteOf(handles_->band, palette.data(), entries)
                         : gdal->setPalette(handles_->band, palette.data()));
    for (const auto& [name, value] : metadata)
        made = made && gdal->setMetadataItem(dataset, name.c_str(), value.c_str());
    handles_->failed = !made;
    return made;
}

bool ClassGeoTiff::WriteLines(int first, int count, const uint8_t* lines, size_t stride) {
    const std::lock_guard<std::mutex> lock(handles_->writing);
    if (handles_->failed || handles_->band == nullptr) return false;
    const QuietGdalErrors quiet;
    if (!handles_->gdal->writeBand(handles_->band, 0, first, handles_->size.columns, count, lines,
                                   static_cast<int64_t>(stride)))
        handles_->failed = true;
    return !handles_->failed;
}

bool ClassGeoTiff::WriteLines(int first, int count, const uint16_t* lines, size_t stride) {
    const std::lock_guard<std::mutex> lock(handles_->writing);
    if (handles_->failed || handles_->band == nullptr || !handles_->wide) return false;
    const QuietGdalErrors quiet;
    if (!handles_->gdal->writeUInt16(handles_->band, 0, first, handles_->size.columns, count,
                                     lines, static_cast<int64_t>(stride)))
        handles_->failed = true;
    return !handles_->failed;
}

void ClassGeoTiff::SetThreads(int threads) {
    handles_->threads = std::max(threads, 1);
}

bool ClassGeoTiff::Close(Progress* progress) {
    Handles& h = *handles_;
    if (h.dataset == nullptr) {
        h.strips.Discard();
        return !h.failed;
    }
    const GdalApi& gdal = *h.gdal;
    const QuietGdalErrors quiet;
    gdal.resetError();
    gdal.flushCache(h.dataset);
    if (gdal.lastErrorFailed()) h.failed = true;
    if (!h.failed) {
        const CopyCache cache(gdal, h.size);
        // The overviews go inside the striped file, so that the copy takes them as they are
        // and makes no temporary file of its own.
        std::vector<int> factors = OverviewFactors(h.size);
        // GDAL lays the overviews out; their pixels are computed here, on the threads.
        OverviewProgress overviewsTold{progress};
        // 16-bit classes are left to GDAL's own mode.
        if (!factors.empty() && h.wide &&
            !gdal.buildOverviews(h.dataset, "MODE", static_cast<int>(factors.size()),
                                 factors.data()))
            h.failed = true;
        if (!factors.empty() && !h.wide &&
            (!gdal.buildOverviews(h.dataset, "NONE", static_cast<int>(factors.size()),
                                  factors.data()) ||
             !FillModeOverviews(gdal, h.band, h.threads, overviewsTold)))
            h.failed = true;
        h.cancelled = overviewsTold.cancelled;
        const std::string blockSize = "BLOCKSIZE=" + std::to_string(kClassTileSize);
        // GDAL compresses the tiles on its threads and writes them in their order.
        const std::string threads = "NUM_THREADS=" + std::to_string(h.threads);
        const char* options[] = {"COMPRESS=DEFLATE",
                                 blockSize.c_str(),
                                 "OVERVIEWS=FORCE_USE_EXISTING",
                                 "BIGTIFF=IF_SAFER",
                                 h.threads > 1 ? threads.c_str() : nullptr,
                                 nullptr};
        CopyProgress copyTold{progress};
        void* copy = h.failed ? nullptr
                              : gdal.createCopy("COG", h.path.c_str(), h.dataset, options,
                                                progress ? TellCopy : nullptr, &copyTold);
        if (copyTold.cancelled) h.cancelled = true;
        if (copy == nullptr) {
            h.failed = true;
        } else {
            gdal.resetError();
            gdal.closeDataset(copy);
            if (gdal.lastErrorFailed()) h.failed = true;
        }
    }
    gdal.closeDataset(h.dataset);
    h.dataset = nullptr;
    h.band = nullptr;
    h.strips.Discard();
    return !h.failed;
}

bool WriteClassGeoTiff(const std::string& path, ImageSize size, const uint8_t* classes,
                       const ColourTable& colours, const Georeference& place,
                       const RasterMetadata& metadata) {
    ClassGeoTiff file;
    if (!file.Create(path, size, colours, place, metadata)) {
        file.Close();
        return false;
    }
    const bool written = file.WriteLines(0, size.lines, classes, static_cast<size_t>(size.columns));
    return file.Close() && written;
}

ClassTable MakeClassTable(ImageSize size, const std::vector<BandRecord>& records,
                          const CodeTable& table, const std::vector<int64_t>& pixelCount,
                          const std::vector<int32_t>& selectedCodes,
                          std::optional<int64_t> nodataPixels, const ClassAreas& areas) {
    const int n = records.empty() ? 0 : static_cast<int>(records.size()) - 1;
    ClassTable classes;
    classes.bandCount = n;
    classes.areaUnit = areas.Cells().Unit();
    const int64_t dataPixels =
        int64_t{size.lines} * size.columns - (nodataPixels ? *nodataPixels : 0);
    for (size_t k = 1; k < selectedCodes.size(); ++k) {
        ClassRow& row = classes.rows.emplace_back();
        const int code = selectedCodes[k];
        row.classValue = static_cast<int>(k);
        row.code = code;
        for (int b = 1; b <= n; ++b) {
            const BandRecord& record = records[b];
            ClassRow::Band& band = row.bands.emplace_back();
            const int segment = code >= 1 && code <= table.CodeCount ? table.Digits(code, b) : 0;
            const SegmentLimits& limits = record.segmentLimits;
            const bool known = segment >= 1 && segment <= limits.Count();
            band.segment = segment;
            band.grayMin = known ? limits.lower[segment] : 0;
            band.grayMax = known ? limits.upper[segment] : 0;
            if (record.stretch) {
                // The values the segment holds, both ends included, as the report gives them:
                // an end open beyond the stretch is -inf or inf, a segment that holds no value
                // has both cells empty.
                const GrayStretch& stretch = *record.stretch;
                const NativeRange range = NativeRangeOfGrays(band.grayMin, band.grayMax, stretch);
                if (known && !range.empty) {
                    band.nativeMin = range.low ? HeldValueText(*range.low, stretch) : "-inf";
                    band.nativeMax = range.high ? HeldValueText(*range.high, stretch) : "inf";
                }
            } else {
                AppendSixDigits(band.nativeMin, static_cast<double>(band.grayMin));
                AppendSixDigits(band.nativeMax, static_cast<double>(band.grayMax));
            }
        }
        row.pixels =
            code >= 0 && static_cast<size_t>(code) < pixelCount.size() ? pixelCount[code] : 0;
        row.area = areas.Text(static_cast<int>(k));
        AppendFixed(row.percent,
                    dataPixels > 0
                        ? 100.0 * static_cast<double>(row.pixels) / static_cast<double>(dataPixels)
                        : 0.0,
                    4);
    }
    return classes;
}

ClassTable MakeClassTable(ImageSize size, const std::vector<BandRecord>& records,
                          const CodeTable& table, const std::vector<int64_t>& pixelCount,
                          const std::vector<int32_t>& selectedCodes,
                          std::optional<int64_t> nodataPixels, const uint8_t* classes,
                          const Georeference& place) {
    const CellAreas cells(size, place);
    ClassAreas areas(cells);
    for (int y = 0; y < size.lines; ++y)
        areas.AddLine(y, classes + static_cast<size_t>(y) * size.columns, size.columns);
    return MakeClassTable(size, records, table, pixelCount, selectedCodes, nodataPixels, areas);
}

std::string ClassTableCsv(const ClassTable& classes) {
    std::string text = "class,code";
    for (int b = 1; b <= classes.bandCount; ++b) {
        for (const char* field :
             {"_segment", "_gray_min", "_gray_max", "_native_min", "_native_max"}) {
            text.append(",b").append(std::to_string(b)).append(field);
        }
    }
    text.append(",pixels,area_").append(classes.areaUnit);
    text.append(",percent_of_data_pixels\n");
    for (const ClassRow& row : classes.rows) {
        AppendNumber(text, row.classValue);
        text += ',';
        AppendNumber(text, row.code);
        for (const ClassRow::Band& band : row.bands) {
            text += ',';
            AppendNumber(text, band.segment);
            text += ',';
            AppendNumber(text, band.grayMin);
            text += ',';
            AppendNumber(text, band.grayMax);
            text.append(",").append(band.nativeMin).append(",").append(band.nativeMax);
        }
        text += ',';
        AppendNumber(text, row.pixels);
        text.append(",").append(row.area).append(",").append(row.percent).append("\n");
    }
    return text;
}

std::string ClassTableCsv(ImageSize size, const std::vector<BandRecord>& records,
                          const CodeTable& table, const std::vector<int64_t>& pixelCount,
                          const std::vector<int32_t>& selectedCodes,
                          std::optional<int64_t> nodataPixels, const ClassAreas& areas) {
    return ClassTableCsv(
        MakeClassTable(size, records, table, pixelCount, selectedCodes, nodataPixels, areas));
}

}  // namespace tessera
