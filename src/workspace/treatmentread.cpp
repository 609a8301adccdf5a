// The treatment document read back and checked, each refusal naming the field that breaks the
// format (treatmentfile.cpp writes it).
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <unordered_set>

#include "bands/stretch.h"
#include "support/readfile.h"
#include "workspace/treatmentfile.h"

namespace tessera {

namespace {

using Kind = JsonValue::Kind;

// Reads the fields of a document, naming the first that breaks the format.
class FieldReader {
  public:
    explicit FieldReader(std::string path) : path_(std::move(path)) {}

    bool Failed() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }

    bool Refuse(const std::string& field, const std::string& why) {
        if (error_.empty()) error_ = "the treatment " + path_ + ": " + field + " " + why;
        return false;
    }

    const JsonValue* Member(const JsonValue& object, const std::string& field,
                            const std::string& name, Kind kind, bool nullable = false) {
        const JsonValue* value = object.Find(name);
        const std::string full = field.empty() ? name : field + "." + name;
        if (value == nullptr) {
            Refuse(full, "is missing");
            return nullptr;
        }
        if (nullable && value->kind == Kind::Null) return value;
        if (value->kind != kind) {
            Refuse(full, std::string("needs ") + JsonKindName(kind) + (nullable ? " or null" : "") +
                             ", not " + JsonKindName(value->kind));
            return nullptr;
        }
        return value;
    }

    std::optional<int64_t> Whole(const JsonValue& object, const std::string& field,
                                 const std::string& name, int64_t low, int64_t high) {
        const JsonValue* value = Member(object, field, name, Kind::Number);
        if (value == nullptr) return std::nullopt;
        const std::string full = field.empty() ? name : field + "." + name;
        const std::optional<int64_t> whole = value->Whole();
        if (!whole || *whole < low || *whole > high) {
            Refuse(full, "needs a whole number from " + std::to_string(low) + " to " +
                             std::to_string(high) + ", not " + value->numberText);
            return std::nullopt;
        }
        return whole;
    }

    std::optional<double> Number(const JsonValue& object, const std::string& field,
                                 const std::string& name) {
        const JsonValue* value = Member(object, field, name, Kind::Number);
        if (value == nullptr) return std::nullopt;
        return value->number;
    }

  private:
    std::string path_;
    std::string error_;
};

std::optional<ColourEntry> ColourOf(const std::string& text) {
    if (text.size() != 7 || text[0] != '#') return std::nullopt;
    unsigned channel[3];
    for (int k = 0; k < 3; ++k) {
        unsigned value = 0;
        for (int d = 0; d < 2; ++d) {
            const char c = text[static_cast<size_t>(1 + 2 * k + d)];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<unsigned>(c - 'A' + 10);
            else
                return std::nullopt;
        }
        channel[k] = value;
    }
    ColourEntry colour;
    colour.red = static_cast<uint8_t>(channel[0]);
    colour.green = static_cast<uint8_t>(channel[1]);
    colour.blue = static_cast<uint8_t>(channel[2]);
    return colour;
}

bool ReadBand(FieldReader& reader, const JsonValue& item, const std::string& field, int b,
              SavedBand& band) {
    if (item.kind != Kind::Object) return reader.Refuse(field, "needs an object");
    const std::optional<int64_t> number = reader.Whole(item, field, "band", 1, kMaximumJobBands);
    if (!number) return false;
    if (*number != b) return reader.Refuse(field + ".band", "needs " + std::to_string(b));
    const JsonValue* file = reader.Member(item, field, "file", Kind::String);
    if (file == nullptr) return false;
    band.file = file->string;
    const JsonValue* raster = reader.Member(item, field, "raster_band", Kind::Number, true);
    if (raster == nullptr) return false;
    if (raster->kind == Kind::Number) {
        const std::optional<int64_t> k = reader.Whole(item, field, "raster_band", 1, 1 << 20);
        if (!k) return false;
        band.rasterBand = static_cast<int>(*k);
    }
    const JsonValue* dataType = reader.Member(item, field, "data_type", Kind::String);
    if (dataType == nullptr) return false;
    band.dataType = dataType->string;
    const JsonValue* nodata = item.Find("nodata");
    if (nodata == nullptr) return reader.Refuse(field + ".nodata", "is missing");
    if (nodata->kind == Kind::Number) {
        band.nodata = nodata->number;
    } else if (nodata->kind == Kind::String) {
        band.nodata = ParseNodataValue(nodata->string);
        if (!band.nodata || std::isfinite(*band.nodata))
            return reader.Refuse(field + ".nodata", "needs a number, \"nan\", \"inf\" or \"-inf\"");
    } else if (nodata->kind != Kind::Null) {
        return reader.Refuse(field + ".nodata", "needs a number, a string or null");
    }
    const JsonValue* stretch = reader.Member(item, field, "stretch", Kind::Object, true);
    if (stretch == nullptr) return false;
    if (stretch->kind == Kind::Object) {
        const std::string at = field + ".stretch";
        const std::optional<double> low = reader.Number(*stretch, at, "minimum");
        const std::optional<double> high = reader.Number(*stretch, at, "maximum");
        if (!low || !high) return false;
        if (!(*low < *high)) return reader.Refuse(at, "needs a minimum lower than its maximum");
        band.stretch = StretchRange{*low, *high};
        const JsonValue* percentiles =
            reader.Member(*stretch, at, "percentiles", Kind::Array, true);
        if (percentiles == nullptr) return false;
        if (percentiles->kind == Kind::Array) {
            const auto& p = percentiles->items;
            if (p.size() != 2 || p[0].kind != Kind::Number || p[1].kind != Kind::Number ||
                !(p[0].number >= 0 && p[0].number < p[1].number && p[1].number <= 100))
                return reader.Refuse(at + ".percentiles",
                                     "needs two increasing numbers from 0 to 100");
            band.percentiles = PercentileRange{p[0].number, p[1].number};
        }
    }
    const JsonValue* scaling = reader.Member(item, field, "scaling", Kind::Object, true);
    if (scaling == nullptr) return false;
    if (scaling->kind == Kind::Object) {
        const std::optional<double> scale = reader.Number(*scaling, field + ".scaling", "scale");
        const std::optional<double> offset = reader.Number(*scaling, field + ".scaling", "offset");
        if (!scale || !offset) return false;
        if (*scale == 0)
            return reader.Refuse(field + ".scaling.scale", "needs a number other than 0");
        band.scaling = Scaling{*scale, *offset};
    }
    const JsonValue* method = reader.Member(item, field, "method", Kind::String);
    if (method == nullptr) return false;
    if (method->string == "segmentation")
        band.type = Segmentation;
    else if (method->string == "equipopulation")
        band.type = Equipopulation;
    else if (method->string == "definition")
        band.type = Definition;
    else
        return reader.Refuse(
            field + ".method",
            "needs \"segmentation\", \"equipopulation\" or \"definition\", not \"" +
                method->string + "\"");
    const std::optional<int64_t> count =
        reader.Whole(item, field, "segment_count", 1, kMaximumSegmentCount);
    if (!count) return false;
    band.count = static_cast<int>(*count);
    const JsonValue* natives = reader.Member(item, field, "typed_native_limits", Kind::Array);
    if (natives == nullptr) return false;
    for (const JsonValue& native : natives->items) {
        if (native.kind != Kind::Number)
            return reader.Refuse(field + ".typed_native_limits", "needs numbers");
        band.nativeLimits.push_back(native.number);
    }
    const JsonValue* segments = reader.Member(item, field, "segments", Kind::Array);
    if (segments == nullptr) return false;
    if (static_cast<int>(segments->items.size()) != band.count)
        return reader.Refuse(field + ".segments", "needs " + std::to_string(band.count) +
                                                      " segments (its segment_count), not " +
                                                      std::to_string(segments->items.size()));
    band.limits.lower.assign(static_cast<size_t>(band.count) + 1, 0);
    band.limits.upper.assign(static_cast<size_t>(band.count) + 1, 0);
    for (int j = 1; j <= band.count; ++j) {
        const JsonValue& segment = segments->items[static_cast<size_t>(j - 1)];
        const std::string at = field + ".segments[" + std::to_string(j - 1) + "]";
        if (segment.kind != Kind::Object) return reader.Refuse(at, "needs an object");
        const std::optional<int64_t> s =
            reader.Whole(segment, at, "segment", 1, kMaximumSegmentCount);
        if (!s) return false;
        if (*s != j) return reader.Refuse(at + ".segment", "needs " + std::to_string(j));
        const int64_t limit = int64_t{1} << 40;
        const std::optional<int64_t> low = reader.Whole(segment, at, "gray_min", -limit, limit);
        const std::optional<int64_t> high = reader.Whole(segment, at, "gray_max", -limit, limit);
        if (!low || !high) return false;
        band.limits.lower[j] = *low;
        band.limits.upper[j] = *high;
    }
    return true;
}

// The document is a treatment of the version this program reads.
Status CheckFormat(const JsonValue& root, const std::string& path) {
    const JsonValue* format = root.Find("format");
    if (root.kind != Kind::Object || format == nullptr || format->kind != Kind::String ||
        format->string != kTreatmentFormat)
        return Status::Failure(path + " is not a treatment (its \"format\" is not \"" +
                               std::string(kTreatmentFormat) + "\")");
    const JsonValue* version = root.Find("version");
    const std::optional<int64_t> number = version ? version->Whole() : std::nullopt;
    if (!number) return Status::Failure("the treatment " + path + ": version needs a whole number");
    if (*number != kTreatmentVersion)
        return Status::Failure("the treatment " + path + " has version " + version->numberText +
                               ", and this program reads version " +
                               std::to_string(kTreatmentVersion) + " only");
    return Status::Ok();
}

// The bands and the masks.
Status ReadBands(FieldReader& reader, const JsonValue& root, const std::string& path,
                 SavedTreatment& saved) {
    const JsonValue* bands = reader.Member(root, "", "bands", Kind::Array);
    if (bands == nullptr) return Status::Failure(reader.Error());
    const int n = static_cast<int>(bands->items.size());
    if (n < 2 || n > kMaximumJobBands)
        return Status::Failure("the treatment " + path + ": bands needs 2 to " +
                               std::to_string(kMaximumJobBands) + " bands, not " +
                               std::to_string(n));
    for (int b = 1; b <= n; ++b) {
        SavedBand band;
        if (!ReadBand(reader, bands->items[static_cast<size_t>(b - 1)],
                      "bands[" + std::to_string(b - 1) + "]", b, band))
            return Status::Failure(reader.Error());
        saved.bands.push_back(std::move(band));
    }
    const JsonValue* masks = reader.Member(root, "", "masks", Kind::Array);
    if (masks == nullptr) return Status::Failure(reader.Error());
    for (const JsonValue& mask : masks->items) {
        if (mask.kind != Kind::String)
            return Status::Failure("the treatment " + path + ": masks needs strings");
        saved.masks.push_back(mask.string);
    }
    return Status::Ok();
}

// The code table: its radices the bands' segment counts, its code count their product.
Result<CodeTable> ReadCodeTable(FieldReader& reader, const JsonValue& root, const std::string& path,
                                const SavedTreatment& saved) {
    using R = Result<CodeTable>;
    const int n = saved.BandCount();
    const JsonValue* table = reader.Member(root, "", "code_table", Kind::Object);
    if (table == nullptr) return R::Failure(reader.Error());
    const JsonValue* radices = reader.Member(*table, "code_table", "radices", Kind::Array);
    if (radices == nullptr) return R::Failure(reader.Error());
    bool radicesFit = static_cast<int>(radices->items.size()) == n;
    std::vector<int32_t> counts(static_cast<size_t>(n) + 1, 0);
    for (int b = 1; b <= n && radicesFit; ++b) {
        const std::optional<int64_t> radix = radices->items[static_cast<size_t>(b - 1)].Whole();
        radicesFit = radix && *radix == saved.bands[b - 1].count;
        counts[b] = saved.bands[b - 1].count;
    }
    if (!radicesFit)
        return R::Failure("the treatment " + path +
                          ": code_table.radices needs the bands' segment counts, in order");
    const Result<CodeTable> codes = BuildCodeTable(counts, true);
    if (!codes) return R::Failure("the treatment " + path + ": code_table makes too many codes");
    if (codes.value->Sparse()) {
        // Past a dense count the product may pass 2^63 and reach 2^64: compared as written.
        const JsonValue* written =
            reader.Member(*table, "code_table", "code_count", Kind::Number);
        if (written == nullptr) return R::Failure(reader.Error());
        if (written->numberText != codes.value->TotalText())
            return R::Failure("the treatment " + path + ": code_table.code_count needs " +
                              codes.value->TotalText() + ", the product of its radices");
        return codes;
    }
    const std::optional<int64_t> codeCount =
        reader.Whole(*table, "code_table", "code_count", 1, kMaximumCodeCount);
    if (!codeCount) return R::Failure(reader.Error());
    if (*codeCount != codes.value->CodeCount)
        return R::Failure("the treatment " + path + ": code_table.code_count needs " +
                          std::to_string(codes.value->CodeCount) + ", the product of its radices");
    return codes;
}

Status ReadSelection(FieldReader& reader, const JsonValue& root, SavedTreatment& saved) {
    const JsonValue* selection = reader.Member(root, "", "selection", Kind::Object, true);
    if (selection == nullptr) return Status::Failure(reader.Error());
    if (selection->kind == Kind::Object) {
        const JsonValue* keepAll =
            reader.Member(*selection, "selection", "keep_all", Kind::Boolean);
        if (keepAll == nullptr) return Status::Failure(reader.Error());
        const std::optional<int64_t> minimum =
            reader.Whole(*selection, "selection", "minimum", INT64_MIN / 2, INT64_MAX / 2);
        if (!minimum) return Status::Failure(reader.Error());
        saved.selection = CodeSelection{keepAll->boolean, *minimum};
    }
    return Status::Ok();
}

// The offset (code - 1) of a class of a sparse table, its code 1 to the table's size read
// exactly: past 2^53, and up to 2^64 when the table is that large.
std::optional<CodeOffset> OffsetOfSparse(FieldReader& reader, const JsonValue& item,
                                         const std::string& at, const CodeTable& codes) {
    const JsonValue* value = reader.Member(item, at, "code", Kind::Number);
    if (value == nullptr) return std::nullopt;
    const std::optional<uint64_t> code = value->Unsigned();
    if (code && *code >= 1 && WideCount{*code} <= codes.TotalCodes()) return *code - 1;
    if (!code && value->numberText == codes.TotalText())  // the last code of 2^64
        return static_cast<CodeOffset>(codes.TotalCodes() - 1);
    reader.Refuse(at + ".code", "needs a whole number from 1 to " + codes.TotalText() +
                                    ", not " + value->numberText);
    return std::nullopt;
}

// The classes, numbered from 1 in order, each a code of the table that no earlier class has,
// with its colour; then the colours of the class values left over, up to 254.
Status ReadClasses(FieldReader& reader, const JsonValue& root, const std::string& path,
                   int mostClasses, const CodeTable& codes, SavedTreatment& saved) {
    const int n = saved.BandCount();
    const JsonValue* classes = reader.Member(root, "", "classes", Kind::Array);
    if (classes == nullptr) return Status::Failure(reader.Error());
    const int k = static_cast<int>(classes->items.size());
    if (k > mostClasses)
        return Status::Failure("the treatment " + path + ": classes needs at most " +
                               std::to_string(mostClasses) + " classes, not " + std::to_string(k));
    saved.selectedCodes.assign(static_cast<size_t>(k) + 1, 0);
    if (k > kMaximumClassCount)
        saved.wideColours.assign(static_cast<size_t>(k) + 1, ColourEntry{255, 255, 255, 0, 0});
    saved.colours[0] = ColourEntry{255, 255, 255, 0, 0};
    saved.colours[255] = ColourEntry{255, 255, 255, 255, 0};
    // A sparse table's codes are numbered among those a scene holds: the class keeps its
    // code itself, as an offset, to be numbered in the scene it is applied to.
    const bool sparse = codes.Sparse();
    if (sparse) saved.selectedOffsets.assign(static_cast<size_t>(k) + 1, 0);
    std::vector<bool> taken(sparse ? 0 : static_cast<size_t>(codes.CodeCount) + 1, false);
    std::unordered_set<CodeOffset> takenOffsets;
    for (int c = 1; c <= k; ++c) {
        const JsonValue& item = classes->items[static_cast<size_t>(c - 1)];
        const std::string at = "classes[" + std::to_string(c - 1) + "]";
        if (item.kind != Kind::Object) {
            reader.Refuse(at, "needs an object");
            return Status::Failure(reader.Error());
        }
        const std::optional<int64_t> number = reader.Whole(item, at, "class", 1, mostClasses);
        if (!number) return Status::Failure(reader.Error());
        if (*number != c)
            return Status::Failure("the treatment " + path + ": " + at + ".class needs " +
                                   std::to_string(c) + " (classes are numbered from 1, in order)");
        CodeOffset offset = 0;
        std::string codeText;
        if (sparse) {
            const std::optional<CodeOffset> code = OffsetOfSparse(reader, item, at, codes);
            if (!code) return Status::Failure(reader.Error());
            offset = *code;
            codeText = WideText(WideCount{offset} + 1);
            if (!takenOffsets.insert(offset).second)
                return Status::Failure("the treatment " + path + ": " + at + ".code " + codeText +
                                       " belongs to an earlier class");
            saved.selectedOffsets[static_cast<size_t>(c)] = offset;
        } else {
            const std::optional<int64_t> code = reader.Whole(item, at, "code", 1, codes.CodeCount);
            if (!code) return Status::Failure(reader.Error());
            if (taken[static_cast<size_t>(*code)])
                return Status::Failure("the treatment " + path + ": " + at + ".code " +
                                       std::to_string(*code) + " belongs to an earlier class");
            taken[static_cast<size_t>(*code)] = true;
            offset = static_cast<CodeOffset>(*code - 1);
            codeText = std::to_string(*code);
            saved.selectedCodes[static_cast<size_t>(c)] = static_cast<int32_t>(*code);
        }
        const JsonValue* digits = reader.Member(item, at, "digits", Kind::Array);
        if (digits == nullptr) return Status::Failure(reader.Error());
        bool same = static_cast<int>(digits->items.size()) == n;
        for (int b = 1; b <= n && same; ++b) {
            const std::optional<int64_t> digit = digits->items[static_cast<size_t>(b - 1)].Whole();
            same = digit && *digit == codes.DigitOfOffset(offset, b);
        }
        if (!same)
            return Status::Failure("the treatment " + path + ": " + at +
                                   ".digits needs the segment numbers of code " + codeText);
        const JsonValue* colour = reader.Member(item, at, "colour", Kind::String);
        if (colour == nullptr) return Status::Failure(reader.Error());
        const std::optional<ColourEntry> rgb = ColourOf(colour->string);
        if (!rgb)
            return Status::Failure("the treatment " + path + ": " + at +
                                   ".colour needs \"#rrggbb\", not \"" + colour->string + "\"");
        if (c <= 254) {
            saved.colours[static_cast<size_t>(c)] = *rgb;
            saved.colours[static_cast<size_t>(c)].index = c;
        }
        if (k > kMaximumClassCount) {
            saved.wideColours[static_cast<size_t>(c)] = *rgb;
            saved.wideColours[static_cast<size_t>(c)].index = c;
        }
    }
    const JsonValue* spare = reader.Member(root, "", "spare_colours", Kind::Array);
    if (spare == nullptr) return Status::Failure(reader.Error());
    if (static_cast<int>(spare->items.size()) != std::max(254 - k, 0))
        return Status::Failure("the treatment " + path + ": spare_colours needs " +
                               std::to_string(254 - k) + " colours (of class values " +
                               std::to_string(k + 1) + " to 254), not " +
                               std::to_string(spare->items.size()));
    for (int value = k + 1; value <= 254; ++value) {
        const JsonValue& item = spare->items[static_cast<size_t>(value - k - 1)];
        const std::optional<ColourEntry> rgb =
            item.kind == Kind::String ? ColourOf(item.string) : std::nullopt;
        if (!rgb)
            return Status::Failure("the treatment " + path + ": spare_colours[" +
                                   std::to_string(value - k - 1) + "] needs \"#rrggbb\"");
        saved.colours[static_cast<size_t>(value)] = *rgb;
        saved.colours[static_cast<size_t>(value)].index = value;
    }
    return Status::Ok();
}

}  // namespace

Result<SavedTreatment> ParseTreatment(const std::string& text, const std::string& path,
                                      int mostClasses) {
    using R = Result<SavedTreatment>;
    try {
        const Result<JsonValue> document = ParseJson(text);
        if (!document)
            return R::Failure("the treatment " + path + " is not JSON: " + document.message);
        const JsonValue& root = *document.value;
        if (Status known = CheckFormat(root, path); !known) return R::Failure(known.message);
        FieldReader reader(path);
        SavedTreatment saved;
        if (Status read = ReadBands(reader, root, path, saved); !read)
            return R::Failure(read.message);
        const Result<CodeTable> codes = ReadCodeTable(reader, root, path, saved);
        if (!codes) return R::Failure(codes.message);
        if (Status read = ReadSelection(reader, root, saved); !read)
            return R::Failure(read.message);
        if (Status read = ReadClasses(reader, root, path, mostClasses, *codes.value, saved); !read)
            return R::Failure(read.message);
        return R::Of(std::move(saved));
    } catch (const std::bad_alloc&) {
        return R::Failure(std::string(kMemoryRefusal) + "to read the treatment " + path + " ");
    }
}

Result<SavedTreatment> ReadTreatment(const std::string& path, int mostClasses) {
    using R = Result<SavedTreatment>;
    ReadOnlyFile file(path);
    if (!file.IsOpen()) return R::Failure("the treatment " + path + ": " + file.Refusal());
    std::string text;
    char buffer[1 << 14];
    while (true) {
        const ssize_t got = ::read(file.Descriptor(), buffer, sizeof buffer);
        if (got < 0) return R::Failure("the treatment " + path + " cannot be read");
        if (got == 0) break;
        text.append(buffer, static_cast<size_t>(got));
        // A treatment is a few hundred kilobytes at most.
        if (text.size() > (size_t{64} << 20))
            return R::Failure("the treatment " + path + " is too large to be a treatment");
    }
    return ParseTreatment(text, path, mostClasses);
}

}  // namespace tessera
