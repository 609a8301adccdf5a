#include "bands/bandreader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "bands/decodedgroup.h"
#include "image/bitmapfile.h"

namespace tessera {

namespace {

std::string RawRefusal(const std::string& path, const std::string& why) {
    return "The raw image\n" + path + "\ncannot be loaded: " + why + ".";
}

std::string BitmapRefusal(const std::string& path, const std::string& why) {
    return "The bitmap\n" + path + "\ncannot be read: " + why + ".";
}

std::string OpenFailure() {
    return std::string("it cannot be opened (") + std::strerror(errno) + ")";
}

}  // namespace

BandReader::~BandReader() {
    Close();
}

BandReader::BandReader(BandReader&& other) noexcept {
    *this = std::move(other);
}

BandReader& BandReader::operator=(BandReader&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        type_ = other.type_;
        size_ = other.size_;
        pixelOffset_ = other.pixelOffset_;
        stride_ = other.stride_;
        raster_ = std::move(other.raster_);
        nodata_ = other.nodata_;
        exclusion_ = std::move(other.exclusion_);
        fileSize_ = other.fileSize_;
        windowLine_ = other.windowLine_;
        windowColumn_ = other.windowColumn_;
        other.fd_ = -1;
    }
    return *this;
}

void BandReader::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    raster_.reset();
}

std::optional<GrayStretch> BandReader::Stretch() const {
    if (!raster_ || !raster_->Stretch()) return std::nullopt;
    return GrayStretch{raster_->DataType(), *raster_->Stretch(), raster_->Percentiles(),
                       raster_->Scaled()};
}

Status BandReader::ChooseStretch(const std::optional<StretchRange>& given) {
    return raster_ ? raster_->ChooseStretch(given) : Status::Ok();
}

std::optional<double> BandReader::Nodata() const {
    return raster_ ? raster_->Nodata() : nodata_;
}

void BandReader::SetNodata(std::optional<double> value) {
    if (raster_)
        raster_->SetNodata(value);
    else
        nodata_ = value;
}

std::optional<Georeference> BandReader::Georef() const {
    if (!raster_) return std::nullopt;
    return raster_->Georef();
}

std::string BandReader::Refusal(const std::string& why) const {
    if (raster_) return RasterRefusal(path_, raster_->Band(), why);
    return type_ == BandFileType::Bitmap ? BitmapRefusal(path_, why) : RawRefusal(path_, why);
}

bool BandReader::MayLackData() const {
    return Nodata().has_value() || (raster_ && (raster_->IsFloating() || raster_->Excludes())) ||
           exclusion_ != nullptr;
}

Status BandReader::Cut(int line, int column, int lines, int columns) {
    if (raster_ || lines < 1 || columns < 1 || line < 0 || column < 0 ||
        int64_t{line} + lines > size_.lines || int64_t{column} + columns > size_.columns)
        return Status::Failure(Refusal(
            "the window lies outside its scene of " + std::to_string(size_.lines) + " lines x " +
            std::to_string(size_.columns) + " columns"));
    fileSize_ = size_;
    windowLine_ = line;
    windowColumn_ = column;
    size_ = ImageSize{lines, columns};
    return Status::Ok();
}

void BandReader::SetExclusion(std::shared_ptr<const PixelExclusion> exclusion) {
    if (raster_) raster_->SetExclusion(exclusion);
    exclusion_ = std::move(exclusion);
}

Status BandReader::ReadLines(int first, int count, uint8_t* lines, uint8_t* nodata) const {
    if (count <= 0) return Status::Ok();
    const int columns = size_.columns;
    if (raster_) return raster_->ReadLines(first, count, lines, nodata);
    // A window of the file: its whole lines are read, then the window's columns kept.
    thread_local std::vector<uint8_t> whole;
    const bool windowed = fileSize_.columns > 0;
    const ImageSize file = windowed ? fileSize_ : size_;
    uint8_t* into = lines;
    if (windowed) {
        whole.resize(static_cast<size_t>(count) * file.columns);
        into = whole.data();
    }
    const int from = first + windowLine_;
    bool read = false;
    if (type_ == BandFileType::Raw) {
        read = ReadRawLines(fd_, file.columns, from, count, into);
    } else {
        // At most a strip's worth of line addresses; a whole band's when it is read at once.
        std::vector<uint8_t*> starts(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) starts[i] = into + static_cast<size_t>(i) * file.columns;
        read = ReadStoredLines(fd_, pixelOffset_, stride_, file.columns, from, count, file.lines,
                               starts.data(), true);
    }
    if (read && windowed)
        for (int i = 0; i < count; ++i)
            std::memcpy(lines + static_cast<size_t>(i) * columns,
                        into + static_cast<size_t>(i) * file.columns + windowColumn_,
                        static_cast<size_t>(columns));
    if (!read)
        return Status::Failure(Refusal("its lines from line " + std::to_string(first + 1) +
                                       " on cannot be read (" + std::strerror(errno) + ")"));
    if (nodata) MarkGrayNodata(lines, static_cast<size_t>(count) * columns, nodata_, nodata);
    if (nodata && exclusion_) return MarkExcluded(*exclusion_, first, count, 0, columns, nodata);
    return Status::Ok();
}

Result<ByteMatrix> BandReader::ReadAll(Progress& progress, ByteMatrix* nodata) const {
    using R = Result<ByteMatrix>;
    const std::string refusal =
        raster_ ? RasterRefusal(path_, raster_->Band(), "there is not enough memory for it")
        : type_ == BandFileType::Bitmap
            ? BitmapRefusal(path_, "there is not enough memory for it")
            : RawRefusal(path_, "there is not enough memory for " + std::to_string(size_.lines) +
                                    " lines x " + std::to_string(size_.columns) + " columns");
    try {
        // Every cell is read (or set to 0 past the end of a short file): no zero fill first.
        std::optional<ByteMatrix> pixels = ByteMatrix::CreateUnfilled(size_.columns, size_.lines);
        if (!pixels) return R::Failure(refusal);
        const bool marked = nodata != nullptr && MayLackData();
        if (marked) {
            std::optional<ByteMatrix> marks = ByteMatrix::CreateUnfilled(size_.columns, size_.lines);
            if (!marks) return R::Failure(refusal);
            *nodata = std::move(*marks);
        }
        constexpr int64_t kPiece = int64_t{16} << 20;
        const int64_t total = static_cast<int64_t>(pixels->Size());
        const int piece = static_cast<int>(std::max<int64_t>(kPiece / size_.columns, 1));
        for (int first = 0; first < size_.lines; first += piece) {
            if (!progress.Step(kStageLoading, int64_t{first} * size_.columns, total))
                return R::Cancelled();
            const Status read = ReadLines(first, std::min(piece, size_.lines - first),
                                          (*pixels)[first], marked ? (*nodata)[first] : nullptr);
            if (!read) return R::Failure(read.message);
        }
        return R::Of(std::move(*pixels));
    } catch (const std::bad_alloc&) {
        return R::Failure(refusal);
    }
}

Status ReadLinesTogether(const std::vector<const BandReader*>& readers, int first, int count,
                         uint8_t* const* lines, uint8_t* const* nodata, int turn, int turns) {
    std::vector<const RasterSource*> rasters;
    std::vector<uint8_t*> rasterLines, rasterMarks;
    for (size_t i = 0; i < readers.size(); ++i) {
        if (const RasterSource* raster = readers[i]->Raster()) {
            rasters.push_back(raster);
            rasterLines.push_back(lines[i]);
            rasterMarks.push_back(nodata[i]);
        } else if (Status read = readers[i]->ReadLines(first, count, lines[i], nodata[i]); !read) {
            return read;
        }
    }
    if (rasters.empty()) return Status::Ok();
    return DecodedGroup::ReadLinesTogether(rasters, first, count, rasterLines.data(),
                                           rasterMarks.data(), turn, turns);
}

Status ChooseStretchesTogether(const std::vector<BandReader*>& readers, int threads) {
    std::vector<RasterSource*> rasters;
    for (BandReader* reader : readers)
        if (reader->raster_) rasters.push_back(reader->raster_.get());
    return ChooseStretchesTogether(rasters, threads);
}

int64_t RasterCacheNeed(const std::vector<const BandReader*>& readers) {
    // The bands of one file share their blocks' cache when the file is pixel-interleaved: a
    // block row of such a file is counted once, for all its bands.
    std::vector<const RasterSource*> counted;
    int64_t total = 0;
    for (const BandReader* reader : readers) {
        const RasterSource* raster = reader->Raster();
        if (raster == nullptr) continue;
        const int64_t row = raster->BlockRowBytes();
        if (raster->SharesBlocks() &&
            std::any_of(counted.begin(), counted.end(),
                        [&](const RasterSource* other) { return other->SameFile(*raster); }))
            continue;
        counted.push_back(raster);
        total += row;
    }
    // Two rows: strips that cross a row of blocks, and threads on either side of it, need the
    // next row while the last is still read; with one row, GDAL decodes blocks again (measured:
    // about 60 % more time on tiled DEFLATE bands).
    return 2 * total;
}

Result<BandReader> OpenRawBand(const std::string& path, ImageSize size) {
    using R = Result<BandReader>;
    if (Status usable = CheckImageSize(size); !usable)
        return R::Failure(RawRefusal(path, usable.message));
    if (Status holds = CheckRawFileSize(path, size); !holds) return R::Failure(holds.message);

    BandReader reader;
    reader.fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (reader.fd_ < 0) return R::Failure(RawRefusal(path, OpenFailure()));
    struct stat info;
    if (::fstat(reader.fd_, &info) == 0 && S_ISDIR(info.st_mode))
        return R::Failure(RawRefusal(path, "it cannot be opened (it is a folder)"));
    reader.path_ = path;
    reader.type_ = BandFileType::Raw;
    reader.size_ = size;
    reader.stride_ = size.columns;
    return R::Of(std::move(reader));
}

Result<BandReader> OpenBitmapBand(const std::string& path) {
    using R = Result<BandReader>;
    BandReader reader;
    reader.fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (reader.fd_ < 0) return R::Failure(BitmapRefusal(path, OpenFailure()));
    const Result<BitmapLayout> layout = ReadBitmapLayout(reader.fd_);
    if (!layout) return R::Failure(BitmapRefusal(path, layout.message));

    // The rule of LoadBitmapBand: anything bigger than twice the pixels is a colour bitmap.
    const BitmapLayout& shape = *layout.value;
    const int64_t pixelCount = int64_t{shape.height} * shape.width;
    if (shape.bytesPerPixel != 1 || 2 * pixelCount < shape.fileSize)
        return R::Failure(kRgbBitmapRefusal);
    reader.path_ = path;
    reader.type_ = BandFileType::Bitmap;
    reader.size_ = ImageSize{shape.height, shape.width};
    reader.pixelOffset_ = shape.pixelOffset;
    reader.stride_ = shape.stride;
    return R::Of(std::move(reader));
}

Result<BandReader> OpenRasterBand(const std::string& path, int rasterBand, const RasterView* view) {
    using R = Result<BandReader>;
    Result<std::shared_ptr<RasterSource>> source = RasterSource::Open(path, rasterBand, view);
    if (!source) return R::Failure(source.message);
    BandReader reader;
    reader.path_ = path;
    reader.type_ = BandFileType::Raster;
    reader.size_ = (*source.value)->Size();
    reader.raster_ = std::move(*source.value);
    return R::Of(std::move(reader));
}

}  // namespace tessera
