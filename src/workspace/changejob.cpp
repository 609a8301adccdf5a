#include "workspace/changejob.h"

#include <algorithm>
#include <new>
#include <vector>

#include "bands/rasterband.h"
#include "crossing/mapresult.h"
#include "support/safefile.h"
#include "workspace/resultfiles.h"

namespace tessera {

namespace {

constexpr int64_t kStripBytes = int64_t{64} << 10;

// A text file staged beside its target.
struct StagedText {
    std::string path;
    StagedFile file;
    bool written = false;
    StagedText(const std::string& target, const std::string& text) : path(target) {
        written = file.Open(target) && file.WriteAt(0, text.data(), text.size());
    }
};

}  // namespace

Status ChangeJob::Open(const std::string& from, const std::string& to) {
    Result<BandReader> first = OpenRasterBand(from, 1);
    if (!first) return Status::Failure(first.message);
    Result<BandReader> second = OpenRasterBand(to, 1);
    if (!second) return Status::Failure(second.message);
    const std::optional<Georeference> one = first.value->Georef(), two = second.value->Georef();
    for (const auto& [path, place] : {std::pair{from, one}, {to, two}})
        if (!place)
            return Status::Failure("the class map " + path +
                                   " carries no georeference: --change compares class maps "
                                   "that lie on the map");
    const ImageSize a = first.value->Size(), b = second.value->Size();
    if (a.lines != b.lines || a.columns != b.columns)
        return Status::Failure("the class maps " + from + " and " + to +
                               " lie on different grids: " + std::to_string(a.lines) + " x " +
                               std::to_string(a.columns) + " and " + std::to_string(b.lines) +
                               " x " + std::to_string(b.columns) + " pixels");
    if (const std::string difference = GeoreferenceDifference(*one, *two); !difference.empty())
        return Status::Failure("the class maps " + from + " and " + to +
                               " lie on different grids: " + difference);
    const auto wide = [](const BandReader& reader) {
        return reader.Raster() && reader.Raster()->DataType() == "UInt16";
    };
    for (const auto& [path, reader] : {std::pair{from, &*first.value}, {to, &*second.value}})
        if (!wide(*reader) &&
            (reader->Stretch() || (reader->Raster() && !reader->Raster()->IsByte())))
            return Status::Failure("the class map " + path + " holds " +
                                   reader->Raster()->DataType() +
                                   " values, not the classes of a class map (Byte or UInt16)");
    if (wide(*first.value) != wide(*second.value))
        return Status::Failure("the class maps " + from + " and " + to +
                               " hold classes of different sizes: " +
                               first.value->Raster()->DataType() + " and " +
                               second.value->Raster()->DataType());
    wide_ = wide(*first.value);
    fromPath_ = from;
    toPath_ = to;
    from_ = std::move(*first.value);
    to_ = std::move(*second.value);
    size_ = a;
    place_ = *one;
    return Status::Ok();
}

template <class Visit>
Status ChangeJob::ForEachStrip(const Visit& visit) const {
    const int columns = size_.columns;
    const int lines =
        static_cast<int>(std::clamp<int64_t>(kStripBytes / std::max(columns, 1), 1, 1024));
    const size_t cells = static_cast<size_t>(lines) * columns;
    std::vector<uint8_t> from(cells), to(cells), fromMarks(cells), toMarks(cells);
    for (int first = 0; first < size_.lines; first += lines) {
        const int count = std::min(lines, size_.lines - first);
        if (Status read = from_.ReadLines(first, count, from.data(), fromMarks.data()); !read)
            return read;
        if (Status read = to_.ReadLines(first, count, to.data(), toMarks.data()); !read)
            return read;
        const size_t n = static_cast<size_t>(count) * columns;
        for (size_t k = 0; k < n; ++k) {
            if (fromMarks[k] != 0) from[k] = kNoClassValue;
            if (toMarks[k] != 0) to[k] = kNoClassValue;
        }
        if (Status visited = visit(first, count, from.data(), to.data()); !visited) return visited;
    }
    return Status::Ok();
}

template <class Visit>
Status ChangeJob::ForEachWideStrip(const Visit& visit) const {
    const int columns = size_.columns;
    const int lines =
        static_cast<int>(std::clamp<int64_t>(kStripBytes / std::max(columns, 1), 1, 1024));
    const size_t cells = static_cast<size_t>(lines) * columns;
    std::vector<double> values(cells);
    std::vector<uint16_t> from(cells), to(cells);
    // A value outside the classes (the nodata value 65535, or none at all) is no class.
    const auto classes = [&](const BandReader& reader, int first, int count,
                             std::vector<uint16_t>& out) {
        if (Status read = reader.Raster()->ReadValues(first, count, 0, columns, values.data());
            !read)
            return read;
        const size_t n = static_cast<size_t>(count) * columns;
        for (size_t k = 0; k < n; ++k)
            out[k] = values[k] >= 0 && values[k] < kNoWideClassValue
                         ? static_cast<uint16_t>(values[k])
                         : static_cast<uint16_t>(kNoWideClassValue);
        return Status::Ok();
    };
    for (int first = 0; first < size_.lines; first += lines) {
        const int count = std::min(lines, size_.lines - first);
        if (Status read = classes(from_, first, count, from); !read) return read;
        if (Status read = classes(to_, first, count, to); !read) return read;
        if (Status visited = visit(first, count, from.data(), to.data()); !visited) return visited;
    }
    return Status::Ok();
}

Status ChangeJob::Count() {
    try {
        ChangeCounts counts;
        const Status counted = ForEachClassStrip([&](int, int count, const auto* from,
                                                     const auto* to) {
            counts.AddLine(from, to, count * size_.columns);
            return Status::Ok();
        });
        if (!counted) return counted;
        Result<ChangeTable> table = MakeChangeTable(counts);
        if (!table) return Status::Failure(table.message);
        table_ = std::move(*table.value);
        // What the classes are, where each map's legend is beside it.
        table_.fromNames = LegendClassNames(fromPath_ + ".aux.xml");
        table_.toNames = LegendClassNames(toPath_ + ".aux.xml");
        return Status::Ok();
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to compare the class maps ");
    }
}

Status ChangeJob::Save(const std::string& stem) {
    try {
        const ColourTable colours = ChangeColours();
        StagedName geotiffName;
        ClassGeoTiff geotiff;
        const RasterMetadata metadata{{"TIFFTAG_SOFTWARE", "Tessera_V2 tessera-batch"},
                                      {"TESSERA_CHANGE_FROM", fromPath_},
                                      {"TESSERA_CHANGE_TO", toPath_},
                                      {"TESSERA_CHANGE_PAIRS", std::to_string(table_.pairCount)}};
        bool made = geotiffName.Open(stem + ".tif") &&
                    geotiff.Create(geotiffName.Temporary(), size_, colours, place_, metadata);
        const CellAreas cells(size_, place_);
        ChangeAreas areas(cells, table_);
        std::vector<uint8_t> values;
        const Status written = ForEachClassStrip(
            [&](int first, int count, const auto* from, const auto* to) {
                const size_t columns = static_cast<size_t>(size_.columns);
                values.resize(static_cast<size_t>(count) * columns);
                for (size_t k = 0; k < values.size(); ++k) {
                    if constexpr (sizeof(*from) == 1)
                        values[k] = table_.valueOf[static_cast<size_t>(from[k]) * 256 + to[k]];
                    else
                        values[k] = table_.ValueOf(from[k], to[k]);
                }
                for (int i = 0; i < count; ++i)
                    areas.AddLine(first + i, from + i * columns, to + i * columns,
                                  values.data() + i * columns, size_.columns);
                if (made) made = geotiff.WriteLines(first, count, values.data(), columns);
                return Status::Ok();
            });
        if (!written) return written;  // the staged files are removed as they go
        areas.Fill(table_);
        std::vector<std::string> failed;
        made = geotiff.Close() && made;
        std::vector<std::unique_ptr<StagedText>> texts;
        texts.push_back(std::make_unique<StagedText>(stem + ".csv", ChangeCsv(table_)));
        texts.push_back(
            std::make_unique<StagedText>(stem + ".tif.aux.xml", ChangeLegend(table_, colours)));
        texts.push_back(std::make_unique<StagedText>(stem + ".qml", ChangeStyle(table_, colours)));
        texts.push_back(std::make_unique<StagedText>(
            stem + ".txt", ChangeReport(fromPath_, toPath_, size_, table_)));
        // Put in place together, all or nothing.
        FileSet set;
        if (made)
            set.Add(stem + ".tif", geotiffName);
        else
            set.AddUnwritten(stem + ".tif");
        for (const auto& text : texts) {
            if (text->written)
                set.Add(text->path, text->file);
            else
                set.AddUnwritten(text->path);
        }
        set.Commit(failed);
        return CollectedSaveStatus(failed);
    } catch (const std::bad_alloc&) {
        return Status::Failure(std::string(kMemoryRefusal) + "to save " + stem + " ");
    }
}

}  // namespace tessera
