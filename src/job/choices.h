#pragma once
// The choices of a job, declared once: the batch tool's options, the Python module's keywords,
// --describe (and from it the QGIS plugin's parameters) and the checks of a job's description
// all come from OptionTable.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crossing/crossing.h"
#include "segmentation/bandrecord.h"
#include "support/status.h"

namespace tessera::job {

struct BandOptions {
    std::string path;
    int type = -1;      // -1: the default method
    int segments = -1;  // -1: the default count
    std::optional<std::vector<int32_t>> limits;
    bool allBands = false;                               // --bands: every band of the file
    std::optional<StretchRange> stretch = std::nullopt;  // --stretch; none: the band's own range
    // --stretch P1%,P2%: the percentiles as typed, checked when the band is opened
    std::optional<std::string> percentiles = std::nullopt;
    std::optional<double> nodata = std::nullopt;  // --nodata; none: the file's own, if any
    // --scale and --offset: physical values in place of the file's own scale and offset
    std::optional<double> scale = std::nullopt, offset = std::nullopt;
    // --native-limits: a definition band's upper limits in native (or physical) values
    std::optional<std::vector<double>> nativeLimits = std::nullopt;
};

// A mask band (--mask FILE or FILE:K) and its rule: masked where any of the bits of
// --mask-bits is set, where it holds one of the values of --mask-values, or else where it is
// not 0. The rule's list is checked when the mask is opened.
struct MaskOptions {
    std::string path;
    enum class Rule { NonZero, Bits, Values } rule = Rule::NonZero;
    std::string list;
};

// The result files --format names; by default every one that applies, but the code list.
struct Formats {
    bool bmp = true, txt = true, raw = true, tif = true, csv = true;
    bool mapAsked = false;    // tif or csv named: refused when the bands lie on no map
    bool qml = true;          // STEM.qml, the QGIS style of STEM.tif
    bool styleAsked = false;  // qml named: likewise
    bool codes = false;       // STEM_codes.txt, the code list: only when named
};

// One option of the tool, as --describe prints it for other programs (the QGIS plugin builds
// its parameters from it) and as ParseOptions reads it.
struct OptionChoice {
    const char* value;
    const char* label;
    const char* needs = nullptr;  // another option this choice needs ("--limits")
};
struct Choice {
    const char* name;   // "--segments"
    const char* value;  // what it takes ("N"); nullptr: a flag
    // flag, stem, file, files (two, --change), choice, integer, integers, range, nodata, list
    const char* type;
    // job: the whole job; band: before the first --band the default of every band, after a
    // band that band; starts-band: names a band; starts-scene: starts a band set of
    // --fit-treatment
    const char* scope;
    std::optional<int64_t> minimum = std::nullopt, maximum = std::nullopt;
    const char* defaultValue = nullptr;  // a JSON value; nullptr: none
    std::vector<OptionChoice> choices = {};
    const char* help = "";
    bool required = false;
};
const std::vector<Choice>& OptionTable();
// The option of that name; nullptr when there is none.
const Choice* FindOption(const std::string& name);

// What --describe prints: the options, their types, ranges, choices and defaults, the band
// count, the result files and the exit statuses, as one JSON object.
std::string DescriptionJson();

// The front end a job's description comes from: its refusals name the choices as that front end
// does ("--min-pixels" on the command line, "min_pixels" in Python).
enum class Speaker { CommandLine, Python };

// An option's name as the speaker calls it.
std::string Spelled(Speaker speaker, const std::string& option);

// The typed description of a job.
struct Options {
    Speaker speaker = Speaker::CommandLine;
    bool help = false;
    bool describe = false;
    std::string out;
    bool keepAll = false;
    int64_t minPixels = 0;
    int maxClasses = kMaximumClassCount;  // --max-classes
    std::string saveSegmented;
    int threads = 0;  // 0: one per core
    // MiB of decoded raster values kept in memory for the later passes; -1: the default.
    int64_t keepMemory = -1;
    // Stage reports on standard error: forced on (--progress), off (--quiet), or, by default,
    // on for large scenes only.
    bool progress = false;
    bool quiet = false;
    Formats formats;
    std::vector<BandOptions> bands;  // with every band's method and count resolved
    std::vector<MaskOptions> masks;
    // --window, --window-pixels and --grid
    std::optional<std::array<double, 4>> window;
    std::optional<std::array<int64_t, 4>> windowPixels;
    int grid = 0;
    // --save-treatment: the treatment as a JSON document; --apply-treatment: one read back in
    // place of the methods, limits, stretches and selection.
    std::string saveTreatment;
    std::string applyTreatment;
    // The first option that --apply-treatment leaves no room for: the job refuses it.
    std::string applyConflict;
    // --fit-treatment FILE: the treatment fitted on every band set given after a --scene
    // (sceneStarts: where each begins in `bands`).
    std::string fitTreatment;
    std::vector<size_t> sceneStarts;
    // --change A B: the change from class map A to class map B, in place of a treatment.
    std::vector<std::string> change;
};

// The usage text printed by --help.
std::string UsageText();

// Parses the arguments after the program name. Options before the first --band are defaults
// for every band; --method, --segments, --limits and --stretch after a --band belong to that
// band (after --bands, to every band of its file). The band count of a --bands file is known
// only once the file is open: with --bands the count is checked by the job. Fails
// with a sentence (without the "tessera-batch: " prefix) on a usage error.
Result<Options> ParseOptions(const std::vector<std::string>& arguments);

// One choice given: an option of the table and its value as text ("" for a flag; --change
// takes two files, the second in `second`).
struct Given {
    std::string option;
    std::string value;
    std::string second;
};
// The job these choices describe, in the order given (ParseOptions reads the command line into
// them): every check of ParseOptions, its refusals worded for `speaker`.
Result<Options> DescribeJob(const std::vector<Given>& given, Speaker speaker);

}  // namespace tessera::job
