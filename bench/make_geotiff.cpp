// tessera-make-geotiff: writes a synthetic multi-band scene as tiled DEFLATE GeoTIFFs, for the
// benchmarks of tessera-batch on GDAL inputs (scripts/bench-geotiff.sh).
//
//   tessera-make-geotiff FOLDER [--layout separate|pixel|band] [--bands B] [--size S]
//                        [--tile T] [--border P] [--seed N] [--threads N|ALL_CPUS]
//
// B bands (default 6) of S x S UInt16 pixels (default 4000), in tiles of T x T (default 256),
// DEFLATE-compressed, on UTM zone 31N (EPSG:32631) with 30 m pixels, nodata 0 declared on
// every band and a border of P nodata pixels all around (default S / 50, at least 1):
//   separate  FOLDER/band01.tif ... bandBB.tif, one single-band file per band
//   pixel     FOLDER/scene-pixel.tif, every band in one file, INTERLEAVE=PIXEL
//   band      FOLDER/scene-band.tif, every band in one file, INTERLEAVE=BAND (band 1's tiles
//             first, then band 2's, ...)
// Files that may pass 4 GiB are BigTIFF. --threads sets GDAL's compression threads (default
// ALL_CPUS).
//
// Every band is the same landscape (a few sines over the picture, as the spectral bands of one
// place are correlated) through a tone curve of its own, between a dark and a bright value of
// its own in 1..20000, with a faint slow wave and texture of its own and a little hash noise
// (+-60): smooth but never constant, so DEFLATE has real work (files some 1.4 to 1.5 times
// smaller than the values). The waves are laid relative to the picture, so a scene keeps its
// structure at any size: with 4 equal-width segments per band, B bands give 3 B + 1 codes (19
// for 6 bands, 31 for 10) whatever S, far under the 250 classes allowed. The noise is a hash
// of (seed, band, line, column): a scene does not depend on the layout, the tile size or the
// order of writing, so the layouts of one scene give the same classes.
//
// The scene is made and written one tile row (T lines of the whole width) at a time, with
// GDAL's block cache held to two tile rows and flushed after each, so memory stays at a few
// tile rows of the bands written together: a peak of about 75 MiB at 20000 columns for the
// separate and band layouts whatever B, and about 25 MiB more per band for the pixel layout.
// On this machine (2 cores shared with other builds, GDAL 3.6, DEFLATE two thirds of the time)
// it takes 30 to 45 s per 10^9 values (band x pixel): 16.6 s for one band of 20000 x 20000,
// so about 3 minutes for 10 bands of 20000 x 20000 (4 x 10^9 values, some 4.3 GiB of files).
#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kPixelMetres = 30.0;
constexpr int kUtm31North = 32631;
// The band recipes are laid out for up to this many bands (tessera-batch's limit); further
// bands repeat the limits of the first ones.
constexpr int kRecipeSlots = 10;
constexpr int kQuarters = 3;  // equal-width limits of 4 segments: a quarter, half, three quarters

enum class Layout { Separate, Pixel, Band };

struct Settings {
    std::string folder;
    Layout layout = Layout::Separate;
    int bands = 6;
    int size = 4000;
    int tile = 256;
    int border = -1;  // -1: size / 50, at least 1
    uint64_t seed = 1;
    std::string threads = "ALL_CPUS";
};

// A wave sin(2 pi (a u + b v) + phase) over the picture's relative coordinates u, v in [0, 1),
// computed as sin(A + B) = sin A cos B + cos A sin B from a table along the line and one sine
// and cosine per line.
struct Wave {
    double alongColumns;  // cycles across the picture's width
    double alongLines;    // cycles down its height
    double phase;
};

struct WaveTable {
    std::vector<double> sines, cosines;  // of 2 pi a x / size + phase, x = 0 .. size - 1
    double alongLines = 0;

    WaveTable(const Wave& wave, int size) : sines(size), cosines(size), alongLines(wave.alongLines) {
        for (int x = 0; x < size; ++x) {
            const double angle = 2.0 * kPi * wave.alongColumns * x / size + wave.phase;
            sines[x] = std::sin(angle);
            cosines[x] = std::cos(angle);
        }
    }
    // sin and cos of 2 pi b v for line v (relative).
    std::array<double, 2> Line(double v) const {
        const double angle = 2.0 * kPi * alongLines * v;
        return {std::sin(angle), std::cos(angle)};
    }
    double At(int x, const std::array<double, 2>& line) const {
        return sines[x] * line[1] + cosines[x] * line[0];
    }
};

// The landscape common to all bands: two oblique waves and a checker of two more, summed and
// brought to 0..1, held at 0 and 1 on some 7 % of the picture (as water or bare rock).
const Wave kFirstWave{0.8, 0.3, 0.5};
const Wave kSecondWave{-0.35, 0.9, 1.9};
const Wave kCheckerColumns{1.6, 0.0, 0.3};
const Wave kCheckerLines{0.0, 1.2, 2.2};

double Landscape(double first, double second, double checker) {
    const double sum = (first + second + 0.6 * checker) / 2.6;  // -1 .. 1
    return std::clamp((sum + 0.75) / 1.5, 0.0, 1.0);
}

// How one band is made from the landscape L: its own tone curve, rising piecewise linearly
// through (0, 0), (t1, 1/4), (t2, 1/2), (t3, 3/4) and (1, 1), between its own dark and bright
// values, plus a slow wave and a fine texture of its own, faint (0.3 % of its range each,
// nothing where L is 0 or 1), and the noise.
//
// The tone curves put the equal-width limits of every band at distinct levels of L, 1/31
// apart: the 30 limits of 10 bands never cross each other, so 4 segments per band give at
// most 31 codes, plus a few where the noise mixes two neighbouring limits, at any size.
// (Bands that mixed the fields with weights of their own would cross their limits everywhere
// and give thousands of codes, far more than the 250 classes allowed.)
struct BandRecipe {
    std::array<double, kQuarters> limits;  // t1 < t2 < t3
    double dark, bright;                   // values at L = 0 and L = 1
    Wave slow, textureColumns, textureLines;
};

uint64_t Mix(uint64_t z) {  // splitmix64's finaliser
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// Uniform in [-1, 1), from the seed alone.
double Draw(uint64_t& state) {
    state += 0x9e3779b97f4a7c15ULL;
    return static_cast<double>(Mix(state) >> 11) * 0x1.0p-52 - 1.0;
}

std::vector<BandRecipe> Recipes(int bands, uint64_t seed) {
    std::vector<BandRecipe> recipes;
    uint64_t state = Mix(seed ^ 0x7e55e7aULL);
    for (int b = 0; b < bands; ++b) {
        BandRecipe recipe{};
        // Limit q of slot s at level (10 q + (s + 3 q) % 10 + 1) / 31: every slot has one limit
        // in each third of L.
        const int slot = b % kRecipeSlots;
        for (int q = 0; q < kQuarters; ++q)
            recipe.limits[q] = (kRecipeSlots * q + (slot + 3 * q) % kRecipeSlots + 1) /
                               (kQuarters * kRecipeSlots + 1.0);
        recipe.dark = 1400.0 + 1100.0 * Draw(state);
        recipe.bright = 16700.0 + 2700.0 * Draw(state);
        const double angle = kPi * Draw(state);
        const double cycles = 1.0 + 0.5 * Draw(state);
        recipe.slow = {cycles * std::cos(angle), cycles * std::sin(angle), kPi * (1 + Draw(state))};
        recipe.textureColumns = {8.0 + 2.0 * Draw(state), 0.0, kPi * (1.0 + Draw(state))};
        recipe.textureLines = {0.0, 8.0 + 2.0 * Draw(state), kPi * (1.0 + Draw(state))};
        recipes.push_back(recipe);
    }
    return recipes;
}

// The values of one band, line by line, from tables made once per band.
class BandMaker {
  public:
    BandMaker(const BandRecipe& recipe, int band, const Settings& settings)
        : recipe_(recipe), band_(band), size_(settings.size), border_(settings.border),
          seed_(settings.seed), first_(kFirstWave, size_), second_(kSecondWave, size_),
          checkerColumns_(kCheckerColumns, size_), checkerLines_(kCheckerLines, size_),
          slow_(recipe.slow, size_), textureColumns_(recipe.textureColumns, size_),
          textureLines_(recipe.textureLines, size_) {
        double previousLimit = 0, previousTone = 0;
        for (int q = 0; q <= kQuarters; ++q) {
            const double limit = q < kQuarters ? recipe.limits[q] : 1.0;
            const double tone = (q + 1) / 4.0;
            slopes_[q] = (tone - previousTone) / (limit - previousLimit);
            starts_[q] = previousLimit;
            tones_[q] = previousTone;
            previousLimit = limit;
            previousTone = tone;
        }
    }

    // Line y into values[0], values[step], ... (size_ of them).
    void Line(int y, uint16_t* values, int step) const {
        if (y < border_ || y >= size_ - border_) {
            for (int x = 0; x < size_; ++x) values[x * step] = 0;
            return;
        }
        const double v = static_cast<double>(y) / size_;
        const std::array<double, 2> first = first_.Line(v), second = second_.Line(v),
                                    checker = checkerLines_.Line(v), slow = slow_.Line(v),
                                    texture = textureLines_.Line(v);
        const double checkerLine = checkerLines_.At(0, checker);
        const double textureLine = textureLines_.At(0, texture);
        const double range = recipe_.bright - recipe_.dark;
        const uint64_t lineKey =
            Mix(seed_ * 0x100000001b3ULL + static_cast<uint64_t>(band_) * 0x9e3779b97f4a7c15ULL +
                static_cast<uint64_t>(y));
        for (int x = 0; x < size_; ++x) {
            if (x < border_ || x >= size_ - border_) {
                values[x * step] = 0;
                continue;
            }
            const double land = Landscape(first_.At(x, first), second_.At(x, second),
                                          checkerColumns_.sines[x] * checkerLine);
            const int piece = (land >= recipe_.limits[0]) + (land >= recipe_.limits[1]) +
                              (land >= recipe_.limits[2]);
            const double tone = tones_[piece] + (land - starts_[piece]) * slopes_[piece];
            const double faint = 4.0 * land * (1.0 - land) * 0.003 *
                                 (slow_.At(x, slow) + textureColumns_.sines[x] * textureLine);
            // A little noise: uniform in [-60, 60), about 0.4 % of a band's range.
            const double noise =
                static_cast<double>(Mix(lineKey + static_cast<uint64_t>(x)) >> 40) *
                    (120.0 / 16777216.0) -
                60.0;
            const double value = recipe_.dark + range * (tone + faint) + noise;
            values[x * step] = static_cast<uint16_t>(std::clamp(value + 0.5, 1.0, 20000.0));
        }
    }

  private:
    BandRecipe recipe_;
    int band_;
    int size_;
    int border_;
    uint64_t seed_;
    WaveTable first_, second_, checkerColumns_, checkerLines_, slow_, textureColumns_,
        textureLines_;
    std::array<double, kQuarters + 1> slopes_{}, starts_{}, tones_{};
};

std::string CoordinateSystem() {
    OGRSpatialReferenceH system = OSRNewSpatialReference(nullptr);
    std::string text;
    char* wkt = nullptr;
    if (OSRImportFromEPSG(system, kUtm31North) == OGRERR_NONE &&
        OSRExportToWkt(system, &wkt) == OGRERR_NONE)
        text = wkt;
    CPLFree(wkt);
    OSRDestroySpatialReference(system);
    return text;
}

// A new tiled DEFLATE GeoTIFF of `bands` UInt16 bands, georeferenced, nodata 0 declared.
GDALDatasetH Create(const std::string& path, int bands, const Settings& settings,
                    const char* interleave) {
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    if (driver == nullptr) {
        std::fprintf(stderr, "tessera-make-geotiff: GDAL has no GTiff driver\n");
        return nullptr;
    }
    const std::string tile = std::to_string(settings.tile);
    char** options = nullptr;
    options = CSLSetNameValue(options, "TILED", "YES");
    options = CSLSetNameValue(options, "BLOCKXSIZE", tile.c_str());
    options = CSLSetNameValue(options, "BLOCKYSIZE", tile.c_str());
    options = CSLSetNameValue(options, "COMPRESS", "DEFLATE");
    options = CSLSetNameValue(options, "INTERLEAVE", interleave);
    options = CSLSetNameValue(options, "BIGTIFF", "IF_SAFER");
    options = CSLSetNameValue(options, "NUM_THREADS", settings.threads.c_str());
    GDALDatasetH dataset = GDALCreate(driver, path.c_str(), settings.size, settings.size, bands,
                                      GDT_UInt16, options);
    CSLDestroy(options);
    if (dataset == nullptr) {
        std::fprintf(stderr, "tessera-make-geotiff: cannot create %s\n", path.c_str());
        return nullptr;
    }
    // The scene centred on the zone's central meridian, 5000 km north of the equator.
    const double half = 0.5 * settings.size * kPixelMetres;
    std::array<double, 6> transform{500000.0 - half, kPixelMetres, 0.0,
                                    5000000.0 + half, 0.0,          -kPixelMetres};
    const std::string system = CoordinateSystem();
    bool placed = !system.empty() && GDALSetGeoTransform(dataset, transform.data()) == CE_None &&
                  GDALSetProjection(dataset, system.c_str()) == CE_None;
    for (int b = 1; b <= bands && placed; ++b)
        placed = GDALSetRasterNoDataValue(GDALGetRasterBand(dataset, b), 0.0) == CE_None;
    if (!placed) {
        std::fprintf(stderr, "tessera-make-geotiff: cannot georeference %s\n", path.c_str());
        GDALClose(dataset);
        return nullptr;
    }
    return dataset;
}

// GDAL's block cache held to `tileRows` tile rows of `bands` bands (at least 16 MiB).
void HoldCache(const Settings& settings, int bands, int tileRows) {
    const int64_t bytes = int64_t{settings.tile} * settings.size * 2 * bands * tileRows;
    GDALSetCacheMax64(std::max<int64_t>(bytes, int64_t{16} << 20));
}

// The dirty blocks written out (compressed), so that the cache holds no more than a tile row.
bool Flushed(GDALDatasetH dataset) {
    CPLErrorReset();
    GDALFlushCache(dataset);
    return CPLGetLastErrorType() != CE_Failure;
}

bool Closed(GDALDatasetH dataset, const std::string& path) {
    CPLErrorReset();
    GDALClose(dataset);  // writes the last blocks and the directory
    if (CPLGetLastErrorType() == CE_Failure) {
        std::fprintf(stderr, "tessera-make-geotiff: cannot finish %s: %s\n", path.c_str(),
                     CPLGetLastErrorMsg());
        return false;
    }
    return true;
}

// Bands first..last - 1 (0-based) of `recipes` as bands 1.. of `dataset`, each band whole
// before the next, one tile row at a time.
bool WriteBandAfterBand(GDALDatasetH dataset, const std::string& path,
                        const std::vector<BandRecipe>& recipes, int first, int last,
                        const Settings& settings) {
    const int size = settings.size;
    std::vector<uint16_t> rows(static_cast<size_t>(settings.tile) * size);
    for (int b = first; b < last; ++b) {
        const BandMaker maker(recipes[b], b, settings);
        GDALRasterBandH band = GDALGetRasterBand(dataset, b - first + 1);
        for (int top = 0; top < size; top += settings.tile) {
            const int count = std::min(settings.tile, size - top);
            for (int y = 0; y < count; ++y)
                maker.Line(top + y, rows.data() + static_cast<size_t>(y) * size, 1);
            if (GDALRasterIO(band, GF_Write, 0, top, size, count, rows.data(), size, count,
                             GDT_UInt16, 0, 0) != CE_None ||
                !Flushed(dataset)) {
                std::fprintf(stderr, "tessera-make-geotiff: cannot write %s: %s\n", path.c_str(),
                             CPLGetLastErrorMsg());
                GDALClose(dataset);
                return false;
            }
        }
    }
    return Closed(dataset, path);
}

// Every band into one pixel-interleaved file, one tile row of all bands at a time.
bool WritePixelInterleaved(GDALDatasetH dataset, const std::string& path,
                           const std::vector<BandRecipe>& recipes, const Settings& settings) {
    const int size = settings.size;
    const int bands = static_cast<int>(recipes.size());
    std::vector<BandMaker> makers;
    for (int b = 0; b < bands; ++b) makers.emplace_back(recipes[b], b, settings);
    std::vector<uint16_t> rows(static_cast<size_t>(settings.tile) * size * bands);
    const GSpacing pixelSpacing = 2 * bands;
    const GSpacing lineSpacing = pixelSpacing * size;
    for (int top = 0; top < size; top += settings.tile) {
        const int count = std::min(settings.tile, size - top);
        for (int y = 0; y < count; ++y)
            for (int b = 0; b < bands; ++b)
                makers[b].Line(top + y, rows.data() + (static_cast<size_t>(y) * size * bands + b),
                               bands);
        if (GDALDatasetRasterIOEx(dataset, GF_Write, 0, top, size, count, rows.data(), size,
                                  count, GDT_UInt16, bands, nullptr, pixelSpacing, lineSpacing, 2,
                                  nullptr) != CE_None ||
            !Flushed(dataset)) {
            std::fprintf(stderr, "tessera-make-geotiff: cannot write %s: %s\n", path.c_str(),
                         CPLGetLastErrorMsg());
            GDALClose(dataset);
            return false;
        }
    }
    return Closed(dataset, path);
}

bool Make(const Settings& settings) {
    const std::vector<BandRecipe> recipes = Recipes(settings.bands, settings.seed);
    const std::filesystem::path folder = settings.folder;
    switch (settings.layout) {
        case Layout::Separate:
            HoldCache(settings, 1, 2);
            for (int b = 0; b < settings.bands; ++b) {
                char name[32];
                std::snprintf(name, sizeof name, "band%02d.tif", b + 1);
                const std::string path = (folder / name).string();
                GDALDatasetH dataset = Create(path, 1, settings, "BAND");
                if (dataset == nullptr ||
                    !WriteBandAfterBand(dataset, path, recipes, b, b + 1, settings))
                    return false;
            }
            return true;
        case Layout::Band: {
            HoldCache(settings, 1, 2);
            const std::string path = (folder / "scene-band.tif").string();
            GDALDatasetH dataset = Create(path, settings.bands, settings, "BAND");
            return dataset != nullptr &&
                   WriteBandAfterBand(dataset, path, recipes, 0, settings.bands, settings);
        }
        case Layout::Pixel: {
            HoldCache(settings, settings.bands, 2);
            const std::string path = (folder / "scene-pixel.tif").string();
            GDALDatasetH dataset = Create(path, settings.bands, settings, "PIXEL");
            return dataset != nullptr && WritePixelInterleaved(dataset, path, recipes, settings);
        }
    }
    return false;
}

bool WholeNumber(const char* text, long long low, long long high, long long& value) {
    char* end = nullptr;
    value = std::strtoll(text, &end, 10);
    return end != text && *end == '\0' && value >= low && value <= high;
}

bool ParseArguments(int argc, char** argv, Settings& settings) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option.rfind("--", 0) != 0) {
            if (!settings.folder.empty()) return false;
            settings.folder = option;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* text = argv[++i];
        long long value = 0;
        if (option == "--layout") {
            const std::string layout = text;
            if (layout == "separate")
                settings.layout = Layout::Separate;
            else if (layout == "pixel")
                settings.layout = Layout::Pixel;
            else if (layout == "band")
                settings.layout = Layout::Band;
            else
                return false;
        } else if (option == "--bands" && WholeNumber(text, 1, 99, value)) {
            settings.bands = static_cast<int>(value);
        } else if (option == "--size" && WholeNumber(text, 1, 1000000, value)) {
            settings.size = static_cast<int>(value);
        } else if (option == "--tile" && WholeNumber(text, 16, 4096, value) && value % 16 == 0) {
            settings.tile = static_cast<int>(value);  // GeoTIFF tiles are multiples of 16
        } else if (option == "--border" && WholeNumber(text, 0, 500000, value)) {
            settings.border = static_cast<int>(value);
        } else if (option == "--seed" && WholeNumber(text, 0, INT64_MAX, value)) {
            settings.seed = static_cast<uint64_t>(value);
        } else if (option == "--threads") {
            settings.threads = text;
        } else {
            return false;
        }
    }
    if (settings.border < 0) settings.border = std::max(1, settings.size / 50);
    return !settings.folder.empty() && 2 * settings.border < settings.size;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!ParseArguments(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: tessera-make-geotiff FOLDER [--layout separate|pixel|band] "
                     "[--bands B] [--size S]\n"
                     "                            [--tile T] [--border P] [--seed N] "
                     "[--threads N|ALL_CPUS]\n");
        return 2;
    }
    std::error_code error;
    std::filesystem::create_directories(settings.folder, error);
    if (error) {
        std::fprintf(stderr, "tessera-make-geotiff: cannot create %s: %s\n",
                     settings.folder.c_str(), error.message().c_str());
        return 1;
    }
    GDALAllRegister();
    const auto start = std::chrono::steady_clock::now();
    if (!Make(settings)) return 1;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double values = static_cast<double>(settings.size) * settings.size * settings.bands;
    std::fprintf(stderr,
                 "tessera-make-geotiff: %d bands of %d x %d in %.2f s (%.2f s per 10^9 values)\n",
                 settings.bands, settings.size, settings.size, seconds, seconds * 1e9 / values);
    return 0;
}
