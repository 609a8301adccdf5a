#pragma once
// What the tests of the per-pixel kernels share: every instruction set in turn, and segment
// look-ups as a user may type them.
#include <random>

#include "segmentation/graysteps.h"
#include "segmentation/thresholding.h"

namespace testing_support {

// Runs `check` once with every instruction set the processor has.
template <class Check>
void ForEachIsa(Check check) {
    using tessera::KernelIsa;
    const KernelIsa before = tessera::CurrentKernelIsa();
    for (KernelIsa isa : {KernelIsa::Baseline, KernelIsa::Avx2}) {
        if (isa > tessera::BestKernelIsa()) continue;
        tessera::UseKernelIsa(isa);
        check(isa);
    }
    tessera::UseKernelIsa(before);
}

// Random limits that overlap, leave gaps or lie outside the gray scale, so that the highest
// covering segment wins and NoSegment is left between; segments up to `width` levels wide.
inline tessera::SegmentLookup RandomLookup(std::mt19937& random, int segments, int width = 60) {
    tessera::SegmentLimits limits;
    limits.lower.assign(static_cast<size_t>(segments) + 1, 0);
    limits.upper.assign(limits.lower.size(), 0);
    std::uniform_int_distribution<int> gray(-20, 275);
    for (int k = 1; k <= segments; ++k) {
        limits.lower[k] = gray(random);
        limits.upper[k] = limits.lower[k] + std::uniform_int_distribution<int>(-5, width)(random);
    }
    return tessera::SegmentLookupTable(limits);
}

}  // namespace testing_support
