#include "segmentation/thresholding.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <optional>

namespace tessera {

namespace {

// Both lists zero-filled, indexed 1..count (entry 0 unused).
SegmentLimits EmptyLimits(int count) {
    SegmentLimits limits;
    const size_t entries = static_cast<size_t>(std::max(count, 0)) + 1;
    limits.lower.assign(entries, 0);
    limits.upper.assign(entries, 0);
    return limits;
}

}  // namespace

const char* ThresholdingName(int type) {
    switch (type) {
        case Segmentation:
            return "Segmentation";
        case Equipopulation:
            return "Equipopulation";
        case Definition:
            return "Definition";
        default:
            return "";
    }
}

Status CheckSegmentCount(int count) {
    if (count >= 1 && count <= kMaximumSegmentCount) return Status::Ok();
    return Status::Failure(" The number of segments must lie between 1 and 254 ");
}

SegmentLimits StrictoSensuLimits(int minGray, int maxGray, int count) {
    SegmentLimits limits = EmptyLimits(count);
    if (count < 1) return limits;
    const int64_t range = int64_t{maxGray} - minGray + 1;
    // R / N rounded with halves going up; every segment but the last spans s + 1 levels.
    const int64_t step = (2 * range + count) / (2 * int64_t{count});
    limits.lower[1] = minGray;
    for (int k = 2; k <= count; ++k) limits.lower[k] = limits.lower[k - 1] + step + 1;
    for (int k = 1; k < count; ++k) limits.upper[k] = limits.lower[k + 1] - 1;
    limits.upper[count] = maxGray;
    return limits;
}

SegmentLimits EquipopulationLimits(const Histogram& histogram, int minGray, int maxGray,
                                   int count) {
    SegmentLimits limits = EmptyLimits(count);
    if (count < 1) return limits;

    // One entry more than the gray levels: the level above 255 holds no pixel.
    std::array<int64_t, 257> h{};
    int64_t pixels = 0;
    for (int g = 0; g < 256; ++g) {
        h[g] = histogram[g];
        pixels += histogram[g];
    }
    const int64_t target = pixels / count;

    int closed = 0;
    int64_t running = 0;
    const int first = std::max(minGray, 0);
    const int last = std::min(maxGray, 255);
    for (int g = first; g <= last && closed < count - 1; ++g) {
        running += h[g];
        const int64_t withNext = running + h[g + 1];
        if (withNext <= target) continue;
        ++closed;
        if (std::llabs(target - withNext) > std::llabs(target - running)) {
            limits.upper[closed] = g;
            // The next segment's count starts with the level just closed.
            running = h[g];
        } else {
            // Ties close after level g + 1, yet the scan still adds g + 1 to the next count.
            limits.upper[closed] = g + 1;
            running = 0;
        }
    }

    limits.lower[1] = minGray;
    limits.upper[count] = maxGray;
    for (int k = 2; k <= count; ++k) limits.lower[k] = limits.upper[k - 1] + 1;
    return limits;
}

SegmentLimits DefinitionLimits(int minGray, const std::vector<int32_t>& typedUpper) {
    const int count = static_cast<int>(typedUpper.size());
    SegmentLimits limits = EmptyLimits(count);
    if (count < 1) return limits;
    limits.lower[1] = minGray;
    for (int k = 1; k <= count; ++k) {
        limits.upper[k] = typedUpper[k - 1];
        if (k < count) limits.lower[k + 1] = limits.upper[k] + 1;
    }
    return limits;
}

SegmentLimits BandSegmentLimits(int type, int count, const std::vector<int32_t>& typedUpper,
                                GrayRange range, const Histogram& histogram) {
    switch (type) {
        case Equipopulation:
            return EquipopulationLimits(histogram, range.minGray, range.maxGray, count);
        case Definition: {
            std::vector<int32_t> upper = typedUpper;
            upper.resize(static_cast<size_t>(std::max(count, 0)), range.maxGray);
            return DefinitionLimits(range.minGray, upper);
        }
        default:
            return StrictoSensuLimits(range.minGray, range.maxGray, count);
    }
}

SegmentLookup SegmentLookupTable(const SegmentLimits& limits) {
    SegmentLookup lookup;
    lookup.fill(NoSegment);
    const int count = limits.Count();
    // Ascending, so where segments overlap the highest covering segment wins.
    for (int k = 1; k <= count && k < static_cast<int>(limits.upper.size()); ++k) {
        const int64_t from = std::max<int64_t>(limits.lower[k], 0);
        const int64_t to = std::min<int64_t>(limits.upper[k], 255);
        for (int64_t g = from; g <= to; ++g)
            lookup[static_cast<size_t>(g)] = static_cast<uint8_t>(k);
    }
    return lookup;
}

SegmentNumbering MakeSegmentNumbering(const SegmentLookup& lookup) {
    SegmentNumbering numbering;
    numbering.lookup = lookup;
    numbering.steps = MakeGraySteps(lookup);
    return numbering;
}

void NumberSegmentLine(const uint8_t* gray, size_t count, const SegmentNumbering& numbering,
                       uint8_t* numbers) {
    // A line shorter than a block is looked up: the comparisons would work on a whole block.
    if (kVectorGraySteps && numbering.steps.Usable() && count >= 32) {
        ApplyGraySteps(numbering.steps, gray, count, numbers);
        return;
    }
    const uint8_t* table = numbering.lookup.data();
    for (size_t i = 0; i < count; ++i) numbers[i] = table[gray[i]];
}

void NumberSegmentLine(const uint8_t* gray, size_t count, const SegmentLookup& lookup,
                       uint8_t* numbers) {
    thread_local std::optional<SegmentNumbering> last;
    if (count < 32) {
        for (size_t i = 0; i < count; ++i) numbers[i] = lookup[gray[i]];
        return;
    }
    if (!last || last->lookup != lookup) last = MakeSegmentNumbering(lookup);
    NumberSegmentLine(gray, count, *last, numbers);
}

void NumberSegments(const ByteMatrix& pixels, const SegmentLookup& lookup, ByteMatrix& numbers) {
    const int lines = std::min(pixels.Lines(), numbers.Lines());
    const int columns = std::min(pixels.Columns(), numbers.Columns());
    if (lines <= 0 || columns <= 0) return;
    const SegmentNumbering numbering = MakeSegmentNumbering(lookup);
    // Matrices of one width are numbered as one long line.
    if (pixels.Columns() == columns && numbers.Columns() == columns) {
        NumberSegmentLine(pixels.Data(), static_cast<size_t>(lines) * static_cast<size_t>(columns),
                          numbering, numbers.Data());
        return;
    }
    for (int y = 0; y < lines; ++y)
        NumberSegmentLine(pixels[y], static_cast<size_t>(columns), numbering, numbers[y]);
}

void ClearNodata(const uint8_t* nodata, size_t count, uint8_t* numbers) {
    for (size_t i = 0; i < count; ++i) numbers[i] = nodata[i] != 0 ? NoSegment : numbers[i];
}

ColourTable BuildSegmentColourTable(RandomBelow& random) {
    ColourTable table{};
    for (int entry = 1; entry <= 254; ++entry) {
        ColourEntry& colour = table[entry];
        colour.red = static_cast<uint8_t>(random(254));
        colour.green = static_cast<uint8_t>(random(254));
        colour.blue = static_cast<uint8_t>(random(254));
        colour.index = entry;
        colour.spare = 0;
    }
    table[0] = ColourEntry{255, 255, 255, 0, 0};
    table[255] = ColourEntry{255, 255, 255, 255, 255};
    return table;
}

std::optional<GrayImage> PaintByTable(const ByteMatrix& numbers, const ColourTable& colours) {
    try {
        GrayImage image;
        image.width = numbers.Columns();
        image.height = numbers.Lines();
        image.kind = ColourKind;
        // Blue, green, red of every value, looked up once per pixel.
        std::array<std::array<uint8_t, 3>, 256> bgr;
        for (int v = 0; v < 256; ++v) bgr[v] = {colours[v].blue, colours[v].green, colours[v].red};
        // Line by line through a small buffer, appended to memory reserved (not zero-filled)
        // for the whole picture: its pages are touched once.
        const int columns = numbers.Columns();
        const size_t lineBytes = static_cast<size_t>(columns) * 3;
        image.pixels.reserve(lineBytes * static_cast<size_t>(numbers.Lines()));
        AdviseHugePages(image.pixels.data(), image.pixels.capacity());
        std::vector<uint8_t> line(lineBytes);
        for (int y = 0; y < numbers.Lines(); ++y) {
            const uint8_t* in = numbers[y];
            uint8_t* out = line.data();
            for (int x = 0; x < columns; ++x, out += 3) {
                const std::array<uint8_t, 3>& c = bgr[in[x]];
                out[0] = c[0];
                out[1] = c[1];
                out[2] = c[2];
            }
            image.pixels.insert(image.pixels.end(), line.begin(), line.end());
        }
        return image;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

}  // namespace tessera
