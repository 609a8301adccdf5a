#pragma once
// Command-line options of tessera-batch.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "segmentation/bandrecord.h"
#include "support/status.h"

namespace tessera::batch {

struct BandOptions {
    std::string path;
    int type = -1;      // -1: the default method
    int segments = -1;  // -1: the default count
    std::optional<std::vector<int32_t>> limits;
    bool allBands = false;                // --bands: every band of the file
    std::optional<StretchRange> stretch = std::nullopt;  // --stretch; none: the band's own range
    std::optional<double> nodata = std::nullopt;  // --nodata; none: the file's own, if any
};

// The result files --format names; by default every one that applies.
struct Formats {
    bool bmp = true, txt = true, raw = true, tif = true, csv = true;
    bool mapAsked = false;  // tif or csv named: refused when the bands lie on no map
};

struct Options {
    bool help = false;
    std::string out;
    bool keepAll = false;
    int64_t minPixels = 0;
    std::string saveSegmented;
    int threads = 0;  // 0: one per core
    // Stage reports on standard error: forced on (--progress), off (--quiet), or, by default,
    // on for large scenes only.
    bool progress = false;
    bool quiet = false;
    Formats formats;
    std::vector<BandOptions> bands;  // with every band's method and count resolved
};

// The usage text printed by --help.
const char* UsageText();

// Parses the arguments after the program name. Options before the first --band are defaults
// for every band; --method, --segments, --limits and --stretch after a --band belong to that
// band (after --bands, to every band of its file). The band count of a --bands file is known
// only once the file is open: with --bands the count is checked by the job. Fails
// with a sentence (without the "tessera-batch: " prefix) on a usage error.
Result<Options> ParseOptions(const std::vector<std::string>& arguments);

}  // namespace tessera::batch
