#include "bands/decodedgroup.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <memory>
#include <mutex>

#include "bands/gdalapi.h"
#include "bands/gdalsupport.h"
#include "bands/graylevels.h"
#include "bands/graytable.h"
#include "bands/keptvalues.h"
#include "bands/rasterband.h"

namespace tessera {

DecodedGroup::DecodedGroup(std::vector<const RasterSource*> members, int worker)
    : members_(std::move(members)), worker_(worker) {}

std::vector<std::vector<size_t>> DecodedGroup::Groups(
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

Status DecodedGroup::ReadLinesTogether(const std::vector<const RasterSource*>& sources, int first,
                                       int count, uint8_t* const* lines, uint8_t* const* nodata,
                                       int turn, int turns) {
    std::vector<double> values;
    const std::vector<std::vector<size_t>> groups = Groups(sources);
    for (const std::vector<size_t>* each : GroupsInTurn(groups, turn, turns)) {
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
        if (!DecodedGroup(members).Read({first, count, 0, members[0]->size_.columns},
                                        values.data())) {
            // Band by band, for the refusal of the first band and line that fail.
            for (size_t i : group)
                if (Status read = sources[i]->ReadLines(first, count, lines[i], nodata[i]); !read)
                    return read;
            continue;
        }
        for (size_t g = 0; g < group.size(); ++g) {
            const RasterSource& source = *sources[group[g]];
            source.ToGray(values.data() + g * cells, cells, lines[group[g]], nodata[group[g]]);
            if (source.kept_) source.kept_->KeepLinesAsGray(source.KeyOfGray(), first, count);
            if (nodata[group[g]] == nullptr || !source.Excludes()) continue;
            if (Status masked =
                    source.MarkExclusions(first, count, 0, source.size_.columns, nodata[group[g]]);
                !masked)
                return masked;
        }
    }
    return Status::Ok();
}

bool DecodedGroup::Decode(const PixelWindow& window, double* values) const {
    const GdalApi& gdal = *Gdal();
    // The shared dataset serves one thread at a time; a worker's own serves only that worker.
    std::unique_lock<std::mutex> lock;
    void* dataset = members_[0]->DatasetFor(worker_, lock);
    const QuietGdalErrors quiet;
    std::vector<int> bands;
    for (const RasterSource* source : members_) bands.push_back(source->rasterBand_);
    if (!gdal.readBands(dataset, window.x0, window.first, window.width, window.count, values,
                        static_cast<int>(bands.size()), bands.data()))
        return false;
    // GDAL gives signed bytes as unsigned.
    const size_t cells = static_cast<size_t>(window.count) * window.width;
    for (size_t g = 0; g < members_.size(); ++g) {
        double* band = values + g * cells;
        if (members_[g]->isSignedByte_)
            for (size_t i = 0; i < cells; ++i)
                band[i] = static_cast<int8_t>(static_cast<uint8_t>(band[i]));
    }
    return true;
}

bool DecodedGroup::KeepsBlocksTogether() const {
    const RasterSource& lead = *members_[0];
    return std::all_of(members_.begin(), members_.end(), [&](const RasterSource* source) {
        return source->KeepsBlocksAsDecoded() && source->blockLines_ == lead.blockLines_ &&
               source->blockColumns_ == lead.blockColumns_;
    });
}

std::optional<bool> DecodedGroup::DecodeBlocksInto(const PixelWindow& window) const {
    const GdalApi& gdal = *Gdal();
    const RasterSource& lead = *members_[0];
    std::unique_lock<std::mutex> lock;
    void* dataset = lead.DatasetFor(worker_, lock);
    const QuietGdalErrors quiet;
    std::vector<void*> bands;
    for (const RasterSource* source : members_) {
        bands.push_back(gdal.rasterBand(dataset, source->rasterBand_));
        if (bands.back() == nullptr) return false;
    }
    // Block by block, every band of the group: GDAL decodes a block of a pixel-interleaved
    // file once for all of its bands.
    const int first = window.first, count = window.count, x0 = window.x0, width = window.width;
    for (int by = first / lead.blockLines_; by * lead.blockLines_ < first + count; ++by) {
        for (int bx = x0 / lead.blockColumns_; bx * lead.blockColumns_ < x0 + width; ++bx) {
            for (size_t g = 0; g < members_.size(); ++g) {
                const KeptValues::Filled filled = members_[g]->kept_->KeepBlock(
                    by, bx,
                    [&](uint8_t* block) { return gdal.readBlock(bands[g], bx, by, block) != 0; });
                if (filled == KeptValues::Filled::NotDecoded) return false;
                if (filled == KeptValues::Filled::NotKept) return std::nullopt;
            }
        }
    }
    return true;
}

void DecodedGroup::KeepWhatIsMissing(const PixelWindow& window) const {
    if (KeepsBlocksTogether()) DecodeBlocksInto(window);
}

std::optional<bool> DecodedGroup::DecodeBlocksAndKeep(const PixelWindow& window,
                                                      double* values) const {
    const std::optional<bool> decoded = DecodeBlocksInto(window);
    if (!decoded || !*decoded) return decoded;
    // A block another thread is still keeping: decoded here as well.
    const size_t cells = static_cast<size_t>(window.count) * window.width;
    for (size_t g = 0; g < members_.size(); ++g)
        if (!members_[g]->kept_->Read(window.first, window.count, window.x0, window.width,
                                      values + g * cells))
            return std::nullopt;
    return true;
}

bool DecodedGroup::DecodeAndKeep(const PixelWindow& window, double* values) const {
    const RasterSource& lead = *members_[0];
    if (KeepsBlocksTogether())
        if (const std::optional<bool> read = DecodeBlocksAndKeep(window, values)) return *read;
    const int first = window.first, count = window.count, x0 = window.x0, width = window.width;
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
            piece.resize(pieceCells * members_.size());
            if (!Decode({top, pieceLines, left, pieceWidth}, piece.data())) return false;
            const int y0 = std::max(first, top), y1 = std::min(first + count, top + pieceLines);
            const int c0 = std::max(x0, left), c1 = std::min(x0 + width, left + pieceWidth);
            for (size_t g = 0; g < members_.size(); ++g) {
                const double* decoded = piece.data() + g * pieceCells;
                if (members_[g]->kept_)
                    members_[g]->kept_->Keep(top, pieceLines, left, pieceWidth, decoded);
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

bool DecodedGroup::Read(const PixelWindow& window, double* values) const {
    const size_t cells = static_cast<size_t>(window.count) * window.width;
    const bool keeping = std::any_of(members_.begin(), members_.end(),
                                     [](const RasterSource* source) { return source->kept_; });
    bool read = false;
    if (keeping) {
        // Every band of the group from what was kept, or the group decoded once more.
        read = true;
        for (size_t g = 0; g < members_.size() && read; ++g)
            read = members_[g]->kept_ &&
                   members_[g]->kept_->Read(window.first, window.count, window.x0, window.width,
                                            values + g * cells);
        if (!read) read = DecodeAndKeep(window, values);
    } else {
        read = Decode(window, values);
    }
    if (!read) return false;
    for (size_t g = 0; g < members_.size(); ++g) members_[g]->Scale(values + g * cells, cells);
    return true;
}

Status DecodedGroup::ReadRows(const GrayRowsRequest& request, std::vector<double>& values) const {
    const RasterSource& lead = *members_[0];
    const PixelWindow& window = request.window;
    const int first = window.first, count = window.count, x0 = window.x0, width = window.width;
    // Values kept of at most 16 bits become gray levels through a table of every value; blocks
    // not kept yet are decoded into what is kept first. (Where GDAL fails, the window is read
    // as below, which names the line that fails.)
    if (KeepsBlocksTogether() &&
        std::any_of(members_.begin(), members_.end(), [&](const RasterSource* source) {
            return !source->kept_->Holds(first, count, x0, width);
        }))
        DecodeBlocksInto(window);
    // Gray levels kept in place of the values (made so now where they are still values).
    bool through = true;
    for (size_t g = 0; g < members_.size() && through; ++g) {
        const RasterSource& source = *members_[g];
        through = source.kept_ && source.kept_->ReadGray(source.KeyOfGray(), first, count, x0,
                                                         width, request.gray[g] + x0,
                                                         request.grayStride, request.marks[g]);
    }
    if (through) return MarkExclusions(request);
    through = true;
    for (size_t g = 0; g < members_.size() && through; ++g) {
        const RasterSource& source = *members_[g];
        through = source.kept_ && KeptValues::BytesOf(source.kept_->KindKept()) <= 2 &&
                  source.kept_->Holds(first, count, x0, width);
    }
    for (size_t g = 0; g < members_.size() && through; ++g) {
        const RasterSource& source = *members_[g];
        const std::shared_ptr<const GrayTable> table = source.TableOfGray();
        through = source.kept_->ReadThrough(
            first, count, x0, width, table->gray.data(), table->marks.data(), table->lowest,
            request.gray[g] + x0, request.grayStride, request.marks[g]);
    }
    if (!through) {
        const size_t cells = static_cast<size_t>(count) * width;
        if (values.size() < cells * members_.size()) values.resize(cells * members_.size());
        if (!Read(window, values.data())) {
            // The refusal of the first band and line that fail.
            for (const RasterSource* source : members_) {
                std::vector<uint8_t> lines(static_cast<size_t>(lead.size_.columns) * count);
                if (Status read = source->ReadLines(first, count, lines.data()); !read) return read;
            }
            return lead.ReadFailure(first, count);
        }
        for (size_t g = 0; g < members_.size(); ++g)
            for (int y = 0; y < count; ++y)
                members_[g]->ToGray(
                    values.data() + g * cells + static_cast<size_t>(y) * width,
                    static_cast<size_t>(width), request.gray[g] + y * request.grayStride + x0,
                    request.marks[g] ? request.marks[g] + static_cast<size_t>(y) * width : nullptr);
    }
    return MarkExclusions(request);
}

Status DecodedGroup::MarkExclusions(const GrayRowsRequest& request) const {
    const PixelWindow& window = request.window;
    for (size_t g = 0; g < members_.size(); ++g) {
        if (request.marks[g] == nullptr || !members_[g]->Excludes()) continue;
        if (Status masked = members_[g]->MarkExclusions(window.first, window.count, window.x0,
                                                        window.width, request.marks[g]);
            !masked)
            return masked;
    }
    return Status::Ok();
}

Status DecodedGroup::FoldRange(const PixelWindow& window, double* low, double* high,
                               std::vector<double>& values) const {
    const RasterSource& lead = *members_[0];
    const int columns = lead.size_.columns;
    const int first = window.first, count = window.count, width = window.width;
    if (const std::optional<Status> kept = FoldKeptRange(window, low, high)) return *kept;
    // A few lines at a time: some 64 Ki values of every band of the group.
    const int step = static_cast<int>(std::clamp<int64_t>(
        (int64_t{1} << 16) / (int64_t{width} * static_cast<int64_t>(members_.size())), 1, count));
    const size_t wanted = static_cast<size_t>(step) * width * members_.size();
    if (values.size() < wanted) values.resize(wanted);
    for (int top = first; top < first + count; top += step) {
        const int lines = std::min(step, first + count - top);
        const size_t cells = static_cast<size_t>(lines) * width;
        if (!Read({top, lines, window.x0, width}, values.data())) {
            for (const RasterSource* source : members_) {
                std::vector<double> line(static_cast<size_t>(columns));
                for (int y = top; y < top + lines; ++y)
                    if (!source->ReadNative(y, 1, line.data())) return source->ReadFailure(y, 1);
            }
            return lead.ReadFailure(top, lines);
        }
        std::vector<uint8_t> masked;
        for (size_t g = 0; g < members_.size(); ++g) {
            const RasterSource& source = *members_[g];
            if (Status read = source.Excluded(top, lines, window.x0, width, masked); !read)
                return read;
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

std::optional<Status> DecodedGroup::FoldKeptRange(const PixelWindow& window, double* low,
                                                  double* high) const {
    // Bands kept as decoded in types of at most 16 bits: the values that occur, straight from
    // what is kept, then the range of those with data.
    if (!KeepsBlocksTogether() ||
        std::any_of(members_.begin(), members_.end(), [](const RasterSource* source) {
            return KeptValues::BytesOf(source->kept_->KindKept()) > 2;
        }))
        return std::nullopt;
    // A column of blocks at a time, decoded then marked while it is still in the cache.
    std::vector<uint8_t> masked;
    std::vector<std::vector<uint8_t>> seen(members_.size(), std::vector<uint8_t>(65536, 0));
    const int columns = members_[0]->blockColumns_;
    for (int left = window.x0; left < window.x0 + window.width;) {
        const int right = std::min(window.x0 + window.width, (left / columns + 1) * columns);
        const PixelWindow piece{window.first, window.count, left, right - left};
        const std::optional<bool> decoded = DecodeBlocksInto(piece);
        if (!decoded || !*decoded) return std::nullopt;  // read again, for the refusal
        for (size_t g = 0; g < members_.size(); ++g) {
            const RasterSource& source = *members_[g];
            if (Status read =
                    source.Excluded(piece.first, piece.count, piece.x0, piece.width, masked);
                !read)
                return read;
            if (!source.kept_->MarkOccurring(piece.first, piece.count, piece.x0, piece.width,
                                             masked.empty() ? nullptr : masked.data(),
                                             seen[g].data()))
                return std::nullopt;
            // Blocks beyond what the band may keep as values: decoded again later.
            source.kept_->LetGoPassing(piece.first, piece.count, piece.x0, piece.width);
        }
        left = right;
    }
    for (size_t g = 0; g < members_.size(); ++g)
        members_[g]->FoldOccurring(seen[g], low[g], high[g]);
    return Status::Ok();
}

// ----- one band's reads: its values and gray levels, through the group it alone makes -----

bool RasterSource::ReadNative(int first, int count, double* values) const {
    return DecodedGroup({this}).Read({first, count, 0, size_.columns}, values);
}

Status RasterSource::ReadValues(int first, int count, int x0, int width, double* values) const {
    if (DecodedGroup({this}).Read({first, count, x0, width}, values)) return Status::Ok();
    return ReadFailure(first, count);
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

Status RasterSource::ReadFailure(int first, int count) const {
    // The first line that fails: the strip decoded again line by line, as GDAL reads lines.
    int failed = first;
    std::vector<double> line(static_cast<size_t>(size_.columns));
    const auto decode = [&](int y) {
        return DecodedGroup({this}).Decode({y, 1, 0, size_.columns}, line.data());
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
        Gdal()->resetError();
        decode(failed);
        why = Gdal()->lastErrorMessage();
    }
    while (!why.empty() && (why.back() == '.' || why.back() == '\n')) why.pop_back();
    // GDAL names the file and the band again: the refusal already does.
    const std::string named = path_ + ", band " + std::to_string(rasterBand_) + ": ";
    if (why.compare(0, named.size(), named) == 0) why.erase(0, named.size());
    return Status::Failure(RasterRefusal(path_, rasterBand_,
                                         "GDAL cannot read its line " + std::to_string(failed + 1) +
                                             (why.empty() ? std::string() : " (" + why + ")")));
}

Status RasterSource::ReadLines(int first, int count, uint8_t* lines, uint8_t* nodata) const {
    if (count <= 0) return Status::Ok();
    const size_t cells = static_cast<size_t>(count) * size_.columns;
    if (kept_ && kept_->ReadGray(KeyOfGray(), first, count, 0, size_.columns, lines,
                                 static_cast<size_t>(size_.columns), nodata)) {
        if (nodata && Excludes()) return MarkExclusions(first, count, 0, size_.columns, nodata);
        return Status::Ok();
    }
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
        if (!ReadBytes(first, count, lines)) return ReadFailure(first, count);
        if (nodata) MarkGrayNodata(lines, cells, nodata_, nodata);
    } else {
        std::vector<double> values(cells);
        if (!ReadNative(first, count, values.data())) return ReadFailure(first, count);
        ToGray(values.data(), cells, lines, nodata);
        // Values decoded now for good: kept as gray levels from here on.
        if (kept_) kept_->KeepLinesAsGray(KeyOfGray(), first, count);
    }
    if (nodata && Excludes()) return MarkExclusions(first, count, 0, size_.columns, nodata);
    return Status::Ok();
}


// ----- a window kept as stored, 16 bits a value -----

bool RasterSource::StoresSixteenBits() const {
    return dataType_ == "UInt16" || dataType_ == "Int16";
}

Status RasterSource::ReadStored(int first, int count, uint8_t* stored) const {
    if (!StoresSixteenBits())
        return Status::Failure(RasterRefusal(path_, rasterBand_, "it holds no 16-bit values"));
    const int columns = size_.columns;
    const bool isSigned = dataType_ == "Int16";
    // A block of a pixel-interleaved file holds every band: read through GDAL's block cache,
    // which one decode fills for all of them.
    const bool wholeRows = !sharesBlocks_ && blockLines_ > 1 && first % blockLines_ == 0 &&
                           ((first + count) % blockLines_ == 0 || first + count == size_.lines);
    if (wholeRows) {
        // Block by block, straight as GDAL decodes them, bypassing its block cache.
        const GdalApi& gdal = *Gdal();
        thread_local std::vector<uint8_t> block;
        block.resize(static_cast<size_t>(blockLines_) * blockColumns_ * 2);
        bool decoded = true;
        {
            std::unique_lock<std::mutex> lock;
            void* dataset = DatasetFor(0, lock);
            const QuietGdalErrors quiet;
            void* band = gdal.rasterBand(dataset, rasterBand_);
            for (int by = first / blockLines_; decoded && by * blockLines_ < first + count; ++by) {
                const int top = by * blockLines_;
                const int lines = std::min(blockLines_, size_.lines - top);
                for (int bx = 0; decoded && bx * blockColumns_ < columns; ++bx) {
                    decoded = band != nullptr && gdal.readBlock(band, bx, by, block.data()) != 0;
                    if (!decoded) break;
                    const int left = bx * blockColumns_;
                    const size_t width = static_cast<size_t>(std::min(blockColumns_, columns - left));
                    for (int y = 0; y < lines; ++y)
                        std::memcpy(stored + (static_cast<size_t>(top - first + y) * columns + left) * 2,
                                    block.data() + static_cast<size_t>(y) * blockColumns_ * 2,
                                    width * 2);
                }
            }
        }
        if (decoded) return Status::Ok();
        return ReadFailure(first, count);
    }
    // Another window: decoded through GDAL's reads (whole numbers, exact as doubles).
    const size_t cells = static_cast<size_t>(count) * columns;
    std::vector<double> values(cells);
    if (!DecodedGroup({this}).Decode({first, count, 0, columns}, values.data()))
        return ReadFailure(first, count);
    for (size_t i = 0; i < cells; ++i) {
        const uint16_t bits = isSigned ? static_cast<uint16_t>(static_cast<int16_t>(values[i]))
                                       : static_cast<uint16_t>(values[i]);
        std::memcpy(stored + 2 * i, &bits, 2);
    }
    return Status::Ok();
}

Status RasterSource::FoldStoredRange(int first, int count, const uint8_t* stored, double& low,
                                     double& high) const {
    const bool isSigned = dataType_ == "Int16";
    std::vector<uint8_t> masked;
    if (Status read = Excluded(first, count, 0, size_.columns, masked); !read) return read;
    // Which values occur where a pixel is not excluded; then the range of those with data, each
    // made physical as a read makes it.
    std::vector<uint8_t> seen(65536, 0);
    const size_t cells = static_cast<size_t>(count) * size_.columns;
    const uint16_t flip = isSigned ? 0x8000 : 0;  // value - lowest from the stored bits
    uint16_t bits;
    for (size_t i = 0; i < cells; ++i) {
        std::memcpy(&bits, stored + 2 * i, 2);
        if (masked.empty() || masked[i] == 0) seen[static_cast<uint16_t>(bits ^ flip)] = 1;
    }
    FoldOccurring(seen, low, high);
    return Status::Ok();
}

void RasterSource::FoldOccurring(const std::vector<uint8_t>& seen, double& low,
                                 double& high) const {
    const KeptValues::Kind kind = KeptValues::KindOf(dataType_);
    const int lowest = kind == KeptValues::Kind::I16  ? -32768
                       : kind == KeptValues::Kind::I8 ? -128
                                                      : 0;
    for (size_t entry = 0; entry < seen.size(); ++entry) {
        if (!seen[entry]) continue;
        double value = lowest + static_cast<int>(entry);
        Scale(&value, 1);
        if (!std::isfinite(value) || IsNodata(value)) continue;
        low = std::min(low, value);
        high = std::max(high, value);
    }
}

Status RasterSource::GrayOfStored(int first, int count, const uint8_t* stored, uint8_t* lines,
                                  uint8_t* marks) const {
    const std::shared_ptr<const GrayTable> table = TableOfGray();
    const size_t cells = static_cast<size_t>(count) * size_.columns;
    // Entry value - lowest of the tables: for Int16 the stored bits with the sign bit flipped.
    const uint16_t flip = dataType_ == "Int16" ? 0x8000 : 0;
    const uint8_t* grayOf = table->gray.data();
    const uint8_t* markOf = table->marks.data();
    const auto through = [&](auto withMarks) {
        uint16_t bits;
        for (size_t i = 0; i < cells; ++i) {
            std::memcpy(&bits, stored + 2 * i, 2);
            const uint16_t at = static_cast<uint16_t>(bits ^ flip);
            lines[i] = grayOf[at];
            if constexpr (decltype(withMarks)::value) marks[i] = markOf[at];
        }
    };
    if (marks)
        through(std::true_type{});
    else
        through(std::false_type{});
    if (marks && Excludes()) return MarkExclusions(first, count, 0, size_.columns, marks);
    return Status::Ok();
}

Status Coverage::Mark(int first, int count, int x0, int width, uint8_t* masked) const {
    const size_t cells = static_cast<size_t>(count) * static_cast<size_t>(width);
    thread_local std::vector<double> values;
    values.resize(cells);
    if (Status read = alpha_->ReadValues(first, count, x0, width, values.data()); !read)
        return read;
    for (size_t i = 0; i < cells; ++i) masked[i] = values[i] == 0 ? 1 : 0;
    return Status::Ok();
}

}  // namespace tessera
