#include "bands/rasterband.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <vector>

#include "bands/bandfiles.h"
#include "bands/decodedgroup.h"
#include "bands/gdalapi.h"
#include "bands/graylevels.h"
#include "support/numbers.h"

namespace tessera {

namespace {

// The module's table, once a raster is open (or about to be): loaded then.
const GdalApi& Api() {
    return *Gdal();
}

std::string OpenFailure() {
    std::string why = Api().lastErrorMessage();
    while (!why.empty() && (why.back() == '.' || why.back() == '\n')) why.pop_back();
    if (why.empty()) return "GDAL cannot open it";
    return "GDAL cannot open it (" + why + ")";
}

// A dataset (GDALDatasetH); the module is loaded.
void* OpenDataset(const std::string& path) {
    RegisterGdalDrivers();
    Api().resetError();
    const QuietGdalErrors quiet;
    return Api().openRaster(path.c_str());
}

std::string BandsText(int count) {
    return std::to_string(count) + (count == 1 ? " band" : " bands");
}

// The pixels of a window that `exclusion` masks, in `flags` (none without an exclusion).
Status ExcludedIn(const PixelExclusion* exclusion, int first, int count, int x0, int width,
                  std::vector<uint8_t>& flags) {
    flags.clear();
    if (exclusion == nullptr) return Status::Ok();
    flags.resize(static_cast<size_t>(count) * static_cast<size_t>(width));
    return exclusion->Mark(first, count, x0, width, flags.data());
}

}  // namespace

// One open dataset, shared by the sources of the bands of its file.
struct RasterSource::Handles {
    ~Handles() {
        if (dataset) Api().closeDataset(dataset);
        for (void* other : workers)
            if (other) Api().closeDataset(other);
        if (view) Api().unlinkFile(path.c_str());
    }
    // Worker w > 0 of a read shared among threads reads through a dataset of its own, so that
    // the threads decode side by side; none when it cannot be opened (worker 0's is used).
    void* DatasetOf(int worker) {
        if (worker <= 0) return nullptr;
        const std::lock_guard<std::mutex> lock(opening);
        if (workers.size() < static_cast<size_t>(worker)) workers.resize(worker, nullptr);
        void*& own = workers[worker - 1];
        if (own == nullptr) own = OpenDataset(path);
        return own;
    }
    std::string path;  // what GDAL opens: the file, or the VRT of a view
    bool view = false;
    void* dataset = nullptr;  // GDALDatasetH, as every dataset here
    std::mutex reading;
    std::mutex opening;
    std::vector<void*> workers;
};

Status RasterSource::Excluded(int first, int count, int x0, int width,
                              std::vector<uint8_t>& flags) const {
    flags.clear();
    if (!Excludes()) return Status::Ok();
    const size_t cells = static_cast<size_t>(count) * static_cast<size_t>(width);
    flags.assign(cells, 0);
    std::vector<uint8_t> marked;
    // Pixels the band does not cover have no data of their own; the masks' pixels are masked.
    for (const auto& [exclusion, mark] :
         {std::pair{coverage_.get(), kNodataMark}, std::pair{exclusion_.get(), kMaskedMark}}) {
        if (exclusion == nullptr) continue;
        if (Status read = ExcludedIn(exclusion, first, count, x0, width, marked); !read)
            return read;
        for (size_t i = 0; i < cells; ++i)
            if (marked[i] != 0 && flags[i] == 0) flags[i] = mark;
    }
    return Status::Ok();
}

Status RasterSource::MarkExclusions(int first, int count, int x0, int width, uint8_t* marks) const {
    std::vector<uint8_t> flags;
    if (Status read = Excluded(first, count, x0, width, flags); !read) return read;
    for (size_t i = 0; i < flags.size(); ++i)
        if (marks[i] == 0) marks[i] = flags[i];
    return Status::Ok();
}

Status MarkExcluded(const PixelExclusion& exclusion, int first, int count, int x0, int width,
                    uint8_t* marks) {
    std::vector<uint8_t> masked;
    if (Status read = ExcludedIn(&exclusion, first, count, x0, width, masked); !read) return read;
    for (size_t i = 0; i < masked.size(); ++i)
        if (masked[i] != 0 && marks[i] == 0) marks[i] = kMaskedMark;
    return Status::Ok();
}

std::string RasterRefusal(const std::string& path, int rasterBand, const std::string& why) {
    return "The raster\n" + path + "\nband " + std::to_string(rasterBand) +
           " cannot be loaded: " + why + ".";
}

Status CheckStretch(const std::string& path, int rasterBand, StretchRange range) {
    if (range.minimum < range.maximum) return Status::Ok();
    return Status::Failure(RasterRefusal(path, rasterBand,
                                         "the stretch " + NumberText(range.minimum) + "," +
                                             NumberText(range.maximum) +
                                             " needs a MIN lower than its MAX"));
}

Result<int> CountRasterBands(const std::string& path) {
    using R = Result<int>;
    const auto refused = [&path](const std::string& why) {
        return R::Failure("The raster\n" + path + "\ncannot be loaded: " + why + ".");
    };
    if (Gdal() == nullptr) return refused(GdalUnavailable());
    void* dataset = OpenDataset(path);
    if (dataset == nullptr) return refused(OpenFailure());
    const int count = Api().rasterCount(dataset);
    Api().closeDataset(dataset);
    return R::Of(count);
}

Result<std::vector<int>> ParseBandList(const std::string& text, int bandCount) {
    using R = Result<std::vector<int>>;
    const R refused = R::Failure(" Give 2 to 10 band numbers from 1 to " +
                                 std::to_string(bandCount) + ", as 1,2,3 or 4-9 ");
    std::vector<int> bands;
    size_t at = 0;
    auto number = [&](int& value) {
        while (at < text.size() && text[at] == ' ') ++at;
        const size_t start = at;
        int64_t read = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 9)
            read = read * 10 + (text[at++] - '0');
        while (at < text.size() && text[at] == ' ') ++at;
        value = static_cast<int>(read);
        return at > start && read >= 1 && read <= bandCount;
    };
    while (at < text.size()) {
        int first = 0, last = 0;
        if (!number(first)) return refused;
        last = first;
        if (at < text.size() && text[at] == '-') {
            ++at;
            if (!number(last) || last < first) return refused;
        }
        for (int band = first; band <= last; ++band) {
            bands.push_back(band);
            if (bands.size() > 10) return refused;
        }
        if (at < text.size() && text[at] != ',') return refused;
        if (at < text.size()) ++at;
    }
    if (bands.size() < 2) return refused;
    return R::Of(std::move(bands));
}

RasterSource::~RasterSource() = default;

void RasterSource::SetNodata(std::optional<double> value) {
    if (value) value = NodataOfType(*value, dataType_);
    nodata_ = value;
}

int64_t RasterSource::BlockRowBytes() const {
    return blockRowBytes_;
}

Result<std::string> RasterSource::MakeView(const std::string& path, int rasterBand,
                                           const RasterView& view) {
    const GdalApi& gdal = Api();
    // Each view is a VRT of its own in GDAL's memory files, removed with its dataset.
    static std::atomic<int64_t> views{0};
    std::string opened = "/vsimem/tessera-view-" + std::to_string(++views) + ".vrt";
    std::vector<std::string> arguments = view.arguments;
    arguments.insert(arguments.end(), {"-of", "VRT"});
    if (view.tool == RasterView::Tool::Warp) arguments.push_back("-dstalpha");
    std::vector<const char*> list;
    for (const std::string& argument : arguments) list.push_back(argument.c_str());
    list.push_back(nullptr);
    RegisterGdalDrivers();
    gdal.resetError();
    const QuietGdalErrors quiet;
    const int made = view.tool == RasterView::Tool::Warp
                         ? gdal.warpView(path.c_str(), list.data(), opened.c_str())
                         : gdal.translateView(path.c_str(), list.data(), opened.c_str());
    if (!made) {
        gdal.unlinkFile(opened.c_str());
        return Result<std::string>::Failure(RasterRefusal(path, rasterBand, OpenFailure()));
    }
    return Result<std::string>::Of(std::move(opened));
}

Result<std::shared_ptr<RasterSource::Handles>> RasterSource::SharedHandles(
    const std::string& path, int rasterBand, const std::string& opened, bool view) {
    using R = Result<std::shared_ptr<Handles>>;
    // The datasets open now, by path: a second band of a file opens no second dataset.
    static std::mutex openLock;
    static std::map<std::string, std::weak_ptr<Handles>> open;
    const std::lock_guard<std::mutex> lock(openLock);
    std::shared_ptr<Handles> handles = open[opened].lock();
    if (!handles) {
        void* dataset = OpenDataset(opened);
        if (dataset == nullptr) {
            open.erase(opened);
            if (view) Api().unlinkFile(opened.c_str());
            return R::Failure(RasterRefusal(path, rasterBand, OpenFailure()));
        }
        handles = std::make_shared<Handles>();
        handles->dataset = dataset;
        handles->path = opened;
        handles->view = view;
        open[opened] = handles;
    }
    for (auto at = open.begin(); at != open.end();)
        at = at->second.expired() ? open.erase(at) : std::next(at);
    return R::Of(std::move(handles));
}

Result<std::shared_ptr<RasterSource>> RasterSource::Open(const std::string& path, int rasterBand,
                                                         const RasterView* view) {
    using R = Result<std::shared_ptr<RasterSource>>;
    if (Gdal() == nullptr) return R::Failure(RasterRefusal(path, rasterBand, GdalUnavailable()));
    std::shared_ptr<RasterSource> source(new RasterSource());
    source->path_ = path;
    source->rasterBand_ = rasterBand;
    std::string opened = path;
    if (view) {
        Result<std::string> made = MakeView(path, rasterBand, *view);
        if (!made) return R::Failure(made.message);
        opened = std::move(*made.value);
    }
    Result<std::shared_ptr<Handles>> handles = SharedHandles(path, rasterBand, opened, view);
    if (!handles) return R::Failure(handles.message);
    source->handles_ = std::move(*handles.value);
    // A warped view ends with the alpha band that tells which pixels the file covers.
    const bool warped = view && view->tool == RasterView::Tool::Warp;
    const int count = Api().rasterCount(source->handles_->dataset) - (warped ? 1 : 0);
    if (rasterBand < 1 || rasterBand > count) {
        return R::Failure(RasterRefusal(path, rasterBand,
                                        "the file has " + BandsText(count) + ", there is no band " +
                                            std::to_string(rasterBand)));
    }
    if (Status read = source->ReadFacts(count, warped, opened); !read)
        return R::Failure(read.message);
    return R::Of(std::move(source));
}

Status RasterSource::ReadFacts(int count, bool warped, const std::string& opened) {
    const GdalApi& gdal = Api();
    void* dataset = handles_->dataset;
    const std::string& path = path_;
    const int rasterBand = rasterBand_;
    void* band = gdal.rasterBand(dataset, rasterBand);
    band_ = band;
    GdalBandFacts facts;
    gdal.bandFacts(band, &facts);
    size_ = ImageSize{facts.lines, facts.columns};
    if (const Status usable = CheckImageSize(size_); !usable)
        return Status::Failure(RasterRefusal(path, rasterBand, usable.message));
    const char* name = facts.typeName;
    dataType_ = name ? name : "Unknown";
    if (facts.isComplex)
        return Status::Failure(RasterRefusal(path, rasterBand,
                                             "its values are complex numbers (" + dataType_ +
                                                 "), which have no order to cut into segments"));
    const char* pixelType = gdal.metadataItem(band, "PIXELTYPE", "IMAGE_STRUCTURE");
    isSignedByte_ =
        facts.isByte && pixelType != nullptr && std::strcmp(pixelType, "SIGNEDBYTE") == 0;
    if (isSignedByte_) dataType_ = "Int8";
    isByte_ = facts.isByte && !isSignedByte_;
    isFloating_ = facts.isFloating != 0;
    const int blockColumns = facts.blockColumns, blockLines = facts.blockLines;
    blockLines_ = std::max(blockLines, 1);
    blockColumns_ = std::max(blockColumns, 1);
    const char* interleave = gdal.metadataItem(dataset, "INTERLEAVE", "IMAGE_STRUCTURE");
    const bool pixelInterleaved =
        count > 1 && interleave != nullptr && std::strcmp(interleave, "PIXEL") == 0;
    sharesBlocks_ = pixelInterleaved;
    fileBands_ = count;
    const int64_t blockWidth = std::max(blockColumns, 1);
    const int64_t paddedColumns =
        (int64_t{size_.columns} + blockWidth - 1) / blockWidth * blockWidth;
    blockRowBytes_ =
        int64_t{blockLines_} * paddedColumns * facts.typeBytes * (pixelInterleaved ? count : 1);
    if (facts.hasNodata) SetNodata(facts.nodata);
    if (facts.hasScaling) SetScaling(Scaling{facts.scale, facts.offset});
    if (warped) {
        // The view marks the file's nodata pixels as not covered; its value is the file's.
        Result<std::shared_ptr<RasterSource>> own = Open(path, rasterBand);
        if (!own) return Status::Failure(own.message);
        if (!facts.hasNodata && (*own.value)->fileNodata_) {
            SetNodata((*own.value)->fileNodata_);
            fileNodata_ = nodata_;
        }
        Result<std::shared_ptr<RasterSource>> alpha = Open(opened, count + 1);
        if (!alpha) return Status::Failure(RasterRefusal(path, rasterBand, alpha.message));
        coverageSource_ = *alpha.value;
        coverage_ = std::make_shared<Coverage>(std::move(*alpha.value));
    }
    fileNodata_ = nodata_;
    Georeference place;
    if (gdal.geoTransform(dataset, place.transform.data())) {
        const char* system = gdal.projection(dataset);
        place.coordinateSystem = system ? system : "";
        georeference_ = std::move(place);
    }
    return Status::Ok();
}

void* RasterSource::DatasetFor(int worker, std::unique_lock<std::mutex>& lock) const {
    void* own = handles_->DatasetOf(worker);
    lock = std::unique_lock<std::mutex>(handles_->reading, std::defer_lock);
    if (own == nullptr) lock.lock();
    return own ? own : handles_->dataset;
}

bool RasterSource::ReadBytes(int first, int count, uint8_t* lines) const {
    const std::lock_guard<std::mutex> lock(handles_->reading);
    const QuietGdalErrors quiet;
    return Api().readBand(band_, 0, first, size_.columns, count, lines, kGdalBytes) != 0;
}

void RasterSource::Scale(double* values, size_t count) const {
    if (!scaling_) return;
    const Scaling scaling = *scaling_;
    for (size_t i = 0; i < count; ++i) values[i] = PhysicalValue(values[i], scaling);
}

int RasterSource::WindowColumns() const {
    // About 1024 columns of whole blocks; a file stored in lines is read whole lines wide.
    if (blockLines_ <= 1 || blockColumns_ >= size_.columns) return size_.columns;
    // The bands of a pixel-interleaved file are read together: as many columns in all.
    const int wide = 1024 / (sharesBlocks_ ? std::max(fileBands_, 1) : 1);
    return std::min(size_.columns, std::max(1, wide / blockColumns_) * blockColumns_);
}

bool RasterSource::KeepsBlocksAsDecoded() const {
    if (!kept_) return false;
    static const char* const kKeptAsStored[] = {"Byte",   "Int8",  "UInt16",  "Int16",
                                                "UInt32", "Int32", "Float32", "Float64"};
    return std::any_of(std::begin(kKeptAsStored), std::end(kKeptAsStored),
                       [&](const char* name) { return dataType_ == name; }) &&
           kept_->BlockLines() == blockLines_ && kept_->BlockColumns() == blockColumns_;
}

void RasterSource::KeepDecoded(std::shared_ptr<KeptValues> kept,
                               std::shared_ptr<KeptValues> coverage) {
    kept_ = std::move(kept);
    if (coverageSource_) coverageSource_->kept_ = std::move(coverage);
}

std::vector<std::shared_ptr<KeptValues>> RasterSource::DropKept() {
    std::vector<std::shared_ptr<KeptValues>> dropped;
    if (kept_) dropped.push_back(std::move(kept_));
    if (coverageSource_ && coverageSource_->kept_)
        dropped.push_back(std::move(coverageSource_->kept_));
    kept_.reset();
    if (coverageSource_) coverageSource_->kept_.reset();
    return dropped;
}

bool RasterSource::KeepGrayLevels() {
    if (!kept_ || isByte_ || !stretch_) return false;
    KeptValues::GrayKeeping keeping;
    keeping.key = KeyOfGray();
    if (KeptValues::BytesOf(kept_->KindKept()) == 2) {
        keeping.table = TableOfGray();
    } else {
        keeping.convert = [conversion = ConversionToGray(), scaling = scaling_](
                              double* values, size_t count, uint8_t* gray, uint8_t* marks) {
            if (scaling)
                for (size_t i = 0; i < count; ++i) values[i] = PhysicalValue(values[i], *scaling);
            ValuesToGray(values, count, conversion, gray, marks);
        };
    }
    return kept_->KeepGrayLevels(std::move(keeping));
}

void RasterSource::KeepRowAsGray(int row, int worker) const {
    if (!kept_) return;
    // Block by block, a block not kept decoded just before it becomes gray levels: no more
    // than a block of values a thread at a time.
    const int first = row * blockLines_;
    const int lines = std::min(blockLines_, size_.lines - first);
    for (int column = 0; column < kept_->BlockColumnsAcross(); ++column) {
        if (!kept_->HoldsBlock(row, column)) {
            const int left = column * blockColumns_;
            DecodedGroup({this}, worker)
                .KeepWhatIsMissing(
                    {first, lines, left, std::min(blockColumns_, size_.columns - left)});
        }
        kept_->KeepBlockAsGray(row, column);
    }
}

void RasterSource::TrimKept(bool later) {
    if (kept_) kept_->TrimPool(later);
}

bool RasterSource::KeptStatistics(Histogram& histogram, int64_t& withoutData,
                                  int64_t& nonFinite) const {
    if (!kept_ || Excludes() || isByte_ || !stretch_) return false;
    return kept_->GrayStatistics(KeyOfGray(), histogram, withoutData, nonFinite);
}

GrayKey RasterSource::KeyOfGray() const {
    return tessera::KeyOfGray(scaling_, ConversionToGray());
}

bool RasterSource::ReadsFromKept() const {
    return kept_ &&
           (KeptValues::BytesOf(kept_->KindKept()) <= 2 || kept_->KeepsGrayOf(KeyOfGray())) &&
           kept_->Holds(0, size_.lines, 0, size_.columns);
}

int64_t RasterSource::KeptBytes() const {
    return KeptValues::BytesFor(size_, blockLines_, blockColumns_, KeptValues::KindOf(dataType_));
}

int64_t RasterSource::CoverageKeptBytes() const {
    return coverageSource_ ? coverageSource_->KeptBytes() : 0;
}

void RasterSource::KeepDecodedValues(const std::vector<RasterSource*>& sources, int64_t memoryBytes,
                                     const std::string& spillFolder) {
    int64_t used = 0;
    // One pool for all: a band's values become gray levels, and the next band's take their
    // memory.
    const auto pool = std::make_shared<KeptBlockPool>();
    const auto make = [&](const RasterSource& source) -> std::shared_ptr<KeptValues> {
        const int64_t need = source.KeptBytes();
        const bool inMemory = used + need <= memoryBytes;
        if (!inMemory && spillFolder.empty()) return nullptr;
        Result<std::unique_ptr<KeptValues>> made =
            KeptValues::Make(source.size_, source.blockLines_, source.blockColumns_,
                             KeptValues::KindOf(source.dataType_), inMemory ? "" : spillFolder,
                             pool);
        if (!made) return nullptr;
        if (inMemory) used += need;
        return std::shared_ptr<KeptValues>(std::move(*made.value));
    };
    for (RasterSource* source : sources) {
        if (source == nullptr || source->kept_) continue;
        std::shared_ptr<KeptValues> values = make(*source);
        std::shared_ptr<KeptValues> coverage =
            source->coverageSource_ ? make(*source->coverageSource_) : nullptr;
        source->KeepDecoded(std::move(values), std::move(coverage));
    }
}

void RasterSource::KeepValuesWithinGrayLevels(const std::vector<RasterSource*>& sources) {
    // What each keeps once the ranges are known: a byte a pixel for values that become gray
    // levels, the values themselves for 8-bit ones.
    const auto keptInMemory = [](const RasterSource* source) {
        return source != nullptr && source->kept_ && !source->kept_->Spilled();
    };
    const auto finally = [](const RasterSource& source) {
        return KeptValues::BytesOf(source.kept_->KindKept()) == 1
                   ? source.KeptBytes()
                   : int64_t{source.size_.lines} * source.size_.columns;
    };
    int64_t total = 0;
    for (const RasterSource* source : sources) {
        if (!keptInMemory(source)) continue;
        if (source->percentiles_ && !source->stretch_) return;
        total += finally(*source);
    }
    // The bands limited, in the order they are read, and how many blocks each keeps.
    std::vector<std::pair<KeptValues*, int64_t>> limited;
    int64_t before = 0;
    for (RasterSource* source : sources) {
        if (!keptInMemory(source) || !source->NeedsStretch()) continue;
        if (!source->sharesBlocks_ && source->KeepsBlocksAsDecoded() &&
            KeptValues::BytesOf(source->kept_->KindKept()) > 1)
            limited.push_back({source->kept_.get(), (total - before) / source->kept_->SlotBytes()});
        before += finally(*source);
    }
    for (size_t i = 0; i < limited.size(); ++i) {
        const int64_t next =
            i + 1 < limited.size() ? limited[i + 1].second * limited[i + 1].first->SlotBytes() : 0;
        limited[i].first->LimitValues(limited[i].second, next);
    }
}

std::shared_ptr<const GrayTable> RasterSource::TableOfGray() const {
    return grayTables_.Get(KeptValues::KindOf(dataType_), scaling_, ConversionToGray());
}

std::optional<double> RasterSource::NodataAsRead() const {
    // Values read are physical: so is the stored nodata value, by the same arithmetic.
    if (!nodata_ || !scaling_) return nodata_;
    return *nodata_ * scaling_->scale + scaling_->offset;
}

bool RasterSource::IsNodata(double value) const {
    return IsNodataValue(value, NodataAsRead());
}

namespace {

bool SameCoordinateSystem(const std::string& first, const std::string& second) {
    if (first == second) return true;
    if (first.empty() || second.empty()) return false;
    // Without the module neither can be read: they are not known to be the same.
    const GdalApi* gdal = Gdal();
    return gdal != nullptr && gdal->sameSystem(first.c_str(), second.c_str()) != 0;
}

}  // namespace

std::string GeoreferenceDifference(const Georeference& first, const Georeference& second) {
    const auto& s = first.transform;
    const auto& t = second.transform;
    // A millionth of the larger pixel side, in map units.
    const double pixel =
        std::max({std::fabs(s[1]), std::fabs(s[2]), std::fabs(s[4]), std::fabs(s[5])});
    const double tolerance = pixel * 1e-6;
    for (int i = 0; i < 6; ++i) {
        if (!(std::fabs(s[i] - t[i]) <= tolerance))
            return i == 0 || i == 3 ? "their origins differ" : "their pixel grids differ";
    }
    if (!SameCoordinateSystem(first.coordinateSystem, second.coordinateSystem))
        return "their coordinate systems differ";
    return {};
}

GrayConversion RasterSource::ConversionToGray() const {
    // An 8-bit band holds nothing beyond 0..255; a band without its stretch yet is clamped as
    // GDAL reads a band as bytes, its nodata value a gray level.
    const bool stretched = !isByte_ && stretch_;
    return GrayConversion{stretched ? stretch_ : std::nullopt,
                          stretched ? NodataAsRead() : nodata_};
}

void RasterSource::ToGray(const double* values, size_t cells, uint8_t* lines,
                          uint8_t* nodata) const {
    ValuesToGray(values, cells, ConversionToGray(), lines, nodata);
}

void MarkGrayNodata(const uint8_t* gray, size_t count, const std::optional<double>& value,
                    uint8_t* nodata) {
    // A value that is no gray level marks no pixel.
    if (!value || !(*value >= 0 && *value <= 255) || *value != std::floor(*value)) {
        std::memset(nodata, 0, count);
        return;
    }
    const uint8_t level = static_cast<uint8_t>(*value);
    for (size_t i = 0; i < count; ++i) nodata[i] = gray[i] == level ? 1 : 0;
}

}  // namespace tessera
