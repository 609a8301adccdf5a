#include "segmentation/graysteps.h"

#include <algorithm>
#include <atomic>

#include "segmentation/vectorsteps.h"

namespace tessera {

namespace {

KernelIsa DetectIsa() {
#if TESSERA_VECTOR_KERNELS
    if (__builtin_cpu_supports("avx2")) return KernelIsa::Avx2;
#endif
    return KernelIsa::Baseline;
}

std::atomic<int>& ChosenIsa() {
    static std::atomic<int> chosen{static_cast<int>(BestKernelIsa())};
    return chosen;
}

#if TESSERA_VECTOR_KERNELS
// Two blocks of 16 pixels at a time; the last pixels through two blocks of their own, so that
// nothing is read or written past `count`.
void ApplyBaseline(const GraySteps& steps, const uint8_t* gray, size_t count, uint8_t* out) {
    using namespace vectors;
    auto apply = [&](const uint8_t* in, uint8_t* to) {
        __m128i value0, value1;
        EvaluateSteps16x2(steps, in, in + 16, value0, value1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), value0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16), value1);
    };
    size_t i = 0;
    for (; i + 32 <= count; i += 32) apply(gray + i, out + i);
    if (i == count) return;
    uint8_t tail[32] = {};
    std::memcpy(tail, gray + i, count - i);
    apply(tail, tail);
    std::memcpy(out + i, tail, count - i);
}

// The same with two blocks of 32 pixels (a lambda would not take the AVX2 target).
TESSERA_TARGET_AVX2 TESSERA_ALWAYS_INLINE void Apply64(const GraySteps& steps, const uint8_t* in,
                                                       uint8_t* to) {
    __m256i value0, value1;
    vectors::EvaluateSteps32x2(steps, in, in + 32, value0, value1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), value0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 32), value1);
}

TESSERA_TARGET_AVX2 void ApplyAvx2(const GraySteps& steps, const uint8_t* gray, size_t count,
                                   uint8_t* out) {
    size_t i = 0;
    for (; i + 64 <= count; i += 64) Apply64(steps, gray + i, out + i);
    if (i == count) return;
    uint8_t tail[64] = {};
    std::memcpy(tail, gray + i, count - i);
    Apply64(steps, tail, tail);
    std::memcpy(out + i, tail, count - i);
}
#endif

}  // namespace

KernelIsa BestKernelIsa() {
    static const KernelIsa best = DetectIsa();
    return best;
}

KernelIsa CurrentKernelIsa() {
    return static_cast<KernelIsa>(ChosenIsa().load(std::memory_order_relaxed));
}

KernelIsa UseKernelIsa(KernelIsa isa) {
    const KernelIsa used = std::min(isa, BestKernelIsa());
    return static_cast<KernelIsa>(ChosenIsa().exchange(static_cast<int>(used)));
}

uint8_t GraySteps::ValueAt(int gray) const {
    uint8_t value = base;
    const int added = fill ? count - 1 : count;
    for (int k = 0; k < added; ++k)
        if (gray >= threshold[k]) value = static_cast<uint8_t>(value + delta[k]);
    if (fill && gray >= threshold[count - 1]) value = 255;
    return value;
}

GraySteps MakeGraySteps(const std::array<uint8_t, 256>& table, int maximumSteps) {
    GraySteps steps;
    const int limit = std::clamp(maximumSteps, 0, GraySteps::kMaximumSteps);
    // The changes of value, sorted into rises of one, falls of one and other jumps.
    std::array<uint8_t, 255> at{}, by{};
    int changes = 0;
    for (int g = 1; g < 256; ++g) {
        if (table[g] == table[g - 1]) continue;
        if (changes == limit) return steps;
        at[changes] = static_cast<uint8_t>(g);
        by[changes] = static_cast<uint8_t>(table[g] - table[g - 1]);
        ++changes;
    }
    int held = 0;
    auto hold = [&](int c) {
        steps.threshold[held] = at[c];
        steps.delta[held] = by[c];
        steps.key[held].fill(static_cast<int8_t>((at[c] - 1) ^ 0x80));
        steps.step[held].fill(by[c]);
        ++held;
    };
    // The last change, to 255 for good, is left out of the sums as the fill.
    const bool fill = changes > 0 && table[at[changes - 1]] == 255;
    const int added = fill ? changes - 1 : changes;
    auto take = [&](auto chosen) {
        int taken = 0;
        for (int c = 0; c < added; ++c) {
            if (!chosen(by[c])) continue;
            hold(c);
            ++taken;
        }
        return taken;
    };
    steps.base = table[0];
    steps.baseBytes.fill(table[0]);
    steps.rises = take([](uint8_t d) { return d == 1; });
    steps.falls = take([](uint8_t d) { return d == 255; });
    steps.jumps = take([](uint8_t d) { return d != 1 && d != 255; });
    if (fill) hold(changes - 1);
    steps.fill = fill;
    steps.count = held;
    for (int g = 0; g < 256; ++g) {
        if (steps.ValueAt(g) != table[g]) {
            steps.count = -1;
            break;
        }
    }
    return steps;
}

void ApplyGraySteps(const GraySteps& steps, const uint8_t* gray, size_t count, uint8_t* out) {
#if TESSERA_VECTOR_KERNELS
    if (CurrentKernelIsa() == KernelIsa::Avx2) return ApplyAvx2(steps, gray, count, out);
    ApplyBaseline(steps, gray, count, out);
#else
    for (size_t i = 0; i < count; ++i) out[i] = steps.ValueAt(gray[i]);
#endif
}

}  // namespace tessera
