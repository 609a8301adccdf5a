// tessera-bench: times every step of an interactive session (load every band, segment, cross,
// segment and cross again, save) through the functions the program's commands call, over the
// core alone, on synthetic scenes written as raw files first.
//
//   tessera-bench [--lines L] [--columns C] [--bands B]... [--segments N] [--min-pixels M]
//
// Default: 4 and 10 bands of 4000 x 4000, 4 equal-width segments per band, a minimum of 15000
// pixels per class scaled to the picture's area. Each scene runs in its own child process so
// that the peak memory printed (getrusage ru_maxrss) is that scene's alone. Files go to a
// temporary folder that is removed afterwards.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "crossing/crossing.h"
#include "image/rawfiles.h"
#include "support/paths.h"
#include "support/safefile.h"
#include "workspace/streamedjob.h"
#include "workspace/workspace.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
    int lines = 4000;
    int columns = 4000;
    std::vector<int> bandCounts;
    int segments = 4;
    int64_t minPixels = -1;  // -1: 15000 scaled to the area of 4000 x 4000
};

double PeakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
}

class StageClock {
  public:
    StageClock() : start_(Clock::now()), last_(start_) {}
    void Done(const char* stage) {
        const Clock::time_point now = Clock::now();
        std::printf("  %-34s %8.3f s   peak %7.1f MiB\n", stage, Seconds(last_, now), PeakMiB());
        std::fflush(stdout);
        last_ = now;
    }
    void Total() const {
        std::printf("  %-34s %8.3f s   peak %7.1f MiB\n", "total", Seconds(start_, Clock::now()),
                    PeakMiB());
    }

  private:
    static double Seconds(Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double>(b - a).count();
    }
    Clock::time_point start_;
    Clock::time_point last_;
};

// xorshift64*: a fast, reproducible sequence for the synthetic scene.
class Sequence {
  public:
    explicit Sequence(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t Next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }  // 0..1
    double Normal() {  // Irwin-Hall: near enough for noise
        double sum = 0;
        for (int i = 0; i < 4; ++i) sum += Uniform();
        return (sum - 2.0) * std::sqrt(3.0);
    }

  private:
    uint64_t state_;
};

constexpr int kFields = 3;
constexpr int kGrid = 12;

// A slowly varying field about -1..1: a coarse random grid, interpolated bilinearly.
std::vector<float> SmoothField(Sequence& random, int lines, int columns) {
    std::vector<float> coarse((kGrid + 1) * (kGrid + 1));
    for (float& value : coarse) value = static_cast<float>(random.Normal() / 1.5);
    std::vector<float> field(static_cast<size_t>(lines) * columns);
    std::vector<int> x0(columns);
    std::vector<float> tx(columns);
    for (int x = 0; x < columns; ++x) {
        const double gx = columns > 1 ? static_cast<double>(x) * kGrid / (columns - 1) : 0;
        x0[x] = std::min(static_cast<int>(gx), kGrid - 1);
        tx[x] = static_cast<float>(gx - x0[x]);
    }
    std::vector<float> across0(columns), across1(columns);
    for (int y = 0; y < lines; ++y) {
        const double gy = lines > 1 ? static_cast<double>(y) * kGrid / (lines - 1) : 0;
        const int y0 = std::min(static_cast<int>(gy), kGrid - 1);
        const float ty = static_cast<float>(gy - y0);
        const float* top = &coarse[y0 * (kGrid + 1)];
        const float* bottom = &coarse[(y0 + 1) * (kGrid + 1)];
        float* out = &field[static_cast<size_t>(y) * columns];
        for (int x = 0; x < columns; ++x) {
            const float a = top[x0[x]] * (1 - tx[x]) + top[x0[x] + 1] * tx[x];
            const float b = bottom[x0[x]] * (1 - tx[x]) + bottom[x0[x] + 1] * tx[x];
            out[x] = a * (1 - ty) + b * ty;
        }
    }
    return field;
}

// Bands mixing the common fields, with a little noise: correlated like the bands of one scene.
std::vector<tessera::ByteMatrix> SyntheticScene(int bandCount, int lines, int columns) {
    Sequence random(2024);
    std::vector<std::vector<float>> fields;
    for (int f = 0; f < kFields; ++f) fields.push_back(SmoothField(random, lines, columns));
    // Noise values drawn once and read at a different offset per band.
    std::vector<float> noise(1 << 20);
    for (float& value : noise) value = static_cast<float>(2.0 * random.Normal());

    std::vector<tessera::ByteMatrix> bands;
    for (int b = 0; b < bandCount; ++b) {
        float loading[kFields];
        for (float& value : loading) value = static_cast<float>(random.Uniform() * 0.7 - 0.35);
        loading[b % kFields] =
            static_cast<float>((random.Uniform() < 0.5 ? -1 : 1) * (0.8 + 0.2 * random.Uniform()));
        const float scale = static_cast<float>(45 + 15 * random.Uniform());
        const float offset = static_cast<float>(100 + 50 * random.Uniform());
        const size_t shift = static_cast<size_t>(random.Next() % noise.size());

        std::optional<tessera::ByteMatrix> band = tessera::NewByteMatrix(columns, lines);
        if (!band) {
            std::fprintf(stderr, "tessera-bench: not enough memory for the scene\n");
            std::exit(1);
        }
        uint8_t* out = band->Data();
        const size_t pixels = band->Size();
        for (size_t i = 0; i < pixels; ++i) {
            float v = offset + noise[(i * 7 + shift) & (noise.size() - 1)];
            for (int f = 0; f < kFields; ++f) v += scale * loading[f] * fields[f][i];
            out[i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
        bands.push_back(std::move(*band));
    }
    return bands;
}

int Check(const tessera::Status& status, const char* what) {
    if (status) return 0;
    std::fprintf(stderr, "tessera-bench: %s failed: %s\n", what, status.message.c_str());
    return 1;
}

std::string BandPath(const std::filesystem::path& folder, int band) {
    char name[32];
    std::snprintf(name, sizeof name, "band%02d.raw", band);
    return (folder / name).string();
}

// Writes the scene's bands as raw files with their descriptors (in a process of its own, so
// that the session measured afterwards starts from files, as a user's does).
int WriteScene(const Settings& settings, int bandCount, const std::filesystem::path& folder) {
    std::vector<tessera::ByteMatrix> scene =
        SyntheticScene(bandCount, settings.lines, settings.columns);
    for (int band = 1; band <= bandCount; ++band) {
        const std::string path = BandPath(folder, band);
        if (Check(tessera::WriteRawImage(path, scene[band - 1]), "writing the scene")) return 1;
        const std::string descriptor = tessera::ReplaceExtension(path, ".txt");
        if (Check(tessera::WriteWholeFile(
                      descriptor, tessera::ShortDescriptorText({settings.lines, settings.columns})),
                  "writing the scene"))
            return 1;
    }
    return 0;
}

// A whole interactive session through the functions the program's commands call: load every
// band, segment, cross, segment again with one segment more, cross again, save.
int RunScene(const Settings& settings, int bandCount, const std::filesystem::path& folder) {
    const int lines = settings.lines;
    const int columns = settings.columns;
    int64_t minimum = settings.minPixels;
    if (minimum < 0) minimum = static_cast<int64_t>(15000.0 * lines * columns / (4000.0 * 4000.0));

    std::printf("%d bands of %d x %d, %d segments each, minimum %lld pixels\n", bandCount, lines,
                columns, settings.segments, static_cast<long long>(minimum));
    StageClock clock;
    tessera::Workspace ws;
    ws.BeginBandSet(bandCount);
    for (int band = 1; band <= bandCount; ++band) {
        tessera::BandLoadOptions options;
        if (Check(ws.LoadBand(band, BandPath(folder, band), tessera::BandFileType::Raw, options),
                  "LoadBand"))
            return 1;
    }
    clock.Done("LoadBand, every band");

    for (int run = 0; run < 2; ++run) {
        for (int band = 1; band <= bandCount; ++band)
            ws.SetSegmentation(band, tessera::Segmentation, settings.segments + run, {});
        if (Check(ws.FinishSegmentation(), "FinishSegmentation")) return 1;
        clock.Done(run == 0 ? "segmentation" : "segmentation again");

        tessera::Result<tessera::CodeCounts> counts = ws.CountCodes();
        if (!counts) {
            std::fprintf(stderr, "tessera-bench: CountCodes failed: %s\n", counts.message.c_str());
            return 1;
        }
        clock.Done("  counting the codes");
        // As the third selection dialog would: raise the minimum until at most 250 codes remain.
        const std::vector<int64_t>& pixelCount = counts.value->pixelCount;
        int64_t kept = minimum;
        while (tessera::CountRetained(pixelCount, kept) > tessera::kMaximumClassCount)
            kept = kept * 2 + 1;
        std::vector<int32_t> selected = tessera::SelectByMinimum(pixelCount, kept);
        if (Check(ws.FinishCrossing(std::move(*counts.value), std::move(selected)),
                  "FinishCrossing"))
            return 1;
        clock.Done("  classes");
        std::printf("  %d codes, %d classes (minimum %lld pixels)\n",
                    ws.segmentation->table.CodeCount, ws.crossing->classCount,
                    static_cast<long long>(kept));
    }

    if (Check(ws.SaveResult((folder / "result").string()), "SaveResult")) return 1;
    clock.Done("SaveResult");
    if (Check(ws.SaveSegmented((folder / "segmented").string()), "SaveSegmented")) return 1;
    clock.Done("SaveSegmented");
    clock.Total();
    return 0;
}

// The batch tool's whole job on the same files, through its StreamedJob: the yardstick of the
// session's steps.
int RunStreamedJob(const Settings& settings, int bandCount, const std::filesystem::path& folder) {
    int64_t minimum = settings.minPixels;
    if (minimum < 0)
        minimum = static_cast<int64_t>(15000.0 * settings.lines * settings.columns / 16e6);
    StageClock clock;
    tessera::StreamedJob job;
    job.BeginBandSet(bandCount);
    for (int band = 1; band <= bandCount; ++band)
        if (Check(job.LoadBand(band, BandPath(folder, band), tessera::BandFileType::Raw, {}),
                  "StreamedJob::LoadBand"))
            return 1;
    for (int band = 1; band <= bandCount; ++band)
        job.SetSegmentation(band, tessera::Segmentation, settings.segments, {});
    if (Check(job.FinishSegmentation(), "StreamedJob::FinishSegmentation") ||
        Check(job.CountCodes(), "StreamedJob::CountCodes"))
        return 1;
    while (tessera::CountRetained(job.PixelCount(), minimum) > tessera::kMaximumClassCount)
        minimum = minimum * 2 + 1;
    if (Check(job.FinishCrossing(tessera::SelectByMinimum(job.PixelCount(), minimum)),
              "StreamedJob::FinishCrossing") ||
        Check(job.Save((folder / "batch").string(), ""), "StreamedJob::Save"))
        return 1;
    clock.Done("the batch tool's whole job (StreamedJob)");
    return 0;
}

bool ParseArguments(int argc, char** argv, Settings& settings) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return false;
        const long long value = std::atoll(argv[++i]);
        if (option == "--lines")
            settings.lines = static_cast<int>(value);
        else if (option == "--columns")
            settings.columns = static_cast<int>(value);
        else if (option == "--bands")
            settings.bandCounts.push_back(static_cast<int>(value));
        else if (option == "--segments")
            settings.segments = static_cast<int>(value);
        else if (option == "--min-pixels")
            settings.minPixels = value;
        else
            return false;
    }
    if (settings.bandCounts.empty()) settings.bandCounts = {4, 10};
    if (settings.lines < 1 || settings.columns < 1 || settings.segments < 1 ||
        settings.segments > tessera::kMaximumSegmentCount)
        return false;
    for (int count : settings.bandCounts)
        if (count < 2 || count > tessera::kMaximumBands) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!ParseArguments(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: tessera-bench [--lines L] [--columns C] [--bands B]... "
                     "[--segments N] [--min-pixels M]\n");
        return 2;
    }
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    char pattern[] = "tessera-bench-XXXXXX";
    const std::string folderPattern = (base / pattern).string();
    std::vector<char> folderName(folderPattern.begin(), folderPattern.end());
    folderName.push_back('\0');
    if (!mkdtemp(folderName.data())) {
        std::perror("tessera-bench: temporary folder");
        return 1;
    }
    const std::filesystem::path folder = folderName.data();

    // Each step in a process of its own: the peak memory printed is the session's alone.
    const auto inChild = [](const std::function<int()>& step) {
        std::fflush(stdout);
        const pid_t child = fork();
        if (child < 0) {
            std::perror("tessera-bench: fork");
            return false;
        }
        if (child == 0) {
            const int outcome = step();
            std::fflush(stdout);
            std::_Exit(outcome);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    int failures = 0;
    for (int bandCount : settings.bandCounts) {
        if (!inChild([&] { return WriteScene(settings, bandCount, folder); }) ||
            !inChild([&] { return RunScene(settings, bandCount, folder); }) ||
            !inChild([&] { return RunStreamedJob(settings, bandCount, folder); }))
            failures = 1;
    }
    std::filesystem::remove_all(folder, error);
    return failures;
}
