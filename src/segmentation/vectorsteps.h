#pragma once
// For the kernels' own .cpp files: GraySteps evaluated in vector registers on two blocks of
// pixels at once (each step's key loaded once for both), 16 pixels a block in SSE2 (the x86-64
// baseline) and 32 in AVX2. The AVX2 functions carry TESSERA_TARGET_AVX2 and may only be
// called from functions that carry it too, which the kernels call only where the processor has
// AVX2 (CurrentKernelIsa()). Elsewhere than on x86 the kernels keep their look-ups
// (TESSERA_VECTOR_KERNELS is 0).
#include <cstdint>
#include <cstring>

#include "segmentation/graysteps.h"

#if defined(__x86_64__) || (defined(__i386__) && defined(__SSE2__))
#define TESSERA_VECTOR_KERNELS 1
#include <immintrin.h>
#define TESSERA_ALWAYS_INLINE inline __attribute__((always_inline))
#define TESSERA_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define TESSERA_VECTOR_KERNELS 0
#endif

#if TESSERA_VECTOR_KERNELS
namespace tessera::vectors {

// A comparison gives -1, all bits set, where it holds: a rise subtracts it, a fall adds it, a
// jump adds it masked with its delta and the fill ors it in. The gray levels are compared as
// signed bytes once their top bit is flipped (see GraySteps::key).

TESSERA_ALWAYS_INLINE __m128i Repeated16(const std::array<int8_t, GraySteps::kRepeat>& bytes) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes.data()));
}
TESSERA_ALWAYS_INLINE __m128i Repeated16(const std::array<uint8_t, GraySteps::kRepeat>& bytes) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes.data()));
}

// steps(gray0[0..15]) and steps(gray1[0..15]), with steps.Usable().
TESSERA_ALWAYS_INLINE void EvaluateSteps16x2(const GraySteps& steps, const uint8_t* gray0,
                                             const uint8_t* gray1, __m128i& value0,
                                             __m128i& value1) {
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    const __m128i g0 =
        _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(gray0)), bias);
    const __m128i g1 =
        _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(gray1)), bias);
    __m128i v0 = Repeated16(steps.baseBytes);
    __m128i v1 = v0;
    int k = 0;
    for (const int end = steps.rises; k < end; ++k) {
        const __m128i key = Repeated16(steps.key[k]);
        v0 = _mm_sub_epi8(v0, _mm_cmpgt_epi8(g0, key));
        v1 = _mm_sub_epi8(v1, _mm_cmpgt_epi8(g1, key));
    }
    for (const int end = k + steps.falls; k < end; ++k) {
        const __m128i key = Repeated16(steps.key[k]);
        v0 = _mm_add_epi8(v0, _mm_cmpgt_epi8(g0, key));
        v1 = _mm_add_epi8(v1, _mm_cmpgt_epi8(g1, key));
    }
    for (const int end = k + steps.jumps; k < end; ++k) {
        const __m128i key = Repeated16(steps.key[k]);
        const __m128i delta = Repeated16(steps.step[k]);
        v0 = _mm_add_epi8(v0, _mm_and_si128(_mm_cmpgt_epi8(g0, key), delta));
        v1 = _mm_add_epi8(v1, _mm_and_si128(_mm_cmpgt_epi8(g1, key), delta));
    }
    if (steps.fill) {
        const __m128i key = Repeated16(steps.key[k]);
        v0 = _mm_or_si128(v0, _mm_cmpgt_epi8(g0, key));
        v1 = _mm_or_si128(v1, _mm_cmpgt_epi8(g1, key));
    }
    value0 = v0;
    value1 = v1;
}

TESSERA_TARGET_AVX2 TESSERA_ALWAYS_INLINE __m256i
Repeated32(const std::array<int8_t, GraySteps::kRepeat>& bytes) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes.data()));
}
TESSERA_TARGET_AVX2 TESSERA_ALWAYS_INLINE __m256i
Repeated32(const std::array<uint8_t, GraySteps::kRepeat>& bytes) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes.data()));
}

// steps(gray0[0..31]) and steps(gray1[0..31]) in AVX2, with steps.Usable().
TESSERA_TARGET_AVX2 TESSERA_ALWAYS_INLINE void EvaluateSteps32x2(const GraySteps& steps,
                                                                 const uint8_t* gray0,
                                                                 const uint8_t* gray1,
                                                                 __m256i& value0, __m256i& value1) {
    const __m256i bias = _mm256_set1_epi8(static_cast<char>(0x80));
    const __m256i g0 =
        _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(gray0)), bias);
    const __m256i g1 =
        _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(gray1)), bias);
    __m256i v0 = Repeated32(steps.baseBytes);
    __m256i v1 = v0;
    int k = 0;
    for (const int end = steps.rises; k < end; ++k) {
        const __m256i key = Repeated32(steps.key[k]);
        v0 = _mm256_sub_epi8(v0, _mm256_cmpgt_epi8(g0, key));
        v1 = _mm256_sub_epi8(v1, _mm256_cmpgt_epi8(g1, key));
    }
    for (const int end = k + steps.falls; k < end; ++k) {
        const __m256i key = Repeated32(steps.key[k]);
        v0 = _mm256_add_epi8(v0, _mm256_cmpgt_epi8(g0, key));
        v1 = _mm256_add_epi8(v1, _mm256_cmpgt_epi8(g1, key));
    }
    for (const int end = k + steps.jumps; k < end; ++k) {
        const __m256i key = Repeated32(steps.key[k]);
        const __m256i delta = Repeated32(steps.step[k]);
        v0 = _mm256_add_epi8(v0, _mm256_and_si256(_mm256_cmpgt_epi8(g0, key), delta));
        v1 = _mm256_add_epi8(v1, _mm256_and_si256(_mm256_cmpgt_epi8(g1, key), delta));
    }
    if (steps.fill) {
        const __m256i key = Repeated32(steps.key[k]);
        v0 = _mm256_or_si256(v0, _mm256_cmpgt_epi8(g0, key));
        v1 = _mm256_or_si256(v1, _mm256_cmpgt_epi8(g1, key));
    }
    value0 = v0;
    value1 = v1;
}

}  // namespace tessera::vectors
#endif
