#include "crossing/crossing.h"

#include <algorithm>
#include <array>
#include <new>

namespace tessera {

namespace {

// Added for a segment number outside 1..S_b: negative enough that the sum over ten bands stays
// negative whatever the other digits add (each band adds at most kMaximumCodeCount - 1).
constexpr int32_t kNoDigit = -(int32_t{1} << 26);
static_assert(kMaximumCodeCount <= (int64_t{1} << 24),
              "ten bands of kNoDigit must outweigh the largest code");

}  // namespace

std::vector<CodeContribution> SegmentContributions(const CodeTable& table) {
    const int n = table.BandCount();
    std::vector<CodeContribution> contribution(static_cast<size_t>(std::max(n, 0)) + 1);
    for (int b = 1; b <= n; ++b) {
        contribution[b].fill(kNoDigit);
        const int count = std::min(table.segmentCounts[b], 254);  // 255 is NoSegment
        for (int digit = 1; digit <= count; ++digit)
            contribution[b][digit] = static_cast<int32_t>((digit - 1) * table.Weight(b));
    }
    return contribution;
}

CodeContribution GrayContribution(const CodeContribution& bySegment, const SegmentLookup& lookup) {
    CodeContribution byGray;
    for (int gray = 0; gray < 256; ++gray) byGray[gray] = bySegment[lookup[gray]];
    return byGray;
}

void FormCodes(const CodeContribution* const* contributions, const uint8_t* const* values,
               int bandCount, int columns, int32_t* codes) {
    if (bandCount < 1) return;
    // Two bands a pass: half the trips through the line of sums.
    int b = 0;
    if (bandCount >= 2) {
        const int32_t* t0 = contributions[0]->data();
        const int32_t* t1 = contributions[1]->data();
        const uint8_t* v0 = values[0];
        const uint8_t* v1 = values[1];
        for (int x = 0; x < columns; ++x) codes[x] = t0[v0[x]] + t1[v1[x]];
        b = 2;
    } else {
        const int32_t* t0 = contributions[0]->data();
        const uint8_t* v0 = values[0];
        for (int x = 0; x < columns; ++x) codes[x] = t0[v0[x]];
        b = 1;
    }
    for (; b + 1 < bandCount; b += 2) {
        const int32_t* t0 = contributions[b]->data();
        const int32_t* t1 = contributions[b + 1]->data();
        const uint8_t* v0 = values[b];
        const uint8_t* v1 = values[b + 1];
        for (int x = 0; x < columns; ++x) codes[x] += t0[v0[x]] + t1[v1[x]];
    }
    if (b < bandCount) {
        const int32_t* t0 = contributions[b]->data();
        const uint8_t* v0 = values[b];
        for (int x = 0; x < columns; ++x) codes[x] += t0[v0[x]];
    }
    for (int x = 0; x < columns; ++x) codes[x] = codes[x] >= 0 ? codes[x] + 1 : 0;
}

namespace {

// The class of every code 0..N in bytes or 16 bits; code 0 (no code) and eliminated codes are
// in class `none`.
template <class Class, Class none>
std::vector<Class> ClassesOfCodes(const std::vector<int32_t>& selectedCodes, int codeCount) {
    std::vector<Class> classOf(static_cast<size_t>(std::max(codeCount, 0)) + 1, none);
    for (size_t k = 1; k < selectedCodes.size() && k < none; ++k) {
        const int32_t code = selectedCodes[k];
        if (code >= 1 && code <= codeCount) classOf[code] = static_cast<Class>(k);
    }
    return classOf;
}

// `none` a constant, as the per-pixel loop wants it.
template <class Class, Class none>
void ClassifyCodes(const int32_t* codes, int columns, const std::vector<Class>& classOf,
                   Class* classes) {
    const uint32_t limit = static_cast<uint32_t>(classOf.size());
    const Class* table = classOf.data();
    for (int x = 0; x < columns; ++x) {
        const uint32_t code = static_cast<uint32_t>(codes[x]);
        classes[x] = code < limit ? table[code] : none;
    }
}

}  // namespace

std::vector<uint8_t> ClassOfCode(const std::vector<int32_t>& selectedCodes, int codeCount) {
    return ClassesOfCodes<uint8_t, NoClass>(selectedCodes, codeCount);
}

void ClassifyLine(const int32_t* codes, int columns, const std::vector<uint8_t>& classOf,
                  uint8_t* classes) {
    ClassifyCodes<uint8_t, NoClass>(codes, columns, classOf, classes);
}

std::vector<uint16_t> WideClassOfCode(const std::vector<int32_t>& selectedCodes, int codeCount) {
    return ClassesOfCodes<uint16_t, NoWideClass>(selectedCodes, codeCount);
}

void ClassifyLine(const int32_t* codes, int columns, const std::vector<uint16_t>& classOf,
                  uint16_t* classes) {
    ClassifyCodes<uint16_t, NoWideClass>(codes, columns, classOf, classes);
}

std::optional<CodeCounts> CountCodes(const std::vector<const ByteMatrix*>& segmentNumbers,
                                     const CodeTable& table, Progress& progress) {
    const int n = table.BandCount();
    if (n < 1 || static_cast<int>(segmentNumbers.size()) != n) return std::nullopt;
    for (const ByteMatrix* band : segmentNumbers)
        if (band == nullptr || band->Lines() != segmentNumbers[0]->Lines() ||
            band->Columns() != segmentNumbers[0]->Columns())
            return std::nullopt;
    const int lines = segmentNumbers[0]->Lines();
    const int columns = segmentNumbers[0]->Columns();

    try {
        const CodeKernel kernel = MakeCodeKernel(SegmentContributions(table));

        // Every code is written by FormCodes: no zero fill.
        std::optional<IntMatrix> codes = IntMatrix::CreateUnfilled(columns, lines);
        if (!codes) return std::nullopt;
        CodeCounts counts;
        counts.codeImage = std::move(*codes);
        counts.pixelCount.assign(static_cast<size_t>(table.CodeCount) + 1, 0);

        std::vector<const uint8_t*> values(static_cast<size_t>(n));
        for (int y = 0; y < lines; ++y) {
            if (y % 256 == 0 && !progress.Step(kStageCounting, y, lines)) return std::nullopt;
            for (int b = 0; b < n; ++b) values[b] = (*segmentNumbers[b])[y];
            int32_t* row = counts.codeImage[y];
            FormCodes(kernel, values.data(), columns, row);
            CountLine(row, columns, counts.pixelCount.data());
        }
        return counts;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

int64_t CountRetained(const std::vector<int64_t>& pixelCount, int64_t minimum) {
    int64_t retained = 0;
    for (size_t code = 1; code < pixelCount.size(); ++code)
        if (pixelCount[code] > minimum) ++retained;
    return retained;
}

std::vector<int32_t> SelectByMinimum(const std::vector<int64_t>& pixelCount, int64_t minimum) {
    std::vector<int32_t> selected{0};
    for (size_t code = 1; code < pixelCount.size(); ++code)
        if (pixelCount[code] > minimum) selected.push_back(static_cast<int32_t>(code));
    return selected;
}

std::vector<int32_t> SelectAll(int codeCount) {
    std::vector<int32_t> selected(static_cast<size_t>(std::max(codeCount, 0)) + 1);
    for (size_t code = 0; code < selected.size(); ++code)
        selected[code] = static_cast<int32_t>(code);
    return selected;
}

namespace {
bool KeepsNone(const std::vector<int64_t>& pixelCount, CodeSelection choice) {
    const int64_t codeCount = static_cast<int64_t>(pixelCount.size()) - 1;
    return !choice.keepAll && codeCount > kMaximumClassCount && choice.minimum < 0;
}
}  // namespace

int64_t CountSelected(const std::vector<int64_t>& pixelCount, CodeSelection choice) {
    if (choice.keepAll) return std::max<int64_t>(static_cast<int64_t>(pixelCount.size()) - 1, 0);
    if (KeepsNone(pixelCount, choice)) return 0;
    return CountRetained(pixelCount, choice.minimum);
}

std::vector<int32_t> SelectCodes(const std::vector<int64_t>& pixelCount, CodeSelection choice) {
    if (choice.keepAll) return SelectAll(static_cast<int>(pixelCount.size()) - 1);
    if (KeepsNone(pixelCount, choice)) return {0};
    return SelectByMinimum(pixelCount, choice.minimum);
}

ColourTable BuildClassColourTable(RandomBelow& random) {
    ColourTable table{};
    for (int value = 1; value <= 254; ++value) {
        ColourEntry& colour = table[value];
        colour.red = static_cast<uint8_t>(random(254));
        colour.green = static_cast<uint8_t>(random(254));
        colour.blue = static_cast<uint8_t>(random(254));
        colour.index = value;
    }
    table[0] = ColourEntry{255, 255, 255, 0, 0};
    table[255] = ColourEntry{255, 255, 255, 255, 0};
    return table;
}

std::vector<ColourEntry> WideClassColours(const ColourTable& first, int classCount,
                                          RandomBelow& random) {
    std::vector<ColourEntry> colours(static_cast<size_t>(std::max(classCount, 0)) + 1);
    colours[0] = first[0];
    for (int value = 1; value <= classCount; ++value) {
        ColourEntry& colour = colours[static_cast<size_t>(value)];
        if (value <= 254) {
            colour = first[value];
            continue;
        }
        colour.red = static_cast<uint8_t>(random(254));
        colour.green = static_cast<uint8_t>(random(254));
        colour.blue = static_cast<uint8_t>(random(254));
        colour.index = value;
    }
    return colours;
}

std::optional<ByteMatrix> MakeClassImage(const IntMatrix& codeImage,
                                         const std::vector<int32_t>& selectedCodes, int codeCount) {
    try {
        const std::vector<uint8_t> classOf = ClassOfCode(selectedCodes, codeCount);
        std::optional<ByteMatrix> classes =
            ByteMatrix::CreateUnfilled(codeImage.Columns(), codeImage.Lines());
        if (!classes) return std::nullopt;
        for (int y = 0; y < codeImage.Lines(); ++y)
            ClassifyLine(codeImage[y], codeImage.Columns(), classOf, (*classes)[y]);
        return classes;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace tessera
