#include "batch/batchoptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "bands/bandfiles.h"
#include "bands/rasterband.h"
#include "segmentation/thresholding.h"
#include "support/numbers.h"

namespace tessera::batch {

const char* UsageText() {
    return "Usage: tessera-batch --out STEM [--keep-all | --min-pixels M] [--save-segmented "
           "STEM2]\n"
           "                     [--threads N] [--keep-memory MIB] [--progress | --quiet]\n"
           "                     [--method TYPE --segments N]\n"
           "                     --band FILE [--method TYPE] [--segments N] [--limits L1,...,LN]\n"
           "                     --band FILE ... | --bands FILE [--stretch MIN,MAX]\n"
           "                     [--nodata V] [--format LIST]\n"
           "                     [--mask FILE[:K] [--mask-bits B1,... | --mask-values V1,...]]\n"
           "                     [--window XMIN,YMIN,XMAX,YMAX | --window-pixels L,C,LINES,COLUMNS]\n"
           "                     [--grid K]\n"
           "                     [--save-treatment FILE.json]\n"
           "       tessera-batch --out STEM --apply-treatment FILE.json\n"
           "                     --band FILE ... | --bands FILE [--mask ...] [--format LIST]\n"
           "       tessera-batch --fit-treatment FILE.json [--method TYPE --segments N]\n"
           "                     [--keep-all | --min-pixels M] --scene --band FILE ...\n"
           "                     --scene --bands FILE ...\n"
           "       tessera-batch --change A.tif B.tif --out STEM\n"
           "       tessera-batch --describe | --help\n"
           "\n"
           "Segments 2 to 10 bands, crosses them and writes STEM.bmp (class colours),\n"
           "STEM.raw (class numbers) and STEM.txt (descriptor and treatment report); for\n"
           "bands that carry a georeference also STEM.tif (the classes as a GeoTIFF on the\n"
           "bands' place) and STEM.csv (one row per class, with its area).\n"
           "STEM.tif is cloud-optimised and says in its metadata how it was made; its legend\n"
           "goes beside it as STEM.tif.aux.xml (class names and attribute table) and\n"
           "STEM.qml (a QGIS style with the same labels and colours).\n"
           "\n"
           "  --out STEM             stem of the three result files (extensions are appended)\n"
           "  --band FILE            a band: a raw image (.raw) with its descriptor (.txt),\n"
           "                         or an 8-bit bitmap (.bmp); give 2 to 10 bands, in order.\n"
           "                         Any other file is a raster GDAL reads (GeoTIFF, ...):\n"
           "                         FILE is its band 1, FILE:K its band K\n"
           "  --bands FILE           every band of a raster GDAL reads, in order, each a band\n"
           "  --stretch MIN,MAX      native values MIN to MAX become gray levels 0 to 255 in a\n"
           "                         raster band of more than 8 bits (default: the band's own\n"
           "                         minimum and maximum); before the first --band: every band\n"
           "                         of that kind; after a band: that band\n"
           "  --stretch P1%,P2%      MIN and MAX at percentiles P1 and P2 of the band's pixels\n"
           "                         with data (as numpy's percentile), placed likewise\n"
           "  --nodata V             the value of the pixels without data (default: the\n"
           "                         file's own, if it declares one; for a raw file or a\n"
           "                         bitmap, a gray level): left out of the gray range and\n"
           "                         the segments, in no class; placed as --stretch is\n"
           "  --scale A --offset B   the band's physical values are stored value x A + B\n"
           "                         (default: the file's own scale and offset, if any): the\n"
           "                         stretch, native ranges and native limits are in them;\n"
           "                         placed as --stretch is\n"
           "  --format LIST          the result files to write, of bmp,txt,raw,tif,csv,qml,\n"
           "                         codes (default: every one that applies but codes; tif\n"
           "                         brings STEM.tif.aux.xml, and a tif without qml removes\n"
           "                         an earlier STEM.qml; codes writes the code list, every\n"
           "                         code with its segment in each band, as STEM_codes.txt)\n"
           "  --mask FILE[:K]        a mask band (band K of FILE, default 1) for the whole band\n"
           "                         set: its masked pixels are without data in every band;\n"
           "                         several masks add up; by default masked where it is not 0\n"
           "  --mask-bits LIST       the mask before it masks where any of these bits (0 to 63)\n"
           "                         is set, as in a quality band of bit flags\n"
           "  --mask-values LIST     the mask before it masks where it holds one of these\n"
           "                         values, as in a scene classification band\n"
           "  --window XMIN,YMIN,XMAX,YMAX\n"
           "                         treat only this region, in the bands' map coordinates, as\n"
           "                         if the bands had been cut to it (gdal_translate -projwin)\n"
           "  --window-pixels LINE,COLUMN,LINES,COLUMNS\n"
           "                         the same in pixels, counted from 0 (gdal_translate -srcwin)\n"
           "  --grid K               bring the bands onto band K's grid (default: the finest\n"
           "                         band's) where their grids differ: nearest neighbour, as\n"
           "                         gdalwarp -te -tr -r near; pixels a band does not cover are\n"
           "                         without data\n"
           "  --method TYPE          segmentation, equipopulation or definition; before the\n"
           "                         first --band: the default of every band\n"
           "  --segments N           number of segments, 1 to 254 (default likewise)\n"
           "  --limits L1,...,LN     upper limits of the N segments of a definition band\n"
           "  --native-limits V1,... the same in native (or physical) values: each becomes the\n"
           "                         gray level whose native range holds it\n"
           "  --min-pixels M         retain the codes with more than M pixels (default 0:\n"
           "                         codes without pixels are eliminated)\n"
           "  --keep-all             retain every code (only when there are at most 250 codes)\n"
           "  --save-segmented STEM2 also write the last band's segmented image as STEM2.bmp,\n"
           "                         STEM2.txt and STEM2.raw\n"
           "  --threads N            threads sharing the work (default: one per core); the\n"
           "                         results do not depend on it\n"
           "  --keep-memory MIB      memory for the decoded values of rasters, kept so that no\n"
           "                         tile is decoded twice (default: a quarter of the\n"
           "                         machine's); bands beyond it are kept in a temporary file\n"
           "                         in TMPDIR, else beside --out, removed when the job ends\n"
           "  --progress             report every stage on standard error, whatever the\n"
           "                         scene's size (by default only large scenes report);\n"
           "                         on a terminal the report is one line, rewritten\n"
           "  --quiet                report no stage; errors are still reported\n"
           "  --save-treatment FILE.json\n"
           "                         also write the whole treatment (every band's stretch,\n"
           "                         method and limits, the classes and their colours) as\n"
           "                         JSON, to apply to other scenes (docs/treatment.md)\n"
           "  --apply-treatment FILE.json\n"
           "                         treat the bands with a saved treatment: its stretches,\n"
           "                         gray limits, classes and colours, nothing drawn or\n"
           "                         computed anew; takes no --method, --segments, --limits,\n"
           "                         --native-limits, --stretch, --scale, --offset, --nodata,\n"
           "                         --min-pixels or --keep-all\n"
           "  --fit-treatment FILE.json\n"
           "                         fit one treatment on several scenes, each a band set\n"
           "                         after a --scene: every band's stretch, limits and the\n"
           "                         selection come from the scenes taken together (their\n"
           "                         summed histograms and code counts); writes FILE.json and\n"
           "                         no class map (apply it to each scene); no --out\n"
           "  --scene                starts the bands of one scene of --fit-treatment\n"
           "  --change A.tif B.tif   the change from class map A to class map B of the same\n"
           "                         grid (two dates treated alike): STEM.csv (pixels and area\n"
           "                         of every pair of classes that occurs), STEM.tif (one\n"
           "                         value per pair, with STEM.tif.aux.xml and STEM.qml) and\n"
           "                         STEM.txt; pixels without a class in either map apart\n"
           "  --describe             print the options, their types, ranges and defaults\n"
           "                         as JSON (for programs that drive this one)\n"
           "  --help                 print this text\n"
           "\n"
           "Exit status: 0 done, 2 usage error, 3 refused input, 4 the selection cannot give\n"
           "at most 250 classes, 5 an output could not be written, 130 or 143 interrupted\n"
           "by SIGINT or SIGTERM (no temporary file is left behind).\n";
}

const std::vector<BatchOption>& OptionTable() {
    static const std::vector<BatchOption> table{
        {"--out", "STEM", "stem", "job", {}, {}, nullptr, {},
         "stem of the result files (their extensions are appended)", true},
        {"--band", "FILE", "file", "starts-band", {}, {}, nullptr, {},
         "a band: a raw image (.raw) with its descriptor, an 8-bit bitmap (.bmp), or a raster "
         "GDAL reads (FILE is its band 1, FILE:K its band K); 2 to 10 bands, in order"},
        {"--bands", "FILE", "file", "starts-band", {}, {}, nullptr, {},
         "every band of a raster GDAL reads, in order, each a band"},
        {"--stretch", "MIN,MAX", "range", "band", {}, {}, nullptr, {},
         "native values MIN to MAX become gray levels 0 to 255 in a raster band of more than 8 "
         "bits (default: the band's own minimum and maximum); P1%,P2% takes MIN and MAX at "
         "those percentiles of the band's pixels with data"},
        {"--nodata", "V", "nodata", "band", {}, {}, nullptr, {},
         "the value of the pixels without data: a number, nan, inf or -inf (default: the "
         "file's own, if it declares one)"},
        {"--scale", "A", "number", "band", {}, {}, nullptr, {},
         "physical values are stored value x A + --offset (default: the file's own scale and "
         "offset, if any); not 0"},
        {"--offset", "B", "number", "band", {}, {}, nullptr, {},
         "physical values are stored value x --scale + B (default: the file's own)"},
        {"--format", "LIST", "list", "job", {}, {}, "\"bmp,txt,raw,tif,csv,qml\"",
         {{"bmp", "class colours (STEM.bmp)"},
          {"txt", "descriptor and treatment report (STEM.txt)"},
          {"raw", "class numbers (STEM.raw)"},
          {"tif", "cloud-optimised class GeoTIFF and its legend (STEM.tif, STEM.tif.aux.xml)"},
          {"csv", "class table (STEM.csv)"},
          {"qml", "QGIS style of the class GeoTIFF (STEM.qml)"},
          {"codes", "code list: every code with its segment in each band (STEM_codes.txt)"}},
         "the result files to write, separated by commas (default: every one that applies but "
         "codes; tif, csv and qml only for bands that carry a georeference)"},
        {"--mask", "FILE", "file", "job", {}, {}, nullptr, {},
         "a mask band (FILE or FILE:K for band K) for the whole band set: its masked pixels are "
         "without data in every band; by default masked where it is not 0"},
        {"--mask-bits", "B1,...", "integers", "job", {}, {}, nullptr, {},
         "the mask before it masks where any of these bits (0 to 63) is set (after its --mask)"},
        {"--mask-values", "V1,...", "list", "job", {}, {}, nullptr, {},
         "the mask before it masks where it holds one of these values (after its --mask)"},
        {"--window", "XMIN,YMIN,XMAX,YMAX", "numbers", "job", {}, {}, nullptr, {},
         "treat only this region, in the bands' map coordinates (as gdal_translate -projwin)"},
        {"--window-pixels", "LINE,COLUMN,LINES,COLUMNS", "integers", "job", {}, {}, nullptr, {},
         "treat only this region, in pixels counted from 0 (as gdal_translate -srcwin)"},
        {"--grid", "K", "integer", "job", 1, kMaximumBands, nullptr, {},
         "bring bands whose grids differ onto band K's (default: the finest band's), by nearest "
         "neighbour"},
        {"--method", "TYPE", "choice", "band", {}, {}, nullptr,
         {{"segmentation", "equal width"},
          {"equipopulation", "equal population"},
          {"definition", "typed limits", "--limits"}},
         "the thresholding of the bands", true},
        {"--segments", "N", "integer", "band", 1, kMaximumSegmentCount, nullptr, {},
         "number of segments", true},
        {"--limits", "L1,...,LN", "integers", "band", {}, {}, nullptr, {},
         "upper limits of the N segments of a definition band (after its --band)"},
        {"--native-limits", "V1,...,VN", "numbers", "band", {}, {}, nullptr, {},
         "upper limits of the N segments of a definition band in native (or physical) values, "
         "each the gray level whose native range holds it (after its --band)"},
        {"--min-pixels", "M", "integer", "job", {}, {}, "0", {},
         "retain the codes with more than M pixels (0: codes without pixels are eliminated)"},
        {"--keep-all", nullptr, "flag", "job", {}, {}, "false", {},
         "retain every code (only when there are at most 250 codes)"},
        {"--save-segmented", "STEM2", "stem", "job", {}, {}, nullptr, {},
         "also write the last band's segmented image as STEM2.bmp, STEM2.txt and STEM2.raw"},
        {"--threads", "N", "integer", "job", 1, 64, nullptr, {},
         "threads sharing the work (default: one per core); the results do not depend on it"},
        {"--keep-memory", "MIB", "integer", "job", 0, 1 << 30, nullptr, {},
         "memory for the decoded values of rasters, kept so that no tile is decoded twice "
         "(default: a quarter of the machine's); bands beyond it are kept in a temporary file "
         "in TMPDIR, else beside --out; the results do not depend on it"},
        {"--progress", nullptr, "flag", "job", {}, {}, "false", {},
         "report every stage on standard error, one line a stage ('tessera-batch: STAGE')"},
        {"--quiet", nullptr, "flag", "job", {}, {}, "false", {},
         "report no stage; errors are still reported"},
        {"--save-treatment", "FILE.json", "file", "job", {}, {}, nullptr, {},
         "also write the whole treatment as JSON, to apply to other scenes"},
        {"--apply-treatment", "FILE.json", "file", "job", {}, {}, nullptr, {},
         "treat the bands with a saved treatment (its stretches, limits, classes and colours) "
         "in place of the method, stretch and selection options"},
        {"--fit-treatment", "FILE.json", "file", "job", {}, {}, nullptr, {},
         "fit one treatment on the scenes given after --scene, from their summed histograms and "
         "code counts, and write it (no class map)"},
        {"--scene", nullptr, "flag", "starts-scene", {}, {}, nullptr, {},
         "starts the bands of one scene of --fit-treatment"},
        {"--change", "A.tif B.tif", "files", "job", {}, {}, nullptr, {},
         "the change from class map A to class map B of the same grid, in place of a "
         "treatment: STEM.csv, STEM.tif (with its legend), STEM.qml and STEM.txt"},
        {"--describe", nullptr, "flag", "job", {}, {}, "false", {},
         "print this description of the options as JSON"},
        {"--help", nullptr, "flag", "job", {}, {}, "false", {}, "print the usage text"},
    };
    return table;
}

const BatchOption* FindOption(const std::string& name) {
    for (const BatchOption& option : OptionTable())
        if (name == option.name) return &option;
    return nullptr;
}

namespace {

std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string DescriptionJson() {
    std::string json = "{\n  \"program\": \"tessera-batch\",\n  \"description_version\": 1,\n";
    json += "  \"bands\": {\"minimum\": 2, \"maximum\": " + std::to_string(kMaximumBands) +
            "},\n  \"options\": [\n";
    const std::vector<BatchOption>& table = OptionTable();
    for (size_t k = 0; k < table.size(); ++k) {
        const BatchOption& option = table[k];
        json += "    {\"name\": " + JsonString(option.name);
        json += ", \"value\": " + (option.value ? JsonString(option.value) : "null");
        json += ", \"type\": " + JsonString(option.type);
        json += ", \"scope\": " + JsonString(option.scope);
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
                json += "{\"value\": " + JsonString(choice.value) +
                        ", \"label\": " + JsonString(choice.label);
                if (choice.needs) json += ", \"needs\": " + JsonString(choice.needs);
                json += "}";
            }
            json += "]";
        }
        json += ", \"help\": " + JsonString(option.help) + "}";
        json += k + 1 < table.size() ? ",\n" : "\n";
    }
    json += "  ],\n  \"exit_status\": {\"0\": \"done\", \"2\": \"usage error\", \"3\": \"refused "
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
        if (item == "bmp") formats.bmp = true;
        else if (item == "txt") formats.txt = true;
        else if (item == "raw") formats.raw = true;
        else if (item == "tif") formats.tif = formats.mapAsked = true;
        else if (item == "csv") formats.csv = formats.mapAsked = true;
        else if (item == "qml") formats.qml = formats.styleAsked = true;
        else if (item == "codes") formats.codes = true;
        else return std::nullopt;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return formats;
}

// "a, b and c" of the choices of an option.
std::string ChoiceList(const BatchOption& option, const char* last) {
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

Result<Options> ParseOptions(const std::vector<std::string>& arguments) {
    using R = Result<Options>;
    Options options;
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

    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option == "--help" || option == "-h") {
            options.help = true;
            return R::Of(options);
        }
        if (option == "--describe") {
            options.describe = true;
            return R::Of(options);
        }
        if (option == "--keep-all") {
            options.keepAll = true;
            if (options.applyConflict.empty()) options.applyConflict = option;
            continue;
        }
        if (option == "--progress" || option == "--quiet") {
            (option == "--quiet" ? options.quiet : options.progress) = true;
            if (options.progress && options.quiet)
                return R::Failure("--progress and --quiet cannot be given together");
            continue;
        }
        if (option == "--scene") {
            options.sceneStarts.push_back(options.bands.size());
            sceneOpen = true;
            continue;
        }
        if (option == "--change") {
            if (i + 2 >= arguments.size())
                return R::Failure("--change needs a value: two class maps");
            options.change = {arguments[i + 1], arguments[i + 2]};
            i += 2;
            continue;
        }
        const BatchOption* known = FindOption(option);
        const bool takesValue = known != nullptr && known->value != nullptr;
        if (!takesValue) return R::Failure("unknown option '" + option + "' (see --help)");
        if (i + 1 >= arguments.size()) return R::Failure(option + " needs a value");
        const std::string& value = arguments[++i];
        BandOptions* band = options.bands.empty() || sceneOpen ? nullptr : &options.bands.back();
        if (option == "--band" || option == "--bands") sceneOpen = false;
        // The options a saved treatment gives; noted for a refusal when one is applied.
        for (const char* given : {"--method", "--segments", "--limits", "--native-limits",
                                  "--stretch", "--scale", "--offset", "--nodata", "--min-pixels"})
            if (option == given && options.applyConflict.empty()) options.applyConflict = option;

        if (option == "--out") {
            if (value.empty()) return R::Failure("--out needs a file stem");
            options.out = value;
            outGiven = true;
        } else if (option == "--save-treatment" || option == "--apply-treatment" ||
                   option == "--fit-treatment") {
            if (value.empty()) return R::Failure(option + " needs a file");
            (option == "--save-treatment"    ? options.saveTreatment
             : option == "--apply-treatment" ? options.applyTreatment
                                             : options.fitTreatment) = value;
        } else if (option == "--save-segmented") {
            if (value.empty()) return R::Failure("--save-segmented needs a file stem");
            options.saveSegmented = value;
        } else if (option == "--min-pixels") {
            const std::optional<int64_t> minimum = WholeNumber(value);
            if (!minimum)
                return R::Failure("--min-pixels needs a whole number, not '" + value + "'");
            options.minPixels = *minimum;
            minGiven = true;
        } else if (option == "--threads") {
            const std::optional<int64_t> threads = WholeNumber(value);
            if (!threads || *threads < *known->minimum || *threads > *known->maximum)
                return R::Failure("--threads needs a number of threads from " +
                                  std::to_string(*known->minimum) + " to " +
                                  std::to_string(*known->maximum) + ", not '" + value + "'");
            options.threads = static_cast<int>(*threads);
        } else if (option == "--keep-memory") {
            const std::optional<int64_t> mib = WholeNumber(value);
            if (!mib || *mib < *known->minimum || *mib > *known->maximum)
                return R::Failure("--keep-memory needs a number of MiB from " +
                                  std::to_string(*known->minimum) + " to " +
                                  std::to_string(*known->maximum) + ", not '" + value + "'");
            options.keepMemory = *mib;
        } else if (option == "--band") {
            if (value.empty()) return R::Failure("--band needs a file");
            options.bands.emplace_back().path = value;
        } else if (option == "--bands") {
            if (value.empty()) return R::Failure("--bands needs a file");
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
                return R::Failure("--stretch needs two numbers MIN,MAX, not '" + value + "'");
            (band ? band->stretch : defaultStretch) = stretch;
        } else if (option == "--nodata") {
            // NaN marks the empty cells of floating-point rasters.
            const std::optional<double> nodata = ParseNodataValue(value);
            if (!nodata)
                return R::Failure("--nodata needs a number, nan, inf or -inf, not '" + value + "'");
            (band ? band->nodata : defaultNodata) = nodata;
        } else if (option == "--scale" || option == "--offset") {
            const std::optional<double> number = Number(value);
            if (!number) return R::Failure(option + " needs a number, not '" + value + "'");
            if (option == "--scale")
                (band ? band->scale : defaultScale) = number;
            else
                (band ? band->offset : defaultOffset) = number;
        } else if (option == "--native-limits") {
            if (!band)
                return R::Failure("--native-limits belongs to a band: give it after --band FILE");
            std::vector<double> limits;
            size_t start = 0;
            while (true) {
                const size_t comma = value.find(',', start);
                const std::optional<double> limit = Number(
                    value.substr(start, comma == std::string::npos ? comma : comma - start));
                if (!limit)
                    return R::Failure("--native-limits needs numbers separated by commas, not '" +
                                      value + "'");
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
                const std::optional<double> number = Number(
                    value.substr(start, comma == std::string::npos ? comma : comma - start));
                read = number.has_value() && (comma != std::string::npos || k == 3) &&
                       (comma == std::string::npos || k < 3);
                if (number) numbers[k] = *number;
                start = comma == std::string::npos ? value.size() + 1 : comma + 1;
            }
            const bool pixels = option == "--window-pixels";
            if (!read || k != 4)
                return R::Failure(option + " needs four " + (pixels ? "whole numbers" : "numbers") +
                                  " separated by commas, not '" + value + "'");
            if (pixels) {
                std::array<int64_t, 4> whole{};
                for (size_t i = 0; i < 4; ++i) {
                    if (numbers[i] != std::floor(numbers[i]) || std::fabs(numbers[i]) > 1e9)
                        return R::Failure("--window-pixels needs four whole numbers separated by "
                                          "commas, not '" + value + "'");
                    whole[i] = static_cast<int64_t>(numbers[i]);
                }
                options.windowPixels = whole;
            } else {
                options.window = numbers;
            }
            if (options.window && options.windowPixels)
                return R::Failure("--window and --window-pixels exclude each other");
        } else if (option == "--grid") {
            const std::optional<int64_t> grid = WholeNumber(value);
            if (!grid || *grid < *known->minimum || *grid > *known->maximum)
                return R::Failure("--grid needs a band number from 1 to " +
                                  std::to_string(*known->maximum) + ", not '" + value + "'");
            options.grid = static_cast<int>(*grid);
        } else if (option == "--mask") {
            if (value.empty()) return R::Failure("--mask needs a file");
            options.masks.emplace_back().path = value;
        } else if (option == "--mask-bits" || option == "--mask-values") {
            if (options.masks.empty())
                return R::Failure(option + " belongs to a mask: give it after --mask FILE");
            MaskOptions& mask = options.masks.back();
            if (mask.rule != MaskOptions::Rule::NonZero)
                return R::Failure("the mask " + mask.path +
                                  " has a rule already: give one of --mask-bits and "
                                  "--mask-values after each --mask");
            mask.rule = option == "--mask-bits" ? MaskOptions::Rule::Bits
                                                : MaskOptions::Rule::Values;
            mask.list = value;
        } else if (option == "--format") {
            const std::optional<Formats> formats = FormatsOf(value);
            if (!formats)
                return R::Failure("--format needs a list of " + ChoiceList(*known, " and ") +
                                  ", not '" + value + "'");
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
                return R::Failure("--segments needs a number of segments from " +
                                  std::to_string(*known->minimum) + " to " +
                                  std::to_string(*known->maximum) + ", not '" + value + "'");
            }
            (band ? band->segments : defaultSegments) = static_cast<int>(*count);
        } else {  // --limits
            if (!band) return R::Failure("--limits belongs to a band: give it after --band FILE");
            std::optional<std::vector<int32_t>> limits = LimitList(value);
            if (!limits) {
                return R::Failure("--limits needs whole numbers separated by commas, not '" +
                                  value + "'");
            }
            band->limits = std::move(limits);
        }
    }

    const bool fitting = !options.fitTreatment.empty();
    if (!fitting && !options.sceneStarts.empty())
        return R::Failure("--scene starts a scene of --fit-treatment, which is not given");
    if (fitting) {
        if (!options.applyTreatment.empty() || !options.change.empty() ||
            !options.saveTreatment.empty())
            return R::Failure("--fit-treatment writes a treatment: give it no --apply-treatment, "
                              "--save-treatment or --change");
        if (options.sceneStarts.empty() || options.sceneStarts[0] != 0)
            return R::Failure("--fit-treatment needs every band set after a --scene");
        for (size_t k = 0; k < options.sceneStarts.size(); ++k) {
            const size_t end = k + 1 < options.sceneStarts.size() ? options.sceneStarts[k + 1]
                                                                  : options.bands.size();
            if (end == options.sceneStarts[k])
                return R::Failure("scene " + std::to_string(k + 1) + " has no --band or --bands");
        }
    } else if (!outGiven) {
        return R::Failure("--out STEM is required (see --help)");
    }
    if (options.keepAll && minGiven)
        return R::Failure("--keep-all and --min-pixels exclude each other");
    const int bandCount = static_cast<int>(options.bands.size());
    if (!options.change.empty()) {
        if (bandCount > 0 || !options.applyTreatment.empty())
            return R::Failure("--change compares two class maps: give it no --band, --bands or "
                              "--apply-treatment");
        return R::Of(std::move(options));
    }
    if (!options.applyTreatment.empty()) {
        if (options.applyConflict.empty()) {
            if (bandCount < 1 || (bandCount < 2 && !allBandsGiven) || bandCount > kMaximumBands)
                return R::Failure("give 2 to 10 bands with --band, not " +
                                  std::to_string(bandCount));
            return R::Of(std::move(options));
        }
        options.applyConflict = "--apply-treatment gives every band's method, segments, limits, "
                                "stretch, nodata and the selection: leave out " +
                                options.applyConflict;
        return R::Of(std::move(options));
    }
    options.applyConflict.clear();
    if (!fitting && ((bandCount < 2 && !allBandsGiven) || bandCount > kMaximumBands)) {
        return R::Failure("give 2 to 10 bands with --band, not " + std::to_string(bandCount));
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
        if (band.type < 0) return R::Failure(which + " has no --method");
        if (band.segments < 0) return R::Failure(which + " has no --segments");
        if (band.limits && band.nativeLimits)
            return R::Failure(which + " has both --limits and --native-limits");
        if (band.type == Definition) {
            if (!band.limits && !band.nativeLimits)
                return R::Failure(which + " is a definition band and needs --limits");
            const size_t given = band.limits ? band.limits->size() : band.nativeLimits->size();
            if (static_cast<int>(given) != band.segments) {
                return R::Failure(which + " has " + std::to_string(band.segments) +
                                  " segments but " + std::to_string(given) + " limits");
            }
        } else if (band.nativeLimits) {
            return R::Failure(which + " has --native-limits, which only a definition band takes");
        } else if (band.limits) {
            return R::Failure(which + " has --limits, which only a definition band takes");
        }
    }
    return R::Of(std::move(options));
}

}  // namespace tessera::batch
