#include "bands/pixelmask.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "support/numbers.h"

namespace tessera {

namespace {

// The items of a list separated by commas ("1,3,4"); none when one is empty.
std::optional<std::vector<std::string>> Items(const std::string& list) {
    std::vector<std::string> items;
    size_t start = 0;
    while (true) {
        const size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? comma : comma - start);
        while (!item.empty() && item.front() == ' ') item.erase(item.begin());
        while (!item.empty() && item.back() == ' ') item.pop_back();
        if (item.empty()) return std::nullopt;
        items.push_back(std::move(item));
        if (comma == std::string::npos) return items;
        start = comma + 1;
    }
}

// "a, b and c".
std::string ListText(const std::vector<std::string>& items, const char* last) {
    std::string text;
    for (size_t k = 0; k < items.size(); ++k) {
        if (k > 0) text += k + 1 == items.size() ? last : ", ";
        text += items[k];
    }
    return text;
}

}  // namespace

bool MaskRule::Masks(double value) const {
    switch (kind) {
        case Kind::NonZero:
            return value != 0 && !std::isnan(value);
        case Kind::Bits: {
            // Flags are whole numbers: a value that is none carries no bit.
            if (!(value >= 0 && value < 18446744073709551616.0) || value != std::floor(value))
                return false;
            return (static_cast<uint64_t>(value) & bits) != 0;
        }
        case Kind::Values:
            for (const double held : values)
                if (value == held) return true;
            return false;
    }
    return false;
}

std::string MaskRule::Text() const {
    std::vector<std::string> items;
    switch (kind) {
        case Kind::NonZero:
            return "masked where it is not 0";
        case Kind::Bits:
            for (int bit = 0; bit < 64; ++bit)
                if (bits & (uint64_t{1} << bit)) items.push_back(std::to_string(bit));
            return items.size() == 1
                       ? "masked where bit " + items[0] + " is set"
                       : "masked where any of bits " + ListText(items, " and ") + " is set";
        case Kind::Values:
            for (const double value : values) items.push_back(NumberText(value));
            return "masked where it holds " + ListText(items, " or ");
    }
    return {};
}

Result<MaskRule> BitsRule(const std::string& list) {
    using R = Result<MaskRule>;
    const std::optional<std::vector<std::string>> items = Items(list);
    if (!items) return R::Failure("the bit numbers '" + list + "' are not a list like 1,3,4");
    MaskRule rule;
    rule.kind = MaskRule::Kind::Bits;
    for (const std::string& item : *items) {
        const std::optional<double> bit = FiniteNumber(item);
        if (!bit || *bit != std::floor(*bit))
            return R::Failure("the bit numbers '" + list + "' are not a list like 1,3,4");
        if (*bit < 0 || *bit > 63)
            return R::Failure("the bit number " + item + " lies outside 0..63");
        rule.bits |= uint64_t{1} << static_cast<int>(*bit);
    }
    return R::Of(rule);
}

Result<MaskRule> ValuesRule(const std::string& list) {
    using R = Result<MaskRule>;
    const std::optional<std::vector<std::string>> items = Items(list);
    if (!items) return R::Failure("the mask values '" + list + "' are not a list like 3,8,9,10");
    MaskRule rule;
    rule.kind = MaskRule::Kind::Values;
    for (const std::string& item : *items) {
        const std::optional<double> value = FiniteNumber(item);
        if (!value) return R::Failure("the mask value " + item + " is not a number");
        rule.values.push_back(*value);
    }
    return R::Of(rule);
}

void PixelMask::Add(BandReader band, MaskRule rule, std::string name) {
    masks_.push_back({std::move(band), std::move(rule), std::move(name)});
}

std::vector<std::string> PixelMask::Texts() const {
    std::vector<std::string> texts;
    for (const MaskDescription& mask : Descriptions())
        texts.push_back(mask.name + ", " + mask.rule);
    return texts;
}

std::vector<MaskDescription> PixelMask::Descriptions() const {
    std::vector<MaskDescription> descriptions;
    for (const Mask& mask : masks_) descriptions.push_back({mask.name, mask.rule.Text()});
    return descriptions;
}

Status PixelMask::Mark(int first, int count, int x0, int width, uint8_t* masked) const {
    const size_t cells = static_cast<size_t>(count) * static_cast<size_t>(width);
    std::memset(masked, 0, cells);
    // Each thread keeps its buffers: a mask is read for every strip of every pass.
    thread_local std::vector<double> values;
    thread_local std::vector<uint8_t> lines;
    for (const Mask& mask : masks_) {
        if (const RasterSource* raster = mask.band.Raster()) {
            values.resize(cells);
            if (Status read = raster->ReadValues(first, count, x0, width, values.data()); !read)
                return read;
            for (size_t i = 0; i < cells; ++i)
                if (mask.rule.Masks(values[i])) masked[i] = 1;
            continue;
        }
        // Raw files and bitmaps: gray levels, read whole lines wide.
        const size_t columns = static_cast<size_t>(mask.band.Size().columns);
        lines.resize(static_cast<size_t>(count) * columns);
        if (Status read = mask.band.ReadLines(first, count, lines.data()); !read) return read;
        for (int y = 0; y < count; ++y) {
            const uint8_t* line = lines.data() + columns * static_cast<size_t>(y) + x0;
            uint8_t* out = masked + static_cast<size_t>(width) * static_cast<size_t>(y);
            for (int x = 0; x < width; ++x)
                if (mask.rule.Masks(line[x])) out[x] = 1;
        }
    }
    return Status::Ok();
}

std::string MaskName(const std::string& path, BandFileType type, int rasterBand) {
    if (type != BandFileType::Raster) return path;
    return path + " (raster band " + std::to_string(rasterBand) + ")";
}

Status CheckMaskPlace(const BandReader& mask, ImageSize size,
                      const std::optional<Georeference>& place) {
    const std::optional<Georeference> own = mask.Georef();
    if (own && place) {
        const std::string difference = GeoreferenceDifference(*place, *own);
        if (difference == "their coordinate systems differ")
            return Status::Failure(
                mask.Refusal("as a mask, it lies in another coordinate system than the bands"));
    }
    const ImageSize masked = mask.Size();
    if (masked.lines != size.lines || masked.columns != size.columns)
        return Status::Failure(mask.Refusal("as a mask, it has " + std::to_string(masked.lines) +
                                            " lines x " + std::to_string(masked.columns) +
                                            " columns, the bands " + std::to_string(size.lines) +
                                            " x " + std::to_string(size.columns)));
    if (own && place && !GeoreferenceDifference(*place, *own).empty())
        return Status::Failure(mask.Refusal("as a mask, it does not lie on the bands' pixel grid"));
    return Status::Ok();
}

}  // namespace tessera
