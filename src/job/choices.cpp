// Longer than the other files of the core on purpose: every choice's declaration, its help
// text and the reading and checking of a job's choices stand together, so that a choice is
// added, described and checked in one place.
#include "job/choices.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "bands/bandfiles.h"
#include "bands/rasterband.h"
#include "segmentation/thresholding.h"
#include "support/json.h"
#include "support/numbers.h"

namespace tessera::job {

namespace {

// The help of every option, from the table: its name and value, then its help wrapped at 79
// columns from column 25.
std::string OptionLines() {
    constexpr size_t kIndent = 25, kWidth = 79;
    std::string lines;
    for (const Choice& option : OptionTable()) {
        std::string head = std::string("  ") + option.name;
        if (option.value) head += std::string(" ") + option.value;
        lines += head;
        size_t column = head.size();
        if (column + 1 >= kIndent) {
            lines += "\n";
            column = 0;
        }
        std::string word;
        bool first = true;
        const std::string help = option.help;
        for (size_t k = 0; k <= help.size(); ++k) {
            if (k < help.size() && help[k] != ' ') {
                word += help[k];
                continue;
            }
            if (word.empty()) continue;
            if (first) {
                lines += std::string(kIndent - column, ' ') + word;
                column = kIndent + word.size();
                first = false;
            } else if (column + 1 + word.size() > kWidth) {
                lines += "\n" + std::string(kIndent, ' ') + word;
                column = kIndent + word.size();
            } else {
                lines += " " + word;
                column += 1 + word.size();
            }
            word.clear();
        }
        lines += "\n";
    }
    return lines;
}

}  // namespace

std::string UsageText() {
    return std::string(
               "Usage: tessera-batch --out STEM [--keep-all | --min-pixels M] [--save-segmented "
               "STEM2]\n"
               "                     [--threads N] [--keep-memory MIB] [--progress | --quiet]\n"
               "                     [--method TYPE --segments N]\n"
               "                     --band FILE [--method TYPE] [--segments N] [--limits "
               "L1,...,LN]\n"
               "                     --band FILE ... | --bands FILE [--stretch MIN,MAX]\n"
               "                     [--nodata V] [--format LIST]\n"
               "                     [--mask FILE[:K] [--mask-bits B1,... | --mask-values "
               "V1,...]]\n"
               "                     [--window XMIN,YMIN,XMAX,YMAX | --window-pixels "
               "L,C,LINES,COLUMNS]\n"
               "                     [--grid K]\n"
               "                     [--save-treatment FILE.json]\n"
               "       tessera-batch --out STEM --apply-treatment FILE.json\n"
               "                     --band FILE ... | --bands FILE [--mask ...] [--format "
               "LIST]\n"
               "       tessera-batch --fit-treatment FILE.json [--method TYPE --segments N]\n"
               "                     [--keep-all | --min-pixels M] --scene --band FILE ...\n"
               "                     --scene --bands FILE ...\n"
               "       tessera-batch --change A.tif B.tif --out STEM\n"
               "       tessera-batch --describe | --help\n"
               "\n"
               "Segments 2 to 32 bands, crosses them and writes STEM.bmp (class colours),\n"
               "STEM.raw (class numbers) and STEM.txt (descriptor and treatment report); for\n"
               "bands that carry a georeference also STEM.tif (the classes as a GeoTIFF on the\n"
               "bands' place) and STEM.csv (one row per class, with its area).\n"
               "STEM.tif is cloud-optimised and says in its metadata how it was made; its legend\n"
               "goes beside it as STEM.tif.aux.xml (class names and attribute table) and\n"
               "STEM.qml (a QGIS style with the same labels and colours).\n"
               "Options before the first --band are the defaults of every band; --method,\n"
               "--segments, --limits, --native-limits, --stretch, --nodata, --scale and\n"
               "--offset after a band belong to that band (after --bands, to every band of its\n"
               "file).\n"
               "\n") +
           OptionLines() +
           "\n"
           "Exit status: 0 done, 2 usage error, 3 refused input, 4 the selection cannot give\n"
           "at most 250 classes, 5 an output could not be written, 130 or 143 interrupted\n"
           "by SIGINT or SIGTERM (no temporary file is left behind).\n";
}

const std::vector<Choice>& OptionTable() {
    static const std::vector<Choice> table{
        {"--out",
         "STEM",
         "stem",
         "job",
         {},
         {},
         nullptr,
         {},
         "stem of the result files (their extensions are appended)",
         true},
        {"--band",
         "FILE",
         "file",
         "starts-band",
         {},
         {},
         nullptr,
         {},
         "a band: a raw image (.raw) with its descriptor, an 8-bit bitmap (.bmp), or a raster "
         "GDAL reads (FILE is its band 1, FILE:K its band K); 2 to 32 bands, in order"},
        {"--bands",
         "FILE",
         "file",
         "starts-band",
         {},
         {},
         nullptr,
         {},
         "every band of a raster GDAL reads, in order, each a band"},
        {"--stretch",
         "MIN,MAX",
         "range",
         "band",
         {},
         {},
         nullptr,
         {},
         "native values MIN to MAX become gray levels 0 to 255 in a raster band of more than 8 "
         "bits (default: the band's own minimum and maximum); P1%,P2% takes MIN and MAX at "
         "those percentiles of the band's pixels with data"},
        {"--nodata",
         "V",
         "nodata",
         "band",
         {},
         {},
         nullptr,
         {},
         "the value of the pixels without data: a number, nan, inf or -inf (default: the "
         "file's own, if it declares one; for a raw file or a bitmap, a gray level): left out of "
         "the gray range and the segments, in no class"},
        {"--scale",
         "A",
         "number",
         "band",
         {},
         {},
         nullptr,
         {},
         "physical values are stored value x A + --offset (default: the file's own scale and "
         "offset, if any); not 0"},
        {"--offset",
         "B",
         "number",
         "band",
         {},
         {},
         nullptr,
         {},
         "physical values are stored value x --scale + B (default: the file's own)"},
        {"--format",
         "LIST",
         "list",
         "job",
         {},
         {},
         "\"bmp,txt,raw,tif,csv,qml\"",
         {{"bmp", "class colours (STEM.bmp)"},
          {"txt", "descriptor and treatment report (STEM.txt)"},
          {"raw", "class numbers (STEM.raw)"},
          {"tif", "cloud-optimised class GeoTIFF and its legend (STEM.tif, STEM.tif.aux.xml)"},
          {"csv", "class table (STEM.csv)"},
          {"qml", "QGIS style of the class GeoTIFF (STEM.qml)"},
          {"codes", "code list: every code with its segment in each band (STEM_codes.txt)"}},
         "the result files to write, separated by commas (default: every one that applies but "
         "codes; tif, csv and qml only for bands that carry a georeference; tif brings "
         "STEM.tif.aux.xml, and a tif without qml removes an earlier STEM.qml; codes writes the "
         "code list, every code with its segment in each band, as STEM_codes.txt)"},
        {"--mask",
         "FILE",
         "file",
         "job",
         {},
         {},
         nullptr,
         {},
         "a mask band (FILE or FILE:K for band K) for the whole band set: its masked pixels are "
         "without data in every band; by default masked where it is not 0"},
        {"--mask-bits",
         "B1,...",
         "integers",
         "job",
         {},
         {},
         nullptr,
         {},
         "the mask before it masks where any of these bits (0 to 63) is set (after its --mask)"},
        {"--mask-values",
         "V1,...",
         "list",
         "job",
         {},
         {},
         nullptr,
         {},
         "the mask before it masks where it holds one of these values (after its --mask)"},
        {"--window",
         "XMIN,YMIN,XMAX,YMAX",
         "numbers",
         "job",
         {},
         {},
         nullptr,
         {},
         "treat only this region, in the bands' map coordinates (as gdal_translate -projwin)"},
        {"--window-pixels",
         "LINE,COLUMN,LINES,COLUMNS",
         "integers",
         "job",
         {},
         {},
         nullptr,
         {},
         "treat only this region, in pixels counted from 0 (as gdal_translate -srcwin)"},
        {"--grid",
         "K",
         "integer",
         "job",
         1,
         kMaximumJobBands,
         nullptr,
         {},
         "bring bands whose grids differ onto band K's (default: the finest band's), by nearest "
         "neighbour"},
        {"--method",
         "TYPE",
         "choice",
         "band",
         {},
         {},
         nullptr,
         {{"segmentation", "equal width"},
          {"equipopulation", "equal population"},
          {"definition", "typed limits", "--limits"}},
         "the thresholding of the bands",
         true},
        {"--segments",
         "N",
         "integer",
         "band",
         1,
         kMaximumSegmentCount,
         nullptr,
         {},
         "number of segments",
         true},
        {"--limits",
         "L1,...,LN",
         "integers",
         "band",
         {},
         {},
         nullptr,
         {},
         "upper limits of the N segments of a definition band (after its --band)"},
        {"--native-limits",
         "V1,...,VN",
         "numbers",
         "band",
         {},
         {},
         nullptr,
         {},
         "upper limits of the N segments of a definition band in native (or physical) values, "
         "each the gray level whose native range holds it (after its --band)"},
        {"--min-pixels",
         "M",
         "integer",
         "job",
         {},
         {},
         "0",
         {},
         "retain the codes with more than M pixels (0: codes without pixels are eliminated)"},
        {"--keep-all",
         nullptr,
         "flag",
         "job",
         {},
         {},
         "false",
         {},
         "retain every code (only when there are at most 250 codes)"},
        {"--max-classes",
         "N",
         "integer",
         "job",
         1,
         kMostClassCount,
         "250",
         {},
         "allow up to N classes (1 to 65534); beyond 250 the class map is 16-bit (GeoTIFF and "
         "raw image) and the bitmap cannot be written (see --format)"},
        {"--save-segmented",
         "STEM2",
         "stem",
         "job",
         {},
         {},
         nullptr,
         {},
         "also write the last band's segmented image as STEM2.bmp, STEM2.txt and STEM2.raw"},
        {"--threads",
         "N",
         "integer",
         "job",
         1,
         64,
         nullptr,
         {},
         "threads sharing the work (default: one per core); the results do not depend on it"},
        {"--keep-memory",
         "MIB",
         "integer",
         "job",
         0,
         1 << 30,
         nullptr,
         {},
         "memory for the decoded values of rasters, kept so that no tile is decoded twice "
         "(default: a quarter of the machine's; while its range is read, a band keeps no more "
         "than the gray levels still to come take, and decodes its other tiles twice); bands "
         "beyond it are kept in a temporary file in TMPDIR, else beside --out; the results do "
         "not depend on it"},
        {"--progress",
         nullptr,
         "flag",
         "job",
         {},
         {},
         "false",
         {},
         "report every stage on standard error, whatever the scene's size (by default only "
         "large scenes report); on a terminal the report is one line, rewritten"},
        {"--quiet",
         nullptr,
         "flag",
         "job",
         {},
         {},
         "false",
         {},
         "report no stage; errors are still reported"},
        {"--save-treatment",
         "FILE.json",
         "file",
         "job",
         {},
         {},
         nullptr,
         {},
         "also write the whole treatment (every band's stretch, method and limits, the classes "
         "and their colours) as JSON, to apply to other scenes (docs/treatment.md)"},
        {"--apply-treatment",
         "FILE.json",
         "file",
         "job",
         {},
         {},
         nullptr,
         {},
         "treat the bands with a saved treatment (its stretches, limits, classes and colours) "
         "in place of --method, --segments, --limits, --native-limits, --stretch, --scale, "
         "--offset, --nodata, --min-pixels and --keep-all, which it does not take"},
        {"--fit-treatment",
         "FILE.json",
         "file",
         "job",
         {},
         {},
         nullptr,
         {},
         "fit one treatment on the scenes given after --scene, from their summed histograms and "
         "code counts, and write it (no class map)"},
        {"--scene",
         nullptr,
         "flag",
         "starts-scene",
         {},
         {},
         nullptr,
         {},
         "starts the bands of one scene of --fit-treatment"},
        {"--change",
         "A.tif B.tif",
         "files",
         "job",
         {},
         {},
         nullptr,
         {},
         "the change from class map A to class map B of the same grid, in place of a "
         "treatment: STEM.csv, STEM.tif (with its legend), STEM.qml and STEM.txt"},
        {"--describe",
         nullptr,
         "flag",
         "job",
         {},
         {},
         "false",
         {},
         "print this description of the options as JSON"},
        {"--help", nullptr, "flag", "job", {}, {}, "false", {}, "print the usage text"},
    };
    return table;
}

const Choice* FindOption(const std::string& name) {
    for (const Choice& option : OptionTable())
        if (name == option.name) return &option;
    return nullptr;
}

std::string DescriptionJson() {
    std::string json = "{\n  \"program\": \"tessera-batch\",\n  \"description_version\": 1,\n";
    json += "  \"bands\": {\"minimum\": 2, \"maximum\": " + std::to_string(kMaximumJobBands) +
            "},\n  \"options\": [\n";
    const std::vector<Choice>& table = OptionTable();
    for (size_t k = 0; k < table.size(); ++k) {
        const Choice& option = table[k];
        json += "    {\"name\": " + JsonQuoted(option.name);
        json += ", \"value\": " + (option.value ? JsonQuoted(option.value) : "null");
        json += ", \"type\": " + JsonQuoted(option.type);
        json += ", \"scope\": " + JsonQuoted(option.scope);
        json += ", \"required\": ";
        json += option.required ? "true" : "false";
        if (option.minimum) json += ", \"minimum\": " + std::to_string(*option.minimum);
        if (option.maximum) json += ", \"maximum\": " + std::to_string(*option.maximum);
        json += ", \"default\": ";
        json += option.defaultValue ? option.defaultValue : "null";
        if (!option.choices.empty()) {
            json += ", \"choices\": [";
            for (size_t c = 0; c < option.choices.size(); ++c) {
                const OptionChoice& choice = option.choices[c];
                json += c == 0 ? "" : ", ";
                json += "{\"value\": " + JsonQuoted(choice.value) +
                        ", \"label\": " + JsonQuoted(choice.label);
                if (choice.needs) json += ", \"needs\": " + JsonQuoted(choice.needs);
                json += "}";
            }
            json += "]";
        }
        json += ", \"help\": " + JsonQuoted(option.help) + "}";
        json += k + 1 < table.size() ? ",\n" : "\n";
    }
    json +=
        "  ],\n  \"exit_status\": {\"0\": \"done\", \"2\": \"usage error\", \"3\": \"refused "
        "input\", \"4\": \"the selection cannot give at most 250 classes\", \"5\": \"an "
        "output could not be written\", \"130\": \"interrupted by SIGINT\", \"143\": "
        "\"interrupted by SIGTERM\"}\n}\n";
    return json;
}

namespace {

std::optional<int64_t> WholeNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
    return value;
}

std::optional<double> Number(const std::string& text) {
    return FiniteNumber(text);
}

std::optional<Formats> FormatsOf(const std::string& text) {
    Formats formats{false, false, false, false, false, false, false, false};
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item == "bmp")
            formats.bmp = true;
        else if (item == "txt")
            formats.txt = true;
        else if (item == "raw")
            formats.raw = true;
        else if (item == "tif")
            formats.tif = formats.mapAsked = true;
        else if (item == "csv")
            formats.csv = formats.mapAsked = true;
        else if (item == "qml")
            formats.qml = formats.styleAsked = true;
        else if (item == "codes")
            formats.codes = true;
        else
            return std::nullopt;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return formats;
}

// "a, b and c" of the choices of an option.
std::string ChoiceList(const Choice& option, const char* last) {
    std::string list;
    for (size_t k = 0; k < option.choices.size(); ++k) {
        if (k > 0) list += k + 1 == option.choices.size() ? last : ", ";
        list += option.choices[k].value;
    }
    return list;
}

std::optional<StretchRange> StretchOf(const std::string& text) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos) return std::nullopt;
    const std::optional<double> minimum = Number(text.substr(0, comma));
    const std::optional<double> maximum = Number(text.substr(comma + 1));
    if (!minimum || !maximum) return std::nullopt;
    return StretchRange{*minimum, *maximum};
}

// The methods in the order of their thresholding types (Segmentation, Equipopulation,
// Definition), as --method names them.
std::optional<int> MethodNamed(const std::string& name) {
    const std::vector<OptionChoice>& methods = FindOption("--method")->choices;
    for (size_t type = 0; type < methods.size(); ++type)
        if (name == methods[type].value) return static_cast<int>(type);
    return std::nullopt;
}

std::optional<std::vector<int32_t>> LimitList(const std::string& text) {
    std::vector<int32_t> limits;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::optional<int64_t> value = WholeNumber(item);
        if (!value || *value < INT32_MIN || *value > INT32_MAX) return std::nullopt;
        limits.push_back(static_cast<int32_t>(*value));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return limits;
}

}  // namespace

std::string Spelled(Speaker speaker, const std::string& option) {
    if (speaker == Speaker::CommandLine) return option;
    if (option == "--band" || option == "--bands") return "bands";
    if (option == "--format") return "formats";
    if (option == "--scene") return "scenes";
    std::string keyword = option.substr(option.rfind('-', 1) == 1 ? 2 : 0);
    for (char& c : keyword)
        if (c == '-') c = '_';
    return keyword;
}

Result<Options> ParseOptions(const std::vector<std::string>& arguments) {
    using R = Result<Options>;
    std::vector<Given> given;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option == "--help" || option == "-h" || option == "--describe") {
            Options options;
            (option == "--describe" ? options.describe : options.help) = true;
            return R::Of(options);
        }
        if (option == "--change") {
            if (i + 2 >= arguments.size())
                return R::Failure("--change needs a value: two class maps");
            given.push_back({option, arguments[i + 1], arguments[i + 2]});
            i += 2;
            continue;
        }
        const Choice* known = FindOption(option);
        if (known == nullptr || option == "--help" || option == "--describe")
            return R::Failure("unknown option '" + option + "' (see --help)");
        if (known->value == nullptr) {
            given.push_back({option, "", ""});
            continue;
        }
        if (i + 1 >= arguments.size()) return R::Failure(option + " needs a value");
        given.push_back({option, arguments[i + 1], ""});
        ++i;
    }
    return DescribeJob(given, Speaker::CommandLine);
}

namespace {

std::string BandCountText(Speaker speaker, int count) {
    if (speaker == Speaker::CommandLine)
        return "give 2 to " + std::to_string(kMaximumJobBands) + " bands with --band, not " +
               std::to_string(count);
    return "bands names " + std::to_string(count) +
           " bands: give 2 to " + std::to_string(kMaximumJobBands);
}

}  // namespace

Result<Options> DescribeJob(const std::vector<Given>& given, Speaker speaker) {
    using R = Result<Options>;
    // The names of the options as the front end calls them: "--min-pixels" or "min_pixels".
    const auto W = [speaker](const std::string& option) { return Spelled(speaker, option); };
    Options options;
    options.speaker = speaker;
    int defaultType = -1;
    int defaultSegments = -1;
    bool minGiven = false;
    bool outGiven = false;
    bool sceneOpen = false;  // a --scene without its first --band yet
    bool allBandsGiven = false;
    std::optional<StretchRange> defaultStretch;
    std::optional<std::string> defaultPercentiles;
    std::optional<double> defaultScale, defaultOffset;
    std::optional<double> defaultNodata;

    for (const Given& item : given) {
        const std::string& option = item.option;
        const Choice* known = FindOption(option);
        if (known == nullptr || option == "--help" || option == "--describe")
            return R::Failure("unknown option '" + W(option) + "'");
        if (option == "--keep-all") {
            options.keepAll = true;
            if (options.applyConflict.empty()) options.applyConflict = option;
            continue;
        }
        if (option == "--progress" || option == "--quiet") {
            (option == "--quiet" ? options.quiet : options.progress) = true;
            if (options.progress && options.quiet)
                return R::Failure(W("--progress") + " and " + W("--quiet") +
                                  " cannot be given together");
            continue;
        }
        if (option == "--scene") {
            options.sceneStarts.push_back(options.bands.size());
            sceneOpen = true;
            continue;
        }
        if (option == "--change") {
            options.change = {item.value, item.second};
            continue;
        }
        const std::string& value = item.value;
        BandOptions* band = options.bands.empty() || sceneOpen ? nullptr : &options.bands.back();
        if (option == "--band" || option == "--bands") sceneOpen = false;
        // The options a saved treatment gives; noted for a refusal when one is applied.
        for (const char* given : {"--method", "--segments", "--limits", "--native-limits",
                                  "--stretch", "--scale", "--offset", "--nodata", "--min-pixels"})
            if (option == given && options.applyConflict.empty()) options.applyConflict = option;

        if (option == "--out") {
            if (value.empty()) return R::Failure(W("--out") + " needs a file stem");
            options.out = value;
            outGiven = true;
        } else if (option == "--save-treatment" || option == "--apply-treatment" ||
                   option == "--fit-treatment") {
            if (value.empty()) return R::Failure(W(option) + " needs a file");
            (option == "--save-treatment"    ? options.saveTreatment
             : option == "--apply-treatment" ? options.applyTreatment
                                             : options.fitTreatment) = value;
        } else if (option == "--save-segmented") {
            if (value.empty()) return R::Failure(W("--save-segmented") + " needs a file stem");
            options.saveSegmented = value;
        } else if (option == "--min-pixels") {
            const std::optional<int64_t> minimum = WholeNumber(value);
            if (!minimum)
                return R::Failure(W("--min-pixels") + " needs a whole number, not '" + value + "'");
            options.minPixels = *minimum;
            minGiven = true;
        } else if (option == "--max-classes") {
            const std::optional<int64_t> most = WholeNumber(value);
            if (!most || *most < *known->minimum || *most > *known->maximum)
                return R::Failure(W("--max-classes") + " needs a number of classes from " +
                                  std::to_string(*known->minimum) + " to " +
                                  std::to_string(*known->maximum) + ", not '" + value + "'");
            options.maxClasses = static_cast<int>(*most);
        } else if (option == "--threads") {
            const std::optional<int64_t> threads = WholeNumber(value);
            if (!threads || *threads < *known->minimum || *threads > *known->maximum)
                return R::Failure(W("--threads") + " needs a number of threads from " +
                                  std::to_string(*known->minimum) + " to " +
                                  std::to_string(*known->maximum) + ", not '" + value + "'");
            options.threads = static_cast<int>(*threads);
        } else if (option == "--keep-memory") {
            const std::optional<int64_t> mib = WholeNumber(value);
            if (!mib || *mib < *known->minimum || *mib > *known->maximum)
                return R::Failure(W("--keep-memory") + " needs a number of MiB from " +
                                  std::to_string(*known->minimum) + " to " +
                                  std::to_string(*known->maximum) + ", not '" + value + "'");
            options.keepMemory = *mib;
        } else if (option == "--band") {
            if (value.empty()) return R::Failure(W("--band") + " needs a file");
            options.bands.emplace_back().path = value;
        } else if (option == "--bands") {
            if (value.empty()) return R::Failure(W("--bands") + " needs a file");
            options.bands.emplace_back().path = value;
            options.bands.back().allBands = true;
            allBandsGiven = true;
        } else if (option == "--stretch" && value.find('%') != std::string::npos) {
            (band ? band->percentiles : defaultPercentiles) = value;
            (band ? band->stretch : defaultStretch).reset();
        } else if (option == "--stretch") {
            (band ? band->percentiles : defaultPercentiles).reset();
            const std::optional<StretchRange> stretch = StretchOf(value);
            if (!stretch)
                return R::Failure(W("--stretch") + " needs two numbers MIN,MAX, not '" + value +
                                  "'");
            (band ? band->stretch : defaultStretch) = stretch;
        } else if (option == "--nodata") {
            // NaN marks the empty cells of floating-point rasters.
            const std::optional<double> nodata = ParseNodataValue(value);
            if (!nodata)
                return R::Failure(W("--nodata") + " needs a number, nan, inf or -inf, not '" +
                                  value + "'");
            (band ? band->nodata : defaultNodata) = nodata;
        } else if (option == "--scale" || option == "--offset") {
            const std::optional<double> number = Number(value);
            if (!number) return R::Failure(W(option) + " needs a number, not '" + value + "'");
            if (option == "--scale")
                (band ? band->scale : defaultScale) = number;
            else
                (band ? band->offset : defaultOffset) = number;
        } else if (option == "--native-limits") {
            if (!band)
                return R::Failure(W("--native-limits") + " belongs to a band: give it after " +
                                  W("--band") + " FILE");
            std::vector<double> limits;
            size_t start = 0;
            while (true) {
                const size_t comma = value.find(',', start);
                const std::optional<double> limit =
                    Number(value.substr(start, comma == std::string::npos ? comma : comma - start));
                if (!limit)
                    return R::Failure(W("--native-limits") +
                                      " needs numbers separated by commas, not '" + value + "'");
                limits.push_back(*limit);
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
            band->nativeLimits = std::move(limits);
        } else if (option == "--window" || option == "--window-pixels") {
            std::array<double, 4> numbers{};
            size_t start = 0, k = 0;
            bool read = true;
            for (; k < 4 && read; ++k) {
                const size_t comma = value.find(',', start);
                const std::optional<double> number =
                    Number(value.substr(start, comma == std::string::npos ? comma : comma - start));
                read = number.has_value() && (comma != std::string::npos || k == 3) &&
                       (comma == std::string::npos || k < 3);
                if (number) numbers[k] = *number;
                start = comma == std::string::npos ? value.size() + 1 : comma + 1;
            }
            const bool pixels = option == "--window-pixels";
            if (!read || k != 4)
                return R::Failure(W(option) + " needs four " +
                                  (pixels ? "whole numbers" : "numbers") +
                                  " separated by commas, not '" + value + "'");
            if (pixels) {
                std::array<int64_t, 4> whole{};
                for (size_t i = 0; i < 4; ++i) {
                    if (numbers[i] != std::floor(numbers[i]) || std::fabs(numbers[i]) > 1e9)
                        return R::Failure(W("--window-pixels") +
                                          " needs four whole numbers separated by commas, not '" +
                                          value + "'");
                    whole[i] = static_cast<int64_t>(numbers[i]);
                }
                options.windowPixels = whole;
            } else {
                options.window = numbers;
            }
            if (options.window && options.windowPixels)
                return R::Failure(W("--window") + " and " + W("--window-pixels") +
                                  " exclude each other");
        } else if (option == "--grid") {
            const std::optional<int64_t> grid = WholeNumber(value);
            if (!grid || *grid < *known->minimum || *grid > *known->maximum)
                return R::Failure(W("--grid") + " needs a band number from 1 to " +
                                  std::to_string(*known->maximum) + ", not '" + value + "'");
            options.grid = static_cast<int>(*grid);
        } else if (option == "--mask") {
            if (value.empty()) return R::Failure(W("--mask") + " needs a file");
            options.masks.emplace_back().path = value;
        } else if (option == "--mask-bits" || option == "--mask-values") {
            if (options.masks.empty())
                return R::Failure(W(option) + " belongs to a mask: give it after " + W("--mask") +
                                  " FILE");
            MaskOptions& mask = options.masks.back();
            if (mask.rule != MaskOptions::Rule::NonZero)
                return R::Failure("the mask " + mask.path + " has a rule already: give one of " +
                                  W("--mask-bits") + " and " + W("--mask-values") + " after each " +
                                  W("--mask"));
            mask.rule =
                option == "--mask-bits" ? MaskOptions::Rule::Bits : MaskOptions::Rule::Values;
            mask.list = value;
        } else if (option == "--format") {
            const std::optional<Formats> formats = FormatsOf(value);
            if (!formats)
                return R::Failure(W("--format") + " needs a list of " +
                                  ChoiceList(*known, " and ") + ", not '" + value + "'");
            options.formats = *formats;
        } else if (option == "--method") {
            const std::optional<int> type = MethodNamed(value);
            if (!type) {
                return R::Failure("unknown method '" + value + "' (" + ChoiceList(*known, " or ") +
                                  ")");
            }
            (band ? band->type : defaultType) = *type;
        } else if (option == "--segments") {
            const std::optional<int64_t> count = WholeNumber(value);
            if (!count || *count < *known->minimum || *count > *known->maximum) {
                return R::Failure(W("--segments") + " needs a number of segments from " +
                                  std::to_string(*known->minimum) + " to " +
                                  std::to_string(*known->maximum) + ", not '" + value + "'");
            }
            (band ? band->segments : defaultSegments) = static_cast<int>(*count);
        } else if (option == "--limits") {
            if (!band)
                return R::Failure(W("--limits") + " belongs to a band: give it after " +
                                  W("--band") + " FILE");
            std::optional<std::vector<int32_t>> limits = LimitList(value);
            if (!limits) {
                return R::Failure(W("--limits") +
                                  " needs whole numbers separated by commas, not '" + value + "'");
            }
            band->limits = std::move(limits);
        } else {
            return R::Failure("unknown option '" + W(option) + "'");
        }
    }

    const bool fitting = !options.fitTreatment.empty();
    if (!fitting && !options.sceneStarts.empty())
        return R::Failure(W("--scene") + " starts a scene of " + W("--fit-treatment") +
                          ", which is not given");
    if (fitting) {
        if (!options.applyTreatment.empty() || !options.change.empty() ||
            !options.saveTreatment.empty())
            return R::Failure(W("--fit-treatment") + " writes a treatment: give it no " +
                              W("--apply-treatment") + ", " + W("--save-treatment") + " or " +
                              W("--change"));
        if (options.sceneStarts.empty() || options.sceneStarts[0] != 0)
            return R::Failure(W("--fit-treatment") + " needs every band set after a " +
                              W("--scene"));
        for (size_t k = 0; k < options.sceneStarts.size(); ++k) {
            const size_t end = k + 1 < options.sceneStarts.size() ? options.sceneStarts[k + 1]
                                                                  : options.bands.size();
            if (end == options.sceneStarts[k])
                return R::Failure("scene " + std::to_string(k + 1) + " has no " + W("--band") +
                                  (speaker == Speaker::CommandLine ? " or --bands" : ""));
        }
    } else if (!outGiven) {
        return R::Failure(speaker == Speaker::CommandLine ? "--out STEM is required (see --help)"
                                                          : "out is required");
    }
    if (options.keepAll && minGiven)
        return R::Failure(W("--keep-all") + " and " + W("--min-pixels") + " exclude each other");
    const int bandCount = static_cast<int>(options.bands.size());
    if (!options.change.empty()) {
        if (bandCount > 0 || !options.applyTreatment.empty())
            return R::Failure(W("--change") + " compares two class maps: give it no " +
                              (speaker == Speaker::CommandLine ? "--band, --bands" : "bands") +
                              " or " + W("--apply-treatment"));
        return R::Of(std::move(options));
    }
    if (!options.applyTreatment.empty()) {
        if (options.applyConflict.empty()) {
            if (bandCount < 1 || (bandCount < 2 && !allBandsGiven) || bandCount > kMaximumJobBands)
                return R::Failure(BandCountText(speaker, bandCount));
            return R::Of(std::move(options));
        }
        options.applyConflict = W("--apply-treatment") +
                                " gives every band's method, segments, limits, "
                                "stretch, nodata and the selection: leave out " +
                                W(options.applyConflict);
        return R::Of(std::move(options));
    }
    options.applyConflict.clear();
    if (!fitting && ((bandCount < 2 && !allBandsGiven) || bandCount > kMaximumJobBands)) {
        return R::Failure(BandCountText(speaker, bandCount));
    }
    for (int index = 0; index < bandCount; ++index) {
        BandOptions& band = options.bands[index];
        const std::string which = "band " + std::to_string(index + 1) + " (" + band.path + ")";
        if (band.type < 0) band.type = defaultType;
        if (band.segments < 0) band.segments = defaultSegments;
        if (!band.stretch && !band.percentiles) {
            band.stretch = defaultStretch;
            band.percentiles = defaultPercentiles;
        }
        if (!band.nodata) band.nodata = defaultNodata;
        if (!band.scale && !band.offset) {
            band.scale = defaultScale;
            band.offset = defaultOffset;
        }
        if (band.type < 0) return R::Failure(which + " has no " + W("--method"));
        if (band.segments < 0) return R::Failure(which + " has no " + W("--segments"));
        if (band.limits && band.nativeLimits)
            return R::Failure(which + " has both " + W("--limits") + " and " +
                              W("--native-limits"));
        if (band.type == Definition) {
            if (!band.limits && !band.nativeLimits)
                return R::Failure(which + " is a definition band and needs " + W("--limits"));
            const size_t given = band.limits ? band.limits->size() : band.nativeLimits->size();
            if (static_cast<int>(given) != band.segments) {
                return R::Failure(which + " has " + std::to_string(band.segments) +
                                  " segments but " + std::to_string(given) + " limits");
            }
        } else if (band.nativeLimits) {
            return R::Failure(which + " has " + W("--native-limits") +
                              ", which only a definition band takes");
        } else if (band.limits) {
            return R::Failure(which + " has " + W("--limits") +
                              ", which only a definition band takes");
        }
    }
    return R::Of(std::move(options));
}

}  // namespace tessera::job
