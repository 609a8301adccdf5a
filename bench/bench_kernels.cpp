// tessera-bench-kernels: the per-pixel kernels of the crossing timed side by side, the plain
// per-pixel form ("before": look-ups and table sums as the program had them) against the
// program's kernels ("after"), on synthetic bands.
//
//   tessera-bench-kernels [--lines L] [--columns C] [--bands N] [--segments S] [--runs R]
//                         [--isa baseline|avx2]
//
// Default: 10 bands of 4000 x 4000, 4 equal-width segments over each band's gray range, 7
// runs. The two forms run alternately, each run over every band; the medians are printed in
// nanoseconds per pixel (per pixel of one band, or per pixel of the crossing for the codes),
// with the speed-up, and every run's results are compared byte for byte (a difference is an
// error, exit status 1). --isa keeps the kernels to the baseline vector instructions (SSE2 on
// x86-64) instead of the widest the processor has.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bands/bandfiles.h"
#include "crossing/codetable.h"
#include "crossing/crossing.h"
#include "segmentation/graysteps.h"
#include "segmentation/thresholding.h"

namespace {

using namespace tessera;
using Clock = std::chrono::steady_clock;

struct Settings {
    int lines = 4000;
    int columns = 4000;
    int bands = 10;
    int segments = 4;
    int runs = 7;
};

// The kernels as the program had them, pixel by pixel: what the new ones are timed against.
namespace before {

void NumberSegments(const ByteMatrix& pixels, const SegmentLookup& lookup, ByteMatrix& numbers) {
    for (int y = 0; y < pixels.Lines(); ++y) {
        const uint8_t* in = pixels[y];
        uint8_t* out = numbers[y];
        for (int x = 0; x < pixels.Columns(); ++x) out[x] = lookup[in[x]];
    }
}

void AddToHistogram(const uint8_t* pixels, size_t count, Histogram& histogram) {
    uint32_t part[4][256] = {};
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        ++part[0][pixels[i]];
        ++part[1][pixels[i + 1]];
        ++part[2][pixels[i + 2]];
        ++part[3][pixels[i + 3]];
    }
    for (; i < count; ++i) ++part[0][pixels[i]];
    for (int g = 0; g < 256; ++g)
        histogram[g] += int64_t{part[0][g]} + part[1][g] + part[2][g] + part[3][g];
}

int64_t CountMarks(const uint8_t* marks, size_t count, uint8_t mark) {
    int64_t found = 0;
    for (size_t i = 0; i < count; ++i) found += marks[i] == mark;
    return found;
}

int64_t RemoveNodata(const uint8_t* pixels, const uint8_t* nodata, size_t count,
                     Histogram& histogram) {
    int64_t removed = 0;
    for (size_t i = 0; i < count; ++i) {
        if (nodata[i] == 0) continue;
        --histogram[pixels[i]];
        ++removed;
    }
    return removed;
}

}  // namespace before

// xorshift64*: a fast, reproducible sequence.
class Sequence {
  public:
    explicit Sequence(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t Next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }

  private:
    uint64_t state_;
};

// Smooth waves of a different direction per band with a little noise: neighbouring pixels
// alike, as in a scene.
std::vector<ByteMatrix> SyntheticBands(const Settings& settings) {
    Sequence random(7);
    std::vector<ByteMatrix> bands;
    for (int b = 0; b < settings.bands; ++b) {
        ByteMatrix band = *NewByteMatrix(settings.columns, settings.lines);
        const double fx = 0.002 + 0.001 * b, fy = 0.003 - 0.0002 * b;
        const double offset = 90 + 7 * b, scale = 50 + 3 * b;
        for (int y = 0; y < settings.lines; ++y) {
            uint8_t* out = band[y];
            for (int x = 0; x < settings.columns; ++x) {
                const double noise = static_cast<double>(random.Next() % 21) - 10;
                const double v = offset + scale * std::sin(fx * x + fy * y + b) + noise;
                out[x] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
            }
        }
        bands.push_back(std::move(band));
    }
    return bands;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Seconds(const std::function<void()>& work) {
    const Clock::time_point start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The bands read a strip at a time into buffers of 64 KiB a band, as the batch tool reads them
// (the buffers stay in cache): `work(strip, lines)` runs on each strip, only it is timed.
class Strips {
  public:
    Strips(const std::vector<ByteMatrix>& bands, int columns)
        : bands_(bands), columns_(columns), lines_(std::max(1, (64 << 10) / columns)) {
        for (size_t b = 0; b < bands.size(); ++b)
            buffers_.emplace_back(static_cast<size_t>(lines_) * static_cast<size_t>(columns));
    }
    int Lines() const { return lines_; }
    // Line i of band b in the strip.
    const uint8_t* Line(int b, int i) const {
        return buffers_[b].data() + static_cast<size_t>(i) * static_cast<size_t>(columns_);
    }
    double Run(const std::function<void(int first, int count)>& work) {
        double seconds = 0;
        const int lines = bands_[0].Lines();
        for (int first = 0; first < lines; first += lines_) {
            const int count = std::min(lines_, lines - first);
            for (size_t b = 0; b < bands_.size(); ++b)
                std::memcpy(buffers_[b].data(), bands_[b][first],
                            static_cast<size_t>(count) * static_cast<size_t>(columns_));
            seconds += Seconds([&] { work(first, count); });
        }
        return seconds;
    }

  private:
    const std::vector<ByteMatrix>& bands_;
    int columns_;
    int lines_;
    std::vector<std::vector<uint8_t>> buffers_;
};

int failures = 0;

// Runs before and after alternately, each giving the seconds it took; `same`, after the first
// pair of runs, compares their results.
void Compare(const char* name, double pixels, int runs, const std::function<double()>& old,
             const std::function<double()>& now, const std::function<bool()>& same) {
    std::vector<double> oldTimes, newTimes;
    for (int r = 0; r < runs; ++r) {
        oldTimes.push_back(old());
        newTimes.push_back(now());
        if (r == 0 && !same()) {
            std::printf("  %-30s DIFFERENT RESULTS\n", name);
            ++failures;
            return;
        }
    }
    const double a = Median(oldTimes) * 1e9 / pixels;
    const double b = Median(newTimes) * 1e9 / pixels;
    std::printf("  %-30s %8.3f %8.3f   x%.2f\n", name, a, b, a / b);
    std::fflush(stdout);
}

bool Parse(int argc, char** argv, Settings& settings) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--isa") {
            if (value == "baseline")
                UseKernelIsa(KernelIsa::Baseline);
            else if (value != "avx2")
                return false;
            continue;
        }
        const int number = std::atoi(value.c_str());
        if (option == "--lines")
            settings.lines = number;
        else if (option == "--columns")
            settings.columns = number;
        else if (option == "--bands")
            settings.bands = number;
        else if (option == "--segments")
            settings.segments = number;
        else if (option == "--runs")
            settings.runs = number;
        else
            return false;
    }
    return argc % 2 == 1 && settings.lines > 0 && settings.columns > 0 && settings.bands > 0 &&
           settings.bands <= kMaximumBands && settings.segments >= 1 &&
           settings.segments <= kMaximumSegmentCount && settings.runs > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!Parse(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: tessera-bench-kernels [--lines L] [--columns C] [--bands N] "
                     "[--segments S] [--runs R] [--isa baseline|avx2]\n");
        return 2;
    }
    const int n = settings.bands;
    const int lines = settings.lines;
    const int columns = settings.columns;
    const std::vector<ByteMatrix> bands = SyntheticBands(settings);
    const double bandPixels = static_cast<double>(lines) * columns * n;
    const double pixels = static_cast<double>(lines) * columns;

    // The segmentation and the code table of the job.
    std::vector<SegmentLookup> lookups;
    std::vector<int32_t> counts{0};
    for (const ByteMatrix& band : bands) {
        const GrayRange range = ComputeGrayRange(band);
        lookups.push_back(SegmentLookupTable(
            StrictoSensuLimits(range.minGray, range.maxGray, settings.segments)));
        counts.push_back(settings.segments);
    }
    const Result<CodeTable> table = BuildCodeTable(counts);
    if (!table) {
        std::fprintf(stderr, "tessera-bench-kernels: %s\n", table.message.c_str());
        return 2;
    }
    const std::vector<CodeContribution> bySegment = SegmentContributions(*table.value);
    std::vector<CodeContribution> byGray(static_cast<size_t>(n) + 1);
    for (int b = 1; b <= n; ++b) byGray[b] = GrayContribution(bySegment[b], lookups[b - 1]);

    std::printf("%d bands of %d x %d, %d segments each, %s kernels\n", n, lines, columns,
                settings.segments, CurrentKernelIsa() == KernelIsa::Avx2 ? "AVX2" : "baseline");
    std::printf("  %-30s %8s %8s   (ns/pixel, medians of %d runs)\n", "kernel", "before", "after",
                settings.runs);

    // Segment numbers of every band, whole matrices (the interactive treatment).
    {
        std::vector<ByteMatrix> oldNumbers, newNumbers;
        for (int b = 0; b < n; ++b) {
            oldNumbers.push_back(*NewByteMatrix(columns, lines));
            newNumbers.push_back(*NewByteMatrix(columns, lines));
        }
        Compare(
            "NumberSegments (matrices)", bandPixels, settings.runs,
            [&] {
                return Seconds([&] {
                    for (int b = 0; b < n; ++b)
                        before::NumberSegments(bands[b], lookups[b], oldNumbers[b]);
                });
            },
            [&] {
                return Seconds([&] {
                    for (int b = 0; b < n; ++b) NumberSegments(bands[b], lookups[b], newNumbers[b]);
                });
            },
            [&] {
                for (int b = 0; b < n; ++b)
                    if (std::memcmp(oldNumbers[b].Data(), newNumbers[b].Data(),
                                    oldNumbers[b].Size()) != 0)
                        return false;
                return true;
            });
    }

    Strips strips(bands, columns);
    std::vector<uint8_t> byteLine(static_cast<size_t>(columns)), otherBytes(byteLine.size());

    // Segment numbers of every band's lines from the strips (the batch tool's segmented
    // picture), prepared once per band.
    {
        std::vector<SegmentNumbering> numberings;
        for (const SegmentLookup& lookup : lookups)
            numberings.push_back(MakeSegmentNumbering(lookup));
        auto number = [&](bool prepared, int b, int i, uint8_t* out) {
            const uint8_t* gray = strips.Line(b, i);
            if (prepared) {
                NumberSegmentLine(gray, static_cast<size_t>(columns), numberings[b], out);
            } else {
                const SegmentLookup& lookup = lookups[b];
                for (int x = 0; x < columns; ++x) out[x] = lookup[gray[x]];
            }
        };
        auto pass = [&](bool prepared) {
            return strips.Run([&](int, int count) {
                for (int i = 0; i < count; ++i)
                    for (int b = 0; b < n; ++b) number(prepared, b, i, byteLine.data());
            });
        };
        bool same = true;
        Compare(
            "NumberSegmentLine (strips)", bandPixels, settings.runs, [&] { return pass(false); },
            [&] { return pass(true); },
            [&] {
                strips.Run([&](int, int count) {
                    for (int i = 0; i < count; ++i)
                        for (int b = 0; b < n; ++b) {
                            number(false, b, i, byteLine.data());
                            number(true, b, i, otherBytes.data());
                            same = same && byteLine == otherBytes;
                        }
                });
                return same;
            });
    }

    // Histograms of every band from the strips, then marks: one pixel in 1000 without data.
    {
        const size_t stripBytes =
            static_cast<size_t>(strips.Lines()) * static_cast<size_t>(columns);
        std::vector<uint8_t> marks(stripBytes, 0);
        for (size_t i = 0; i < marks.size(); i += 997) marks[i] = kNonFiniteMark;
        std::vector<Histogram> oldHistograms(static_cast<size_t>(n)), newHistograms(oldHistograms);
        int64_t oldMarks = 0, newMarks = 0;
        auto pass = [&](bool now, std::vector<Histogram>& histograms, int64_t& found) {
            std::fill(histograms.begin(), histograms.end(), Histogram{});
            found = 0;
            return strips.Run([&](int, int count) {
                const size_t cells = static_cast<size_t>(count) * static_cast<size_t>(columns);
                for (int b = 0; b < n; ++b) {
                    if (now)
                        AddToHistogram(strips.Line(b, 0), cells, histograms[b]);
                    else
                        before::AddToHistogram(strips.Line(b, 0), cells, histograms[b]);
                }
                (void)found;
            });
        };
        auto markPass = [&](bool now, std::vector<Histogram>& histograms, int64_t& found) {
            found = 0;
            return strips.Run([&](int, int count) {
                const size_t cells = static_cast<size_t>(count) * static_cast<size_t>(columns);
                for (int b = 0; b < n; ++b) {
                    if (now) {
                        found +=
                            RemoveNodata(strips.Line(b, 0), marks.data(), cells, histograms[b]);
                        found += CountMarks(marks.data(), cells, kNonFiniteMark);
                    } else {
                        found += before::RemoveNodata(strips.Line(b, 0), marks.data(), cells,
                                                      histograms[b]);
                        found += before::CountMarks(marks.data(), cells, kNonFiniteMark);
                    }
                }
            });
        };
        Compare(
            "AddToHistogram (strips)", bandPixels, settings.runs,
            [&] { return pass(false, oldHistograms, oldMarks); },
            [&] { return pass(true, newHistograms, newMarks); },
            [&] { return oldHistograms == newHistograms; });
        Compare(
            "RemoveNodata+CountMarks", bandPixels, settings.runs,
            [&] { return markPass(false, oldHistograms, oldMarks); },
            [&] { return markPass(true, newHistograms, newMarks); },
            [&] { return oldMarks == newMarks && oldHistograms == newHistograms; });
    }

    // Codes of every line from the strips, into one line buffer as the batch tool forms them.
    {
        std::vector<const CodeContribution*> tables;
        for (int b = 1; b <= n; ++b) tables.push_back(&byGray[b]);
        const CodeKernel kernel = MakeCodeKernel(byGray);
        std::vector<int32_t> line(static_cast<size_t>(columns)), other(line.size());
        std::vector<const uint8_t*> values(static_cast<size_t>(n));
        auto form = [&](bool prepared, int i, int32_t* codes) {
            for (int b = 0; b < n; ++b) values[b] = strips.Line(b, i);
            if (prepared)
                FormCodes(kernel, values.data(), columns, codes);
            else
                FormCodes(tables.data(), values.data(), n, columns, codes);
        };
        auto pass = [&](bool prepared) {
            return strips.Run([&](int, int count) {
                for (int i = 0; i < count; ++i) form(prepared, i, line.data());
            });
        };
        std::printf("  (codes by %s, %zu groups)\n", kernel.byDigits ? "digits" : "tables",
                    kernel.groups.size());
        bool same = true;
        Compare(
            "FormCodes (strips)", pixels, settings.runs, [&] { return pass(false); },
            [&] { return pass(true); },
            [&] {
                strips.Run([&](int, int count) {
                    for (int i = 0; i < count; ++i) {
                        form(false, i, line.data());
                        form(true, i, other.data());
                        same = same && line == other;
                    }
                });
                return same;
            });
    }
    return failures == 0 ? 0 : 1;
}
