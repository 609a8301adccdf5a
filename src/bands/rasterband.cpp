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
#include "bands/gdalapi.h"
#include "bands/graylevels.h"
#include "support/numbers.h"
#include "support/parallel.h"

namespace tessera {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

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

// The pixels of a warped view that its file does not cover: alpha 0.
class Coverage : public PixelExclusion {
  public:
    explicit Coverage(std::shared_ptr<RasterSource> alpha) : alpha_(std::move(alpha)) {}
    Status Mark(int first, int count, int x0, int width, uint8_t* masked) const override {
        const size_t cells = static_cast<size_t>(count) * static_cast<size_t>(width);
        thread_local std::vector<double> values;
        values.resize(cells);
        if (Status read = alpha_->ReadValues(first, count, x0, width, values.data()); !read)
            return read;
        for (size_t i = 0; i < cells; ++i) masked[i] = values[i] == 0 ? 1 : 0;
        return Status::Ok();
    }

  private:
    std::shared_ptr<RasterSource> alpha_;
};

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

std::string RasterTypeHint(const std::string& refusal, const std::string& chosenEntry,
                           const std::string& rawEntry) {
    // GDAL's words for a file no driver takes ("not recognized as a supported file format",
    // "as being in a supported file format" in later versions).
    if (refusal.find("not recognized as") == std::string::npos) return {};
    return "\nThe file type list of the dialog decides how a file is read: it says " + chosenEntry +
           ". Choose " + rawEntry + " there to read a raw image.";
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

Result<std::shared_ptr<RasterSource>> RasterSource::Open(const std::string& path, int rasterBand,
                                                         const RasterView* view) {
    using R = Result<std::shared_ptr<RasterSource>>;
    if (Gdal() == nullptr) return R::Failure(RasterRefusal(path, rasterBand, GdalUnavailable()));
    const GdalApi& gdal = Api();
    std::shared_ptr<RasterSource> source(new RasterSource());
    source->path_ = path;
    source->rasterBand_ = rasterBand;
    std::string opened = path;
    if (view) {
        // Each view is a VRT of its own in GDAL's memory files, removed with its dataset.
        static std::atomic<int64_t> views{0};
        opened = "/vsimem/tessera-view-" + std::to_string(++views) + ".vrt";
        std::vector<std::string> arguments = view->arguments;
        arguments.insert(arguments.end(), {"-of", "VRT"});
        if (view->tool == RasterView::Tool::Warp) arguments.push_back("-dstalpha");
        std::vector<const char*> list;
        for (const std::string& argument : arguments) list.push_back(argument.c_str());
        list.push_back(nullptr);
        RegisterGdalDrivers();
        gdal.resetError();
        const QuietGdalErrors quiet;
        const int made = view->tool == RasterView::Tool::Warp
                             ? gdal.warpView(path.c_str(), list.data(), opened.c_str())
                             : gdal.translateView(path.c_str(), list.data(), opened.c_str());
        if (!made) {
            gdal.unlinkFile(opened.c_str());
            return R::Failure(RasterRefusal(path, rasterBand, OpenFailure()));
        }
    }
    {
        // The datasets open now, by path: a second band of a file opens no second dataset.
        static std::mutex openLock;
        static std::map<std::string, std::weak_ptr<Handles>> open;
        const std::lock_guard<std::mutex> lock(openLock);
        source->handles_ = open[opened].lock();
        if (!source->handles_) {
            void* dataset = OpenDataset(opened);
            if (dataset == nullptr) {
                open.erase(opened);
                if (view) gdal.unlinkFile(opened.c_str());
                return R::Failure(RasterRefusal(path, rasterBand, OpenFailure()));
            }
            source->handles_ = std::make_shared<Handles>();
            source->handles_->dataset = dataset;
            source->handles_->path = opened;
            source->handles_->view = view != nullptr;
            open[opened] = source->handles_;
        }
        for (auto at = open.begin(); at != open.end();)
            at = at->second.expired() ? open.erase(at) : std::next(at);
    }
    void* dataset = source->handles_->dataset;
    // A warped view ends with the alpha band that tells which pixels the file covers.
    const bool warped = view && view->tool == RasterView::Tool::Warp;
    const int count = gdal.rasterCount(dataset) - (warped ? 1 : 0);
    if (rasterBand < 1 || rasterBand > count) {
        return R::Failure(RasterRefusal(path, rasterBand,
                                        "the file has " + BandsText(count) + ", there is no band " +
                                            std::to_string(rasterBand)));
    }
    void* band = gdal.rasterBand(dataset, rasterBand);
    source->band_ = band;
    GdalBandFacts facts;
    gdal.bandFacts(band, &facts);
    source->size_ = ImageSize{facts.lines, facts.columns};
    if (const Status usable = CheckImageSize(source->size_); !usable)
        return R::Failure(RasterRefusal(path, rasterBand, usable.message));
    const char* name = facts.typeName;
    source->dataType_ = name ? name : "Unknown";
    if (facts.isComplex)
        return R::Failure(RasterRefusal(path, rasterBand,
                                        "its values are complex numbers (" + source->dataType_ +
                                            "), which have no order to cut into segments"));
    const char* pixelType = gdal.metadataItem(band, "PIXELTYPE", "IMAGE_STRUCTURE");
    source->isSignedByte_ =
        facts.isByte && pixelType != nullptr && std::strcmp(pixelType, "SIGNEDBYTE") == 0;
    if (source->isSignedByte_) source->dataType_ = "Int8";
    source->isByte_ = facts.isByte && !source->isSignedByte_;
    source->isFloating_ = facts.isFloating != 0;
    const int blockColumns = facts.blockColumns, blockLines = facts.blockLines;
    source->blockLines_ = std::max(blockLines, 1);
    source->blockColumns_ = std::max(blockColumns, 1);
    const char* interleave = gdal.metadataItem(dataset, "INTERLEAVE", "IMAGE_STRUCTURE");
    const bool pixelInterleaved =
        count > 1 && interleave != nullptr && std::strcmp(interleave, "PIXEL") == 0;
    source->sharesBlocks_ = pixelInterleaved;
    source->fileBands_ = count;
    const int64_t blockWidth = std::max(blockColumns, 1);
    const int64_t paddedColumns =
        (int64_t{source->size_.columns} + blockWidth - 1) / blockWidth * blockWidth;
    source->blockRowBytes_ = int64_t{source->blockLines_} * paddedColumns * facts.typeBytes *
                             (pixelInterleaved ? count : 1);
    if (facts.hasNodata) source->SetNodata(facts.nodata);
    if (facts.hasScaling) source->SetScaling(Scaling{facts.scale, facts.offset});
    if (warped) {
        // The view marks the file's nodata pixels as not covered; its value is the file's.
        Result<std::shared_ptr<RasterSource>> own = Open(path, rasterBand);
        if (!own) return own;
        if (!facts.hasNodata && (*own.value)->fileNodata_) {
            source->SetNodata((*own.value)->fileNodata_);
            source->fileNodata_ = source->nodata_;
        }
        Result<std::shared_ptr<RasterSource>> alpha = Open(opened, count + 1);
        if (!alpha) return R::Failure(RasterRefusal(path, rasterBand, alpha.message));
        source->coverageSource_ = *alpha.value;
        source->coverage_ = std::make_shared<Coverage>(std::move(*alpha.value));
    }
    source->fileNodata_ = source->nodata_;
    Georeference place;
    if (gdal.geoTransform(dataset, place.transform.data())) {
        const char* system = gdal.projection(dataset);
        place.coordinateSystem = system ? system : "";
        source->georeference_ = std::move(place);
    }
    return R::Of(std::move(source));
}

void RasterSource::Scale(double* values, size_t count) const {
    if (!scaling_) return;
    const Scaling scaling = *scaling_;
    for (size_t i = 0; i < count; ++i) values[i] = PhysicalValue(values[i], scaling);
}

bool RasterSource::ReadNative(int first, int count, double* values) const {
    return ReadWindow({this}, first, count, 0, size_.columns, values, 0);
}

Status RasterSource::ReadValues(int first, int count, int x0, int width, double* values) const {
    if (ReadWindow({this}, first, count, x0, width, values, 0)) return Status::Ok();
    return ReadFailure(first, count);
}

int RasterSource::WindowColumns() const {
    // About 1024 columns of whole blocks; a file stored in lines is read whole lines wide.
    if (blockLines_ <= 1 || blockColumns_ >= size_.columns) return size_.columns;
    // The bands of a pixel-interleaved file are read together: as many columns in all.
    const int wide = 1024 / (sharesBlocks_ ? std::max(fileBands_, 1) : 1);
    return std::min(size_.columns, std::max(1, wide / blockColumns_) * blockColumns_);
}

bool RasterSource::DecodeWindow(const std::vector<const RasterSource*>& group, int first, int count,
                                int x0, int width, double* values, int worker) {
    const RasterSource& lead = *group[0];
    void* own = lead.handles_->DatasetOf(worker);
    // The shared dataset serves one thread at a time; a worker's own serves only that worker.
    std::unique_lock<std::mutex> lock(lead.handles_->reading, std::defer_lock);
    if (own == nullptr) lock.lock();
    void* dataset = own ? own : lead.handles_->dataset;
    const QuietGdalErrors quiet;
    std::vector<int> bands;
    for (const RasterSource* source : group) bands.push_back(source->rasterBand_);
    if (!Api().readBands(dataset, x0, first, width, count, values, static_cast<int>(bands.size()),
                         bands.data()))
        return false;
    // GDAL gives signed bytes as unsigned.
    const size_t cells = static_cast<size_t>(count) * width;
    for (size_t g = 0; g < group.size(); ++g) {
        double* band = values + g * cells;
        if (group[g]->isSignedByte_)
            for (size_t i = 0; i < cells; ++i)
                band[i] = static_cast<int8_t>(static_cast<uint8_t>(band[i]));
    }
    return true;
}

bool RasterSource::KeepsBlocksAsDecoded() const {
    if (!kept_) return false;
    static const char* const kKeptAsStored[] = {"Byte",   "Int8",  "UInt16",  "Int16",
                                                "UInt32", "Int32", "Float32", "Float64"};
    return std::any_of(std::begin(kKeptAsStored), std::end(kKeptAsStored),
                       [&](const char* name) { return dataType_ == name; }) &&
           kept_->BlockLines() == blockLines_ && kept_->BlockColumns() == blockColumns_;
}

bool RasterSource::KeepBlocksTogether(const std::vector<const RasterSource*>& group) {
    const RasterSource& lead = *group[0];
    return std::all_of(group.begin(), group.end(), [&](const RasterSource* source) {
        return source->KeepsBlocksAsDecoded() && source->blockLines_ == lead.blockLines_ &&
               source->blockColumns_ == lead.blockColumns_;
    });
}

std::optional<bool> RasterSource::DecodeBlocksInto(const std::vector<const RasterSource*>& group,
                                                   int first, int count, int x0, int width,
                                                   int worker) {
    const RasterSource& lead = *group[0];
    void* own = lead.handles_->DatasetOf(worker);
    std::unique_lock<std::mutex> lock(lead.handles_->reading, std::defer_lock);
    if (own == nullptr) lock.lock();
    const QuietGdalErrors quiet;
    std::vector<void*> bands;
    for (const RasterSource* source : group) {
        bands.push_back(Api().rasterBand(own ? own : lead.handles_->dataset, source->rasterBand_));
        if (bands.back() == nullptr) return false;
    }
    // Block by block, every band of the group: GDAL decodes a block of a pixel-interleaved
    // file once for all of its bands.
    for (int by = first / lead.blockLines_; by * lead.blockLines_ < first + count; ++by) {
        for (int bx = x0 / lead.blockColumns_; bx * lead.blockColumns_ < x0 + width; ++bx) {
            for (size_t g = 0; g < group.size(); ++g) {
                const KeptValues::Filled filled = group[g]->kept_->KeepBlock(
                    by, bx,
                    [&](uint8_t* block) { return Api().readBlock(bands[g], bx, by, block) != 0; });
                if (filled == KeptValues::Filled::NotDecoded) return false;
                if (filled == KeptValues::Filled::NotKept) return std::nullopt;
            }
        }
    }
    return true;
}

std::optional<bool> RasterSource::DecodeBlocksAndKeep(const std::vector<const RasterSource*>& group,
                                                      int first, int count, int x0, int width,
                                                      double* values, int worker) {
    const std::optional<bool> decoded = DecodeBlocksInto(group, first, count, x0, width, worker);
    if (!decoded || !*decoded) return decoded;
    // A block another thread is still keeping: decoded here as well.
    const size_t cells = static_cast<size_t>(count) * width;
    for (size_t g = 0; g < group.size(); ++g)
        if (!group[g]->kept_->Read(first, count, x0, width, values + g * cells))
            return std::nullopt;
    return true;
}

bool RasterSource::DecodeAndKeep(const std::vector<const RasterSource*>& group, int first,
                                 int count, int x0, int width, double* values, int worker) {
    const RasterSource& lead = *group[0];
    if (KeepBlocksTogether(group))
        if (const std::optional<bool> read =
                DecodeBlocksAndKeep(group, first, count, x0, width, values, worker))
            return *read;
    const int lines = lead.size_.lines, columns = lead.size_.columns;
    const int blockLines = lead.blockLines_, blockColumns = lead.blockColumns_;
    const size_t cells = static_cast<size_t>(count) * width;
    // Pieces of whole blocks: a row of blocks high, a read window wide.
    const int pieceColumns =
        std::max(blockColumns, lead.WindowColumns() / blockColumns * blockColumns);
    thread_local std::vector<double> piece;
    for (int top = first / blockLines * blockLines; top < first + count; top += blockLines) {
        const int pieceLines = std::min(blockLines, lines - top);
        for (int left = x0 / blockColumns * blockColumns; left < x0 + width; left += pieceColumns) {
            const int pieceWidth = std::min(pieceColumns, columns - left);
            const size_t pieceCells = static_cast<size_t>(pieceLines) * pieceWidth;
            piece.resize(pieceCells * group.size());
            if (!DecodeWindow(group, top, pieceLines, left, pieceWidth, piece.data(), worker))
                return false;
            const int y0 = std::max(first, top), y1 = std::min(first + count, top + pieceLines);
            const int c0 = std::max(x0, left), c1 = std::min(x0 + width, left + pieceWidth);
            for (size_t g = 0; g < group.size(); ++g) {
                const double* decoded = piece.data() + g * pieceCells;
                if (group[g]->kept_)
                    group[g]->kept_->Keep(top, pieceLines, left, pieceWidth, decoded);
                for (int y = y0; y < y1; ++y)
                    std::copy(
                        decoded + static_cast<size_t>(y - top) * pieceWidth + (c0 - left),
                        decoded + static_cast<size_t>(y - top) * pieceWidth + (c1 - left),
                        values + g * cells + static_cast<size_t>(y - first) * width + (c0 - x0));
            }
        }
    }
    return true;
}

bool RasterSource::ReadWindow(const std::vector<const RasterSource*>& group, int first, int count,
                              int x0, int width, double* values, int worker) {
    const size_t cells = static_cast<size_t>(count) * width;
    const bool keeping = std::any_of(group.begin(), group.end(),
                                     [](const RasterSource* source) { return source->kept_; });
    bool read = false;
    if (keeping) {
        // Every band of the group from what was kept, or the group decoded once more.
        read = true;
        for (size_t g = 0; g < group.size() && read; ++g)
            read = group[g]->kept_ &&
                   group[g]->kept_->Read(first, count, x0, width, values + g * cells);
        if (!read) read = DecodeAndKeep(group, first, count, x0, width, values, worker);
    } else {
        read = DecodeWindow(group, first, count, x0, width, values, worker);
    }
    if (!read) return false;
    for (size_t g = 0; g < group.size(); ++g) group[g]->Scale(values + g * cells, cells);
    return true;
}

void RasterSource::KeepDecoded(std::shared_ptr<KeptValues> kept,
                               std::shared_ptr<KeptValues> coverage) {
    kept_ = std::move(kept);
    if (coverageSource_) coverageSource_->kept_ = std::move(coverage);
}

Status RasterSource::CountValues(std::vector<int64_t>& counts, int64_t& lowest, int from,
                                 int lines) const {
    const KeptValues::Kind kind = KeptValues::KindOf(dataType_);
    const bool whole = kind == KeptValues::Kind::U8 || kind == KeptValues::Kind::I8 ||
                       kind == KeptValues::Kind::U16 || kind == KeptValues::Kind::I16;
    if (!whole || scaling_)
        return Status::Failure(RasterRefusal(
            path_, rasterBand_,
            "percentiles over several scenes are taken of whole numbers of at most 16 bits "
            "without a scale, and it holds " +
                (scaling_ ? "physical values" : dataType_ + " values")));
    const bool wide = kind == KeptValues::Kind::U16 || kind == KeptValues::Kind::I16;
    const bool isSigned = kind == KeptValues::Kind::I8 || kind == KeptValues::Kind::I16;
    const int64_t entries = wide ? 65536 : 256;
    lowest = isSigned ? -entries / 2 : 0;
    counts.assign(static_cast<size_t>(entries), 0);
    const int stripLines = std::max(1, (1 << 16) / std::max(size_.columns, 1));
    std::vector<double> values(static_cast<size_t>(stripLines) * size_.columns);
    std::vector<uint8_t> skip;
    const int begin = std::clamp(from, 0, size_.lines);
    const int end = lines < 0 ? size_.lines : std::clamp(from + lines, begin, size_.lines);
    for (int first = begin; first < end; first += stripLines) {
        const int count = std::min(stripLines, end - first);
        const size_t cells = static_cast<size_t>(count) * size_.columns;
        if (!ReadNative(first, count, values.data())) return ReadFailure(first, count);
        if (Status read = Excluded(first, count, 0, size_.columns, skip); !read) return read;
        for (size_t i = 0; i < cells; ++i) {
            if (IsNodata(values[i]) || (!skip.empty() && skip[i] != 0)) continue;
            ++counts[static_cast<size_t>(static_cast<int64_t>(values[i]) - lowest)];
        }
    }
    return Status::Ok();
}

bool RasterSource::ReadsFromKept() const {
    return kept_ && KeptValues::BytesOf(kept_->KindKept()) <= 2 &&
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
    const auto make = [&](const RasterSource& source) -> std::shared_ptr<KeptValues> {
        const int64_t need = source.KeptBytes();
        const bool inMemory = used + need <= memoryBytes;
        if (!inMemory && spillFolder.empty()) return nullptr;
        Result<std::unique_ptr<KeptValues>> made =
            KeptValues::Make(source.size_, source.blockLines_, source.blockColumns_,
                             KeptValues::KindOf(source.dataType_), inMemory ? "" : spillFolder);
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

std::shared_ptr<const RasterSource::GrayTable> RasterSource::TableOfGray() const {
    const auto bits = [](double value) { return std::bit_cast<uint64_t>(value); };
    const bool stretched = !isByte_ && stretch_;
    const std::optional<double> nodata = stretched ? NodataAsRead() : nodata_;
    std::vector<uint64_t> key = {stretched,
                                 stretched ? bits(stretch_->minimum) : 0,
                                 stretched ? bits(stretch_->maximum) : 0,
                                 nodata.has_value(),
                                 nodata ? bits(*nodata) : 0,
                                 scaling_.has_value(),
                                 scaling_ ? bits(scaling_->scale) : 0,
                                 scaling_ ? bits(scaling_->offset) : 0};
    const std::lock_guard<std::mutex> lock(tableLock_);
    if (table_ && table_->madeFor == key) return table_;
    auto table = std::make_shared<GrayTable>();
    table->madeFor = std::move(key);
    const KeptValues::Kind kind = KeptValues::KindOf(dataType_);
    const bool wide = kind == KeptValues::Kind::U16 || kind == KeptValues::Kind::I16;
    const bool isSigned = kind == KeptValues::Kind::I8 || kind == KeptValues::Kind::I16;
    const int entries = wide ? 65536 : 256;
    table->lowest = isSigned ? -entries / 2 : 0;
    std::vector<double> values(static_cast<size_t>(entries));
    for (int i = 0; i < entries; ++i) values[static_cast<size_t>(i)] = table->lowest + i;
    Scale(values.data(), values.size());
    table->gray.resize(values.size());
    table->marks.resize(values.size());
    ToGray(values.data(), values.size(), table->gray.data(), table->marks.data());
    table_ = table;
    return table_;
}

Status RasterSource::ReadWindowRows(const std::vector<const RasterSource*>& group, int first,
                                    int count, int x0, int width, uint8_t* const* gray,
                                    size_t grayStride, uint8_t* const* marks, int worker,
                                    std::vector<double>& values) {
    const RasterSource& lead = *group[0];
    // Values kept of at most 16 bits become gray levels through a table of every value; blocks
    // not kept yet are decoded into what is kept first. (Where GDAL fails, the window is read
    // as below, which names the line that fails.)
    if (KeepBlocksTogether(group) &&
        std::any_of(group.begin(), group.end(), [&](const RasterSource* source) {
            return !source->kept_->Holds(first, count, x0, width);
        }))
        DecodeBlocksInto(group, first, count, x0, width, worker);
    bool through = true;
    for (size_t g = 0; g < group.size() && through; ++g) {
        const RasterSource& source = *group[g];
        through = source.kept_ && KeptValues::BytesOf(source.kept_->KindKept()) <= 2 &&
                  source.kept_->Holds(first, count, x0, width);
    }
    for (size_t g = 0; g < group.size() && through; ++g) {
        const RasterSource& source = *group[g];
        const std::shared_ptr<const GrayTable> table = source.TableOfGray();
        through = source.kept_->ReadThrough(first, count, x0, width, table->gray.data(),
                                            table->marks.data(), table->lowest, gray[g] + x0,
                                            grayStride, marks[g]);
    }
    if (!through) {
        const size_t cells = static_cast<size_t>(count) * width;
        if (values.size() < cells * group.size()) values.resize(cells * group.size());
        if (!ReadWindow(group, first, count, x0, width, values.data(), worker)) {
            // The refusal of the first band and line that fail.
            for (const RasterSource* source : group) {
                std::vector<uint8_t> lines(static_cast<size_t>(lead.size_.columns) * count);
                if (Status read = source->ReadLines(first, count, lines.data()); !read) return read;
            }
            return lead.ReadFailure(first, count);
        }
        for (size_t g = 0; g < group.size(); ++g)
            for (int y = 0; y < count; ++y)
                group[g]->ToGray(values.data() + g * cells + static_cast<size_t>(y) * width,
                                 static_cast<size_t>(width), gray[g] + y * grayStride + x0,
                                 marks[g] ? marks[g] + static_cast<size_t>(y) * width : nullptr);
    }
    for (size_t g = 0; g < group.size(); ++g) {
        if (marks[g] == nullptr || !group[g]->Excludes()) continue;
        if (Status masked = group[g]->MarkExclusions(first, count, x0, width, marks[g]); !masked)
            return masked;
    }
    return Status::Ok();
}

Status RasterSource::RangeOfRows(const std::vector<const RasterSource*>& group, int first,
                                 int count, int x0, int width, double* low, double* high,
                                 int worker, std::vector<double>& values) {
    const RasterSource& lead = *group[0];
    const int columns = lead.size_.columns;
    // A few lines at a time: some 64 Ki values of every band of the group.
    const int step = static_cast<int>(std::clamp<int64_t>(
        (int64_t{1} << 16) / (int64_t{width} * static_cast<int64_t>(group.size())), 1, count));
    const size_t wanted = static_cast<size_t>(step) * width * group.size();
    if (values.size() < wanted) values.resize(wanted);
    for (int top = first; top < first + count; top += step) {
        const int lines = std::min(step, first + count - top);
        const size_t cells = static_cast<size_t>(lines) * width;
        if (!ReadWindow(group, top, lines, x0, width, values.data(), worker)) {
            for (const RasterSource* source : group) {
                std::vector<double> line(static_cast<size_t>(columns));
                for (int y = top; y < top + lines; ++y)
                    if (!source->ReadNative(y, 1, line.data())) return source->ReadFailure(y, 1);
            }
            return lead.ReadFailure(top, lines);
        }
        std::vector<uint8_t> masked;
        for (size_t g = 0; g < group.size(); ++g) {
            const RasterSource& source = *group[g];
            if (Status read = source.Excluded(top, lines, x0, width, masked); !read) return read;
            const double* band = values.data() + g * cells;
            const std::optional<double> nodata = source.NodataAsRead();
            double least = low[g], most = high[g];
            for (size_t i = 0; i < cells; ++i) {
                const double value = band[i];
                if (!std::isfinite(value) || IsNodataValue(value, nodata)) continue;
                if (!masked.empty() && masked[i] != 0) continue;
                least = value < least ? value : least;
                most = value > most ? value : most;
            }
            low[g] = least;
            high[g] = most;
        }
    }
    return Status::Ok();
}

Status RasterSource::ReadFailure(int first, int count) const {
    // The first line that fails: the strip decoded again line by line, as GDAL reads lines.
    int failed = first;
    std::vector<double> line(static_cast<size_t>(size_.columns));
    const auto decode = [&](int y) {
        return DecodeWindow({this}, y, 1, 0, size_.columns, line.data(), 0);
    };
    for (int y = first; y < first + count; ++y) {
        if (!decode(y)) {
            failed = y;
            break;
        }
    }
    std::string why;
    {
        const QuietGdalErrors quiet;
        Api().resetError();
        decode(failed);
        why = Api().lastErrorMessage();
    }
    while (!why.empty() && (why.back() == '.' || why.back() == '\n')) why.pop_back();
    // GDAL names the file and the band again: the refusal already does.
    const std::string named = path_ + ", band " + std::to_string(rasterBand_) + ": ";
    if (why.compare(0, named.size(), named) == 0) why.erase(0, named.size());
    return Status::Failure(RasterRefusal(path_, rasterBand_,
                                         "GDAL cannot read its line " + std::to_string(failed + 1) +
                                             (why.empty() ? std::string() : " (" + why + ")")));
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

std::string AllNodataReason(const std::optional<double>& nodata, bool floating) {
    if (!nodata)
        return "every pixel holds NaN or an infinite value, which leaves no data to segment";
    return "every pixel holds its nodata value " + NumberText(*nodata) +
           (floating ? ", NaN or an infinite value" : "") + ", which leaves no data to segment";
}

Status RasterSource::ChooseStretch(const std::optional<StretchRange>& given) {
    if (given) {
        if (const Status usable = CheckStretch(path_, rasterBand_, *given); !usable) return usable;
    }
    if (isByte_) return Status::Ok();
    if (given) {
        stretch_ = given;
        return Status::Ok();
    }
    if (percentiles_) return TakePercentileStretch();
    const Result<ValueRange> range = FindRange();
    if (!range) return Status::Failure(range.message);
    return TakeOwnRange(range.value->low, range.value->high);
}

Status RasterSource::ChoosePercentileStretches(const std::vector<RasterSource*>& sources) {
    for (RasterSource* source : sources) {
        if (source->isByte_ || source->stretch_ || !source->percentiles_) continue;
        if (Status chosen = source->TakePercentileStretch(); !chosen) return chosen;
    }
    return Status::Ok();
}

Status RasterSource::TakePercentileStretch() {
    RankFinder finder = NewPercentileFinder();
    if (Status counted = CountPercentileLines(finder, 0, size_.lines); !counted) return counted;
    if (Status ranked = RankPercentileFinder(finder); !ranked) return ranked;
    while (!finder.Done()) {
        if (Status read = CountPercentileLines(finder, 0, size_.lines); !read) return read;
        finder.EndPass();
    }
    return TakePercentilesFound(finder);
}

RankFinder RasterSource::NewPercentileFinder() const {
    // Whole numbers of up to 16 bits are found in one pass after the count, of 32 bits in
    // two; other values in four.
    int keyBits = 64;
    int64_t lowest = 0;
    if (dataType_ == "Int8" || dataType_ == "Int16") keyBits = 16, lowest = -32768;
    if (dataType_ == "UInt16") keyBits = 16;
    if (dataType_ == "Int32") keyBits = 32, lowest = INT32_MIN;
    if (dataType_ == "UInt32") keyBits = 32;
    if (scaling_) keyBits = 64, lowest = 0;
    return RankFinder(keyBits, lowest);
}

Status RasterSource::CountPercentileLines(RankFinder& finder, int first, int count) const {
    const int stripLines = std::max(1, (1 << 16) / std::max(size_.columns, 1));
    const int end = std::min(first + count, size_.lines);
    std::vector<double> values(static_cast<size_t>(std::min(stripLines, std::max(count, 1))) *
                               size_.columns);
    std::vector<uint8_t> skip;
    for (int top = std::max(first, 0); top < end; top += stripLines) {
        const int lines = std::min(stripLines, end - top);
        const size_t cells = static_cast<size_t>(lines) * size_.columns;
        if (!ReadNative(top, lines, values.data())) return ReadFailure(top, lines);
        if (Status read = Excluded(top, lines, 0, size_.columns, skip); !read) return read;
        skip.resize(cells, 0);
        for (size_t i = 0; i < cells; ++i)
            if (IsNodata(values[i])) skip[i] = 1;
        finder.Add(values.data(), skip.data(), cells);
    }
    return Status::Ok();
}

RasterSource::PercentilePlaces RasterSource::PlacesOfPercentiles(int64_t count) const {
    // Whole numbers (the stored values of a scaled band too) are mixed exactly and rounded
    // once; other values as numpy mixes them, in doubles.
    const bool whole = HoldsWholeNumbers(dataType_);
    const double percents[2] = {percentiles_->low, percentiles_->high};
    PercentilePlaces places;
    for (int i = 0; i < 2; ++i) {
        if (whole) places.exact[i] = ExactPlaceOfPercentile(percents[i], count);
        places.place[i] = PlaceOfPercentile(percents[i], count);
    }
    return places;
}

Status RasterSource::RankPercentileFinder(RankFinder& finder) const {
    const int64_t count = finder.Counted();
    if (count == 0)
        return Status::Failure(
            RasterRefusal(path_, rasterBand_, AllNodataReason(nodata_, isFloating_)));
    const PercentilePlaces places = PlacesOfPercentiles(count);
    std::vector<int64_t> ranks;
    for (int i = 0; i < 2; ++i) {
        const auto& exact = places.exact[i];
        ranks.push_back(exact ? exact->lower : places.place[i].lower);
        ranks.push_back(exact ? exact->upper : places.place[i].upper);
    }
    finder.EndFirstPass(ranks);
    return Status::Ok();
}

Status RasterSource::TakePercentilesFound(const RankFinder& finder) {
    const PercentilePlaces places = PlacesOfPercentiles(finder.Counted());
    const auto percentile = [&](int i) {
        const double a = finder.Value(2 * i), b = finder.Value(2 * i + 1);
        const auto& exact = places.exact[i];
        if (!exact) return MixPercentile(a, b, places.place[i].fraction);
        if (!scaling_)
            return MixWholePercentile(static_cast<int64_t>(a), static_cast<int64_t>(b), *exact);
        const auto stored = [&](double value) {
            return static_cast<int64_t>(StoredValueOf(value, *scaling_));
        };
        const int64_t times = MixedWholeTimesParts(stored(a), stored(b), *exact);
        return PhysicalValue(RoundedQuotient(times, exact->parts), *scaling_);
    };
    const double minimum = percentile(0);
    const double maximum = percentile(1);
    if (!(minimum < maximum)) {
        const GrayStretch found{dataType_, {minimum, maximum}, percentiles_, scaling_};
        return Status::Failure(RasterRefusal(
            path_, rasterBand_,
            "its percentiles " + PercentText(percentiles_->low) + " and " +
                PercentText(percentiles_->high) + " are both " +
                (scaling_ ? StretchEndText(found, false) : NativeText(minimum, ValueType())) +
                ", which leaves no range to stretch to gray levels; give others or --stretch "
                "MIN,MAX"));
    }
    stretch_ = StretchRange{minimum, maximum};
    return Status::Ok();
}

Result<ValueRange> RasterSource::FindRange(Progress& progress) const {
    using R = Result<ValueRange>;
    // Over the pixels with data (NaN and infinite values have none), read through once a strip
    // at a time before the band's histogram is.
    const int stripLines = std::max(1, (1 << 16) / std::max(size_.columns, 1));
    const int64_t total = int64_t{size_.lines} * size_.columns;
    std::vector<double> values(static_cast<size_t>(stripLines) * size_.columns);
    std::vector<uint8_t> masked;
    ValueRange range;
    for (int first = 0; first < size_.lines; first += stripLines) {
        if (!progress.Step(kStageRange, int64_t{first} * size_.columns, total))
            return R::Cancelled();
        const int count = std::min(stripLines, size_.lines - first);
        if (!ReadNative(first, count, values.data()))
            return R::Failure(ReadFailure(first, count).message);
        if (Status read = Excluded(first, count, 0, size_.columns, masked); !read)
            return R::Failure(read.message);
        for (size_t i = 0, n = static_cast<size_t>(count) * size_.columns; i < n; ++i) {
            if (!std::isfinite(values[i]) || IsNodata(values[i])) continue;
            if (!masked.empty() && masked[i] != 0) continue;
            range.low = std::min(range.low, values[i]);
            range.high = std::max(range.high, values[i]);
        }
    }
    if (!progress.Step(kStageRange, total, total)) return R::Cancelled();
    return R::Of(range);
}

std::vector<std::vector<size_t>> RasterSource::ReadGroups(
    const std::vector<const RasterSource*>& sources) {
    std::vector<std::vector<size_t>> groups;
    for (size_t i = 0; i < sources.size(); ++i) {
        auto same = std::find_if(groups.begin(), groups.end(), [&](const std::vector<size_t>& g) {
            return sources[i]->sharesBlocks_ && sources[g[0]]->SameFile(*sources[i]);
        });
        if (same == groups.end())
            groups.push_back({i});
        else
            same->push_back(i);
    }
    return groups;
}

bool RasterSource::ReadNativeTogether(const std::vector<const RasterSource*>& group, int first,
                                      int count, double* values) {
    return ReadWindow(group, first, count, 0, group[0]->size_.columns, values, 0);
}

void RasterSource::ToGray(const double* values, size_t cells, uint8_t* lines,
                          uint8_t* nodata) const {
    // An 8-bit band holds nothing beyond 0..255; a band without its stretch yet is clamped as
    // GDAL reads a band as bytes, its nodata value a gray level.
    const bool stretched = !isByte_ && stretch_;
    const GrayConversion conversion{stretched ? stretch_ : std::nullopt,
                                    stretched ? NodataAsRead() : nodata_};
    ValuesToGray(values, cells, conversion, lines, nodata);
}

namespace {

// The groups from the one at `turn` (a share of the way round for each thread) on, so that
// threads reading at once start on different files and decode them side by side.
template <typename Group>
std::vector<const Group*> InTurn(const std::vector<Group>& groups, int turn, int turns) {
    std::vector<const Group*> ordered;
    const size_t start = groups.empty() || turns <= 1
                             ? 0
                             : groups.size() * static_cast<size_t>(turn % turns) / turns;
    for (size_t i = 0; i < groups.size(); ++i)
        ordered.push_back(&groups[(start + i) % groups.size()]);
    return ordered;
}

}  // namespace

Status RasterSource::ReadLinesTogether(const std::vector<const RasterSource*>& sources, int first,
                                       int count, uint8_t* const* lines, uint8_t* const* nodata,
                                       int turn, int turns) {
    std::vector<double> values;
    const std::vector<std::vector<size_t>> groups = ReadGroups(sources);
    for (const std::vector<size_t>* each : InTurn(groups, turn, turns)) {
        const std::vector<size_t>& group = *each;
        if (group.size() == 1) {
            const size_t i = group[0];
            if (Status read = sources[i]->ReadLines(first, count, lines[i], nodata[i]); !read)
                return read;
            continue;
        }
        std::vector<const RasterSource*> members;
        for (size_t i : group) members.push_back(sources[i]);
        if (std::all_of(members.begin(), members.end(),
                        [](const RasterSource* member) { return member->ReadsFromKept(); })) {
            // Nothing to decode: each band from its own kept values.
            for (size_t i : group)
                if (Status read = sources[i]->ReadLines(first, count, lines[i], nodata[i]); !read)
                    return read;
            continue;
        }
        const size_t cells = static_cast<size_t>(count) * members[0]->size_.columns;
        values.resize(cells * members.size());
        if (!ReadNativeTogether(members, first, count, values.data())) {
            // Band by band, for the refusal of the first band and line that fail.
            for (size_t i : group)
                if (Status read = sources[i]->ReadLines(first, count, lines[i], nodata[i]); !read)
                    return read;
            continue;
        }
        for (size_t g = 0; g < group.size(); ++g) {
            const RasterSource& source = *sources[group[g]];
            source.ToGray(values.data() + g * cells, cells, lines[group[g]], nodata[group[g]]);
            if (nodata[group[g]] == nullptr || !source.Excludes()) continue;
            if (Status masked =
                    source.MarkExclusions(first, count, 0, source.size_.columns, nodata[group[g]]);
                !masked)
                return masked;
        }
    }
    return Status::Ok();
}

Status RasterSource::ChooseStretchesTogether(const std::vector<RasterSource*>& sources,
                                             int threads) {
    if (Status chosen = ChoosePercentileStretches(sources); !chosen) return chosen;
    std::vector<RasterSource*> wanted;
    for (RasterSource* source : sources)
        if (source->NeedsStretch()) wanted.push_back(source);
    if (wanted.empty()) return Status::Ok();
    const std::vector<const RasterSource*> reading(wanted.begin(), wanted.end());
    const ImageSize size = wanted[0]->size_;
    const int stripLines = std::max(1, (1 << 16) / std::max(size.columns, 1));
    const int stripCount = (size.lines + stripLines - 1) / stripLines;
    const std::vector<std::vector<size_t>> groups = ReadGroups(reading);
    // Each thread takes the next strip and keeps its own least and greatest values; they are
    // the same whichever thread saw which strip. The first strip that fails is the refusal.
    const int workers = std::clamp(threads, 1, std::max(stripCount, 1));
    std::vector<std::vector<double>> low(workers, std::vector<double>(wanted.size(), kInfinity));
    std::vector<std::vector<double>> high(workers, std::vector<double>(wanted.size(), -kInfinity));
    std::atomic<int> next{0};
    std::mutex refusing;
    int refusedStrip = stripCount;
    Status refusal = Status::Ok();
    auto work = [&](int worker) {
        std::vector<double> values;
        std::vector<uint8_t> masked;
        for (int strip = next++; strip < stripCount; strip = next++) {
            const int first = strip * stripLines;
            const int count = std::min(stripLines, size.lines - first);
            const size_t cells = static_cast<size_t>(count) * size.columns;
            for (const std::vector<size_t>* each : InTurn(groups, worker, workers)) {
                const std::vector<size_t>& group = *each;
                std::vector<const RasterSource*> members;
                for (size_t i : group) members.push_back(reading[i]);
                values.resize(cells * members.size());
                const bool read = members.size() == 1
                                      ? members[0]->ReadNative(first, count, values.data())
                                      : ReadNativeTogether(members, first, count, values.data());
                if (!read) {
                    Status failure = members[0]->ReadFailure(first, count);
                    for (const RasterSource* member : members) {
                        if (member->ReadNative(first, count, values.data())) continue;
                        failure = member->ReadFailure(first, count);
                        break;
                    }
                    const std::lock_guard<std::mutex> lock(refusing);
                    if (strip < refusedStrip) {
                        refusedStrip = strip;
                        refusal = std::move(failure);
                    }
                    return;
                }
                for (size_t g = 0; g < group.size(); ++g) {
                    const RasterSource& source = *members[g];
                    const double* band = values.data() + g * cells;
                    double& least = low[worker][group[g]];
                    double& most = high[worker][group[g]];
                    if (Status excluded = source.Excluded(first, count, 0, size.columns, masked);
                        !excluded) {
                        const std::lock_guard<std::mutex> lock(refusing);
                        if (strip < refusedStrip) {
                            refusedStrip = strip;
                            refusal = std::move(excluded);
                        }
                        return;
                    }
                    for (size_t i = 0; i < cells; ++i) {
                        const double value = band[i];
                        if (!std::isfinite(value) || source.IsNodata(value)) continue;
                        if (!masked.empty() && masked[i] != 0) continue;
                        least = std::min(least, value);
                        most = std::max(most, value);
                    }
                }
            }
        }
    };
    RunWorkers(workers, work);
    if (!refusal) return refusal;
    return TakeOwnRanges(wanted, low, high);
}

Status RasterSource::TakeOwnRanges(const std::vector<RasterSource*>& sources,
                                   const std::vector<std::vector<double>>& low,
                                   const std::vector<std::vector<double>>& high) {
    for (size_t w = 0; w < sources.size(); ++w) {
        double least = kInfinity, most = -kInfinity;
        for (size_t worker = 0; worker < low.size(); ++worker) {
            least = std::min(least, low[worker][w]);
            most = std::max(most, high[worker][w]);
        }
        if (Status chosen = sources[w]->TakeOwnRange(least, most); !chosen) return chosen;
    }
    return Status::Ok();
}

Result<StretchRange> OwnStretch(const std::string& path, int rasterBand, double low, double high,
                                const std::optional<double>& nodata, bool floating,
                                const std::string& dataType,
                                const std::optional<Scaling>& scaling) {
    using R = Result<StretchRange>;
    if (!(low <= high))
        return R::Failure(RasterRefusal(path, rasterBand, AllNodataReason(nodata, floating)));
    if (!(low < high)) {
        return R::Failure(RasterRefusal(
            path, rasterBand,
            "every pixel holds the value " +
                HeldValueText(low, GrayStretch{dataType, {low, high}, std::nullopt, scaling}) +
                ", which leaves no range to stretch to gray levels; give one with --stretch "
                "MIN,MAX"));
    }
    return R::Of(StretchRange{low, high});
}

Status RasterSource::TakeOwnRange(double low, double high) {
    Result<StretchRange> own =
        OwnStretch(path_, rasterBand_, low, high, nodata_, isFloating_, dataType_, scaling_);
    if (!own) return Status::Failure(own.message);
    stretch_ = own.value;
    return Status::Ok();
}

Status RasterSource::ReadLines(int first, int count, uint8_t* lines, uint8_t* nodata) const {
    if (count <= 0) return Status::Ok();
    const size_t cells = static_cast<size_t>(count) * size_.columns;
    if (ReadsFromKept()) {
        const std::shared_ptr<const GrayTable> table = TableOfGray();
        if (kept_->ReadThrough(first, count, 0, size_.columns, table->gray.data(),
                               table->marks.data(), table->lowest, lines,
                               static_cast<size_t>(size_.columns), nodata)) {
            if (nodata && Excludes()) return MarkExclusions(first, count, 0, size_.columns, nodata);
            return Status::Ok();
        }
    }
    // A band whose values are kept is read from them, as gray levels by the same rule.
    if ((isByte_ && !kept_) || (!isByte_ && !stretch_)) {
        bool read = false;
        {
            const std::lock_guard<std::mutex> lock(handles_->reading);
            const QuietGdalErrors quiet;
            read = Api().readBand(band_, 0, first, size_.columns, count, lines, kGdalBytes) != 0;
        }
        if (!read) return ReadFailure(first, count);
        if (nodata) MarkGrayNodata(lines, cells, nodata_, nodata);
    } else {
        std::vector<double> values(cells);
        if (!ReadNative(first, count, values.data())) return ReadFailure(first, count);
        ToGray(values.data(), cells, lines, nodata);
    }
    if (nodata && Excludes()) return MarkExclusions(first, count, 0, size_.columns, nodata);
    return Status::Ok();
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
