#pragma once
// A byte function of the gray level (a 256-entry table) held as a few steps, so that a block of
// pixels is compared with the steps' thresholds at once instead of looked up pixel by pixel.
//
// The tables the program builds are staircases: a band's segment numbers rise by one at each
// segment's lower limit, with NoSegment below the first and above the last, and often in gaps
// or where typed segments overlap. Any table with few changes of value is written exactly as
//
//   value(g) = base + sum of delta[k] over the steps k with threshold[k] <= g   (mod 256)
//
// one step per gray level g where table[g] differs from table[g - 1]. The step form is checked
// against all 256 entries when it is made; a table with more changes than the kernels take
// keeps its look-up.
#include <array>
#include <cstddef>
#include <cstdint>

namespace tessera {

struct GraySteps {
    // Past this many steps a look-up per pixel costs less than the comparisons.
    static constexpr int kMaximumSteps = 32;

    // Steps held, or -1 when the table has more than the maximum (look it up instead).
    int count = -1;
    uint8_t base = 0;  // value at gray level 0
    // The first `rises` steps add 1, the next `falls` take 1 away, the next `jumps` add
    // delta[k]. The last step of all (count - 1), where it sets 255 for good (NoSegment up to
    // the end of the gray scale, as most tables end), is a fill: it sets every bit instead of
    // adding, one instruction fewer.
    int rises = 0;
    int falls = 0;
    int jumps = 0;
    bool fill = false;
    std::array<uint8_t, kMaximumSteps> threshold{};  // first gray level of the step, 1..255
    std::array<uint8_t, kMaximumSteps> delta{};
    // For the vector kernels, each byte repeated over a block of 32 pixels so that it is
    // loaded whole: the base; (threshold - 1) ^ 0x80, since (g ^ 0x80) > that, compared as signed
    // bytes (one instruction), exactly when g >= threshold[k]; and delta.
    static constexpr int kRepeat = 32;
    alignas(kRepeat) std::array<uint8_t, kRepeat> baseBytes{};
    alignas(kRepeat) std::array<std::array<int8_t, kRepeat>, kMaximumSteps> key{};
    alignas(kRepeat) std::array<std::array<uint8_t, kRepeat>, kMaximumSteps> step{};

    bool Usable() const { return count >= 0; }
    // The value at one gray level, step by step.
    uint8_t ValueAt(int gray) const;
};

// The steps of `table`, at most `maximumSteps` of them (not usable beyond, nor when the step
// form fails to give back every entry).
GraySteps MakeGraySteps(const std::array<uint8_t, 256>& table,
                        int maximumSteps = GraySteps::kMaximumSteps);

// Whether ApplyGraySteps compares in vector registers (on x86); elsewhere a look-up is faster.
#if defined(__x86_64__) || (defined(__i386__) && defined(__SSE2__))
inline constexpr bool kVectorGraySteps = true;
#else
inline constexpr bool kVectorGraySteps = false;
#endif

// out[i] = value(gray[i]) for i < count (`steps` must be usable). In and out may be the same
// buffer; nothing is read or written past `count`.
void ApplyGraySteps(const GraySteps& steps, const uint8_t* gray, size_t count, uint8_t* out);

// The instruction sets the vector kernels are built for: the processor's baseline (SSE2 on
// x86-64) and, chosen at run time where the processor has it, AVX2.
enum class KernelIsa { Baseline = 0, Avx2 = 1 };
// The widest the processor runs.
KernelIsa BestKernelIsa();
// The one the kernels use now (BestKernelIsa() unless changed).
KernelIsa CurrentKernelIsa();
// For tests and benchmarks: the kernels use `isa` from now on (no wider than BestKernelIsa());
// returns the one used before.
KernelIsa UseKernelIsa(KernelIsa isa);

}  // namespace tessera
