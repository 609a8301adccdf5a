// FormCodes over a CodeKernel: the codes of a line by comparisons and multiply-adds in vector
// lanes (the digits in 8 bits, their sums within a group in 16 bits, the codes in 32 bits).
#include <algorithm>
#include <climits>
#include <cstring>
#include <numeric>

#include "crossing/crossing.h"
#include "segmentation/vectorsteps.h"

namespace tessera {

namespace {

using Band = CodeKernel::Band;
using Group = CodeKernel::Group;

// What the tables say of one band, read from its 256 entries.
struct TableForm {
    bool digitTimesWeight = true;  // every entry negative or digit x weight, digit <= 254
    int64_t weight = 1;
    int64_t largest = 0;      // of the entries with a digit (0 without any)
    int64_t highestNone = 0;  // the negative entry nearest 0 (0 without any)
    int64_t lowest = 0;       // of all entries, or 0 when none is negative
    std::array<uint8_t, 256> digit{};
    int largestDigit = 0;
};

TableForm ReadTable(const CodeContribution& table) {
    TableForm form;
    int64_t weight = 0;  // the greatest common divisor of the positive entries
    for (int32_t value : table)
        if (value > 0) weight = std::gcd(weight, int64_t{value});
    form.weight = weight == 0 ? 1 : weight;
    bool anyNone = false;
    for (int g = 0; g < 256; ++g) {
        const int64_t value = table[g];
        if (value < 0) {
            form.highestNone = anyNone ? std::max(form.highestNone, value) : value;
            form.lowest = std::min(form.lowest, value);
            anyNone = true;
            form.digit[g] = CodeKernel::kNone;
            continue;
        }
        if (value / form.weight >= CodeKernel::kNone) {
            form.digitTimesWeight = false;
            return form;
        }
        form.digit[g] = static_cast<uint8_t>(value / form.weight);
        form.largestDigit = std::max(form.largestDigit, static_cast<int>(form.digit[g]));
        form.largest = std::max(form.largest, value);
    }
    return form;
}

// The sums of the tables give code 0 exactly where a band has no digit, and digit x weight
// sums that stay clear of 32-bit overflow elsewhere: then the digits may stand for the tables.
bool DigitsGiveTheSameCodes(const std::vector<TableForm>& forms) {
    int64_t largestSum = 0, lowestSum = 0;
    for (const TableForm& form : forms) {
        if (!form.digitTimesWeight) return false;
        largestSum += form.largest;
        lowestSum += form.lowest;
    }
    // Every partial sum of the tables lies between these two (no overflow), and the largest
    // code, the sum plus one, is a 32-bit number.
    if (largestSum >= INT32_MAX || lowestSum < INT32_MIN) return false;
    // One band without a digit makes the sum negative whatever the others add; more bands
    // without one make it lower still.
    for (const TableForm& form : forms)
        if (form.highestNone < 0 && form.highestNone + (largestSum - form.largest) >= 0)
            return false;
    return true;
}

// Consecutive bands gathered while their largest digits, each times its weight over the
// group's weight (the greatest common divisor of the group's weights), add up to less than
// 2^16. Bands whose digits are all 0 add nothing and take any group.
std::vector<Group> GroupBands(const std::vector<TableForm>& forms, std::vector<Band>& bands) {
    std::vector<Group> groups;
    const int n = static_cast<int>(forms.size());
    auto fits = [&](int first, int end, int64_t& common) {
        common = 0;
        for (int b = first; b < end; ++b)
            if (forms[b].largestDigit > 0) common = std::gcd(common, forms[b].weight);
        if (common == 0) return true;
        int64_t largest = 0;
        for (int b = first; b < end; ++b) {
            largest += forms[b].largestDigit * (forms[b].weight / common);
            if (largest > UINT16_MAX) return false;
        }
        return true;
    };
    for (int first = 0; first < n;) {
        int end = first + 1;
        int64_t common = 0;
        fits(first, end, common);  // a band alone always fits: its digits are below 255
        int64_t wider = 0;
        while (end < n && fits(first, end + 1, wider)) {
            ++end;
            common = wider;
        }
        Group group;
        group.first = first;
        group.end = end;
        group.weight = static_cast<uint32_t>(common == 0 ? 1 : common);
        for (int b = first; b < end; ++b)
            bands[b].weight = forms[b].largestDigit == 0
                                  ? 0
                                  : static_cast<uint32_t>(forms[b].weight / group.weight);
        groups.push_back(group);
        first = end;
    }
    return groups;
}

void SumTables(const CodeKernel& kernel, const uint8_t* const* values, int columns,
               int32_t* codes) {
    const int n = kernel.BandCount();
    constexpr int kOnStack = 16;
    const CodeContribution* onStack[kOnStack];
    std::vector<const CodeContribution*> onHeap;
    const CodeContribution** tables = onStack;
    if (n > kOnStack) {
        onHeap.resize(static_cast<size_t>(n));
        tables = onHeap.data();
    }
    for (int b = 0; b < n; ++b) tables[b] = &kernel.tables[b];
    FormCodes(tables, values, n, columns, codes);
}

#if TESSERA_VECTOR_KERNELS
// In SSE2, two blocks of 16 pixels at a time. The digits of each band (8 bits) are summed
// times their weights within a group in 16 bits, eight pixels a register; the group's sums are
// multiplied by its weight into 32 bits and added up, four pixels a register. A pixel has no
// code where a band gives it digit 255 (NoSegment): valid digits are lower, so the largest
// digit over the bands tells.

TESSERA_ALWAYS_INLINE void Digits16x2(const Band& band, const uint8_t* gray, __m128i& digits0,
                                      __m128i& digits1) {
    if (band.steps.Usable())
        return vectors::EvaluateSteps16x2(band.steps, gray, gray + 16, digits0, digits1);
    alignas(16) uint8_t digits[32];
    for (int i = 0; i < 32; ++i) digits[i] = band.digit[gray[i]];
    digits0 = _mm_load_si128(reinterpret_cast<const __m128i*>(digits));
    digits1 = _mm_load_si128(reinterpret_cast<const __m128i*>(digits + 16));
}

// sums += digits x weight for 16 pixels (in two registers of 16 bits).
TESSERA_ALWAYS_INLINE void AddDigits16(__m128i digits, __m128i weight, bool one, __m128i* sums) {
    const __m128i zero = _mm_setzero_si128();
    __m128i low = _mm_unpacklo_epi8(digits, zero);
    __m128i high = _mm_unpackhi_epi8(digits, zero);
    if (!one) {
        low = _mm_mullo_epi16(low, weight);
        high = _mm_mullo_epi16(high, weight);
    }
    sums[0] = _mm_add_epi16(sums[0], low);
    sums[1] = _mm_add_epi16(sums[1], high);
}

// codes += sums x weight for eight pixels: the low and high halves of each 32-bit product,
// interleaved, are the product (the part of the weight above 16 bits adds to the high half).
TESSERA_ALWAYS_INLINE void AddGroup16(__m128i sums, uint32_t weight, __m128i* codes) {
    __m128i low = sums;
    __m128i high = _mm_setzero_si128();
    if (weight != 1) {
        const __m128i lowWeight = _mm_set1_epi16(static_cast<int16_t>(weight & 0xFFFF));
        low = _mm_mullo_epi16(sums, lowWeight);
        high = _mm_mulhi_epu16(sums, lowWeight);
        if (weight >> 16 != 0)
            high = _mm_add_epi16(
                high, _mm_mullo_epi16(sums, _mm_set1_epi16(static_cast<int16_t>(weight >> 16))));
    }
    codes[0] = _mm_add_epi32(codes[0], _mm_unpacklo_epi16(low, high));
    codes[1] = _mm_add_epi32(codes[1], _mm_unpackhi_epi16(low, high));
}

// codes[x..x + 31].
TESSERA_ALWAYS_INLINE void CodeBlocks16(const CodeKernel& kernel, const uint8_t* const* values,
                                        size_t x, int32_t* codes) {
    const __m128i zero = _mm_setzero_si128();
    __m128i largest0 = zero, largest1 = zero;
    __m128i sums[8] = {zero, zero, zero, zero, zero, zero, zero, zero};
    for (const Group& group : kernel.groups) {
        __m128i parts[4] = {zero, zero, zero, zero};
        for (int b = group.first; b < group.end; ++b) {
            const Band& band = kernel.bands[b];
            __m128i digits0, digits1;
            Digits16x2(band, values[b] + x, digits0, digits1);
            largest0 = _mm_max_epu8(largest0, digits0);
            largest1 = _mm_max_epu8(largest1, digits1);
            if (band.weight == 0) continue;
            const __m128i weight = _mm_set1_epi16(static_cast<int16_t>(band.weight));
            AddDigits16(digits0, weight, band.weight == 1, parts);
            AddDigits16(digits1, weight, band.weight == 1, parts + 2);
        }
        for (int i = 0; i < 4; ++i) AddGroup16(parts[i], group.weight, sums + 2 * i);
    }
    // Code = sum + 1, or 0 where a band has no segment: the byte masks widened to 32 bits.
    const __m128i one = _mm_set1_epi32(1);
    const __m128i noneDigit = _mm_set1_epi8(static_cast<char>(CodeKernel::kNone));
    __m128i* out = reinterpret_cast<__m128i*>(codes + x);
    for (int half = 0; half < 2; ++half) {
        const __m128i none = _mm_cmpeq_epi8(half == 0 ? largest0 : largest1, noneDigit);
        const __m128i noneLow = _mm_unpacklo_epi8(none, none);
        const __m128i noneHigh = _mm_unpackhi_epi8(none, none);
        const __m128i masks[4] = {
            _mm_unpacklo_epi16(noneLow, noneLow), _mm_unpackhi_epi16(noneLow, noneLow),
            _mm_unpacklo_epi16(noneHigh, noneHigh), _mm_unpackhi_epi16(noneHigh, noneHigh)};
        for (int i = 0; i < 4; ++i)
            _mm_storeu_si128(out + 4 * half + i,
                             _mm_andnot_si128(masks[i], _mm_add_epi32(sums[4 * half + i], one)));
    }
}

// A line of at least 32 pixels; the last blocks end at the line's end and overlap the ones
// before, whose pixels get the same codes again.
void CodeLine16(const CodeKernel& kernel, const uint8_t* const* values, size_t columns,
                int32_t* codes) {
    size_t x = 0;
    for (; x + 32 <= columns; x += 32) CodeBlocks16(kernel, values, x, codes);
    if (x < columns) CodeBlocks16(kernel, values, columns - 32, codes);
}

// The same in AVX2, two blocks of 32 pixels at a time. Unpacking works within each 128-bit half
// of a register: the 16-bit sums of a block hold pixels 0..7 | 16..23 and 8..15 | 24..31, the
// 32-bit ones 0..3 | 16..19, 4..7 | 20..23, 8..11 | 24..27 and 12..15 | 28..31, put back in
// order as they are stored.

TESSERA_TARGET_AVX2 TESSERA_ALWAYS_INLINE void Digits32x2(const Band& band, const uint8_t* gray,
                                                          __m256i& digits0, __m256i& digits1) {
    if (band.steps.Usable())
        return vectors::EvaluateSteps32x2(band.steps, gray, gray + 32, digits0, digits1);
    alignas(32) uint8_t digits[64];
    for (int i = 0; i < 64; ++i) digits[i] = band.digit[gray[i]];
    digits0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(digits));
    digits1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(digits + 32));
}

TESSERA_TARGET_AVX2 TESSERA_ALWAYS_INLINE void AddDigits32(__m256i digits, __m256i weight, bool one,
                                                           __m256i* sums) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i low = _mm256_unpacklo_epi8(digits, zero);
    __m256i high = _mm256_unpackhi_epi8(digits, zero);
    if (!one) {
        low = _mm256_mullo_epi16(low, weight);
        high = _mm256_mullo_epi16(high, weight);
    }
    sums[0] = _mm256_add_epi16(sums[0], low);
    sums[1] = _mm256_add_epi16(sums[1], high);
}

TESSERA_TARGET_AVX2 TESSERA_ALWAYS_INLINE void AddGroup32(__m256i sums, uint32_t weight,
                                                          __m256i* codes) {
    __m256i low = sums;
    __m256i high = _mm256_setzero_si256();
    if (weight != 1) {
        const __m256i lowWeight = _mm256_set1_epi16(static_cast<int16_t>(weight & 0xFFFF));
        low = _mm256_mullo_epi16(sums, lowWeight);
        high = _mm256_mulhi_epu16(sums, lowWeight);
        if (weight >> 16 != 0)
            high = _mm256_add_epi16(
                high,
                _mm256_mullo_epi16(sums, _mm256_set1_epi16(static_cast<int16_t>(weight >> 16))));
    }
    codes[0] = _mm256_add_epi32(codes[0], _mm256_unpacklo_epi16(low, high));
    codes[1] = _mm256_add_epi32(codes[1], _mm256_unpackhi_epi16(low, high));
}

// codes[x..x + 63].
TESSERA_TARGET_AVX2 TESSERA_ALWAYS_INLINE void CodeBlocks32(const CodeKernel& kernel,
                                                            const uint8_t* const* values, size_t x,
                                                            int32_t* codes) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i largest0 = zero, largest1 = zero;
    __m256i sums[8] = {zero, zero, zero, zero, zero, zero, zero, zero};
    for (const Group& group : kernel.groups) {
        __m256i parts[4] = {zero, zero, zero, zero};
        for (int b = group.first; b < group.end; ++b) {
            const Band& band = kernel.bands[b];
            __m256i digits0, digits1;
            Digits32x2(band, values[b] + x, digits0, digits1);
            largest0 = _mm256_max_epu8(largest0, digits0);
            largest1 = _mm256_max_epu8(largest1, digits1);
            if (band.weight == 0) continue;
            const __m256i weight = _mm256_set1_epi16(static_cast<int16_t>(band.weight));
            AddDigits32(digits0, weight, band.weight == 1, parts);
            AddDigits32(digits1, weight, band.weight == 1, parts + 2);
        }
        for (int i = 0; i < 4; ++i) AddGroup32(parts[i], group.weight, sums + 2 * i);
    }
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i noneDigit = _mm256_set1_epi8(static_cast<char>(CodeKernel::kNone));
    __m256i* out = reinterpret_cast<__m256i*>(codes + x);
    for (int half = 0; half < 2; ++half) {
        const __m256i none = _mm256_cmpeq_epi8(half == 0 ? largest0 : largest1, noneDigit);
        const __m256i noneLow = _mm256_unpacklo_epi8(none, none);
        const __m256i noneHigh = _mm256_unpackhi_epi8(none, none);
        const __m256i* sum = sums + 4 * half;
        const __m256i code0 = _mm256_andnot_si256(_mm256_unpacklo_epi16(noneLow, noneLow),
                                                  _mm256_add_epi32(sum[0], one));
        const __m256i code1 = _mm256_andnot_si256(_mm256_unpackhi_epi16(noneLow, noneLow),
                                                  _mm256_add_epi32(sum[1], one));
        const __m256i code2 = _mm256_andnot_si256(_mm256_unpacklo_epi16(noneHigh, noneHigh),
                                                  _mm256_add_epi32(sum[2], one));
        const __m256i code3 = _mm256_andnot_si256(_mm256_unpackhi_epi16(noneHigh, noneHigh),
                                                  _mm256_add_epi32(sum[3], one));
        __m256i* to = out + 4 * half;
        _mm256_storeu_si256(to, _mm256_permute2x128_si256(code0, code1, 0x20));
        _mm256_storeu_si256(to + 1, _mm256_permute2x128_si256(code2, code3, 0x20));
        _mm256_storeu_si256(to + 2, _mm256_permute2x128_si256(code0, code1, 0x31));
        _mm256_storeu_si256(to + 3, _mm256_permute2x128_si256(code2, code3, 0x31));
    }
}

// A line of at least 64 pixels, the last blocks overlapping as in CodeLine16.
TESSERA_TARGET_AVX2 void CodeLine32(const CodeKernel& kernel, const uint8_t* const* values,
                                    size_t columns, int32_t* codes) {
    size_t x = 0;
    for (; x + 64 <= columns; x += 64) CodeBlocks32(kernel, values, x, codes);
    if (x < columns) CodeBlocks32(kernel, values, columns - 64, codes);
}
#endif

}  // namespace

CodeKernel MakeCodeKernel(const std::vector<CodeContribution>& byGray) {
    CodeKernel kernel;
    if (byGray.size() < 2) return kernel;
    kernel.tables.assign(byGray.begin() + 1, byGray.end());
    std::vector<TableForm> forms;
    forms.reserve(kernel.tables.size());
    for (const CodeContribution& table : kernel.tables) forms.push_back(ReadTable(table));
    if (!DigitsGiveTheSameCodes(forms)) return kernel;
    kernel.bands.resize(forms.size());
    for (size_t b = 0; b < forms.size(); ++b) {
        kernel.bands[b].digit = forms[b].digit;
        kernel.bands[b].steps = MakeGraySteps(forms[b].digit);
    }
    kernel.groups = GroupBands(forms, kernel.bands);
    kernel.byDigits = true;
    return kernel;
}

void FormCodes(const CodeKernel& kernel, const uint8_t* const* values, int columns,
               int32_t* codes) {
    if (kernel.BandCount() < 1 || columns <= 0) return;
#if TESSERA_VECTOR_KERNELS
    const size_t width = static_cast<size_t>(columns);
    if (kernel.byDigits && width >= 64 && CurrentKernelIsa() == KernelIsa::Avx2)
        return CodeLine32(kernel, values, width, codes);
    if (kernel.byDigits && width >= 32) return CodeLine16(kernel, values, width, codes);
#endif
    SumTables(kernel, values, columns, codes);
}

}  // namespace tessera
