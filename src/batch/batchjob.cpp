// The whole job of tessera-batch: load, segment, cross, save, with the same rules and the same
// files as the interactive program.
#include "batch/batchjob.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "bands/bandfiles.h"
#include "crossing/crossing.h"
#include "image/rawfiles.h"
#include "support/paths.h"
#include "workspace/streamedjob.h"

namespace tessera::batch {

namespace {

bool quietRun = false;

// Messages are written for message boxes; on the command line they become one line.
std::string OneLine(const std::string& text) {
    std::string line;
    bool blank = false;
    for (char c : text) {
        const bool space = c == '\n' || c == '\r' || c == '\t' || c == ' ';
        if (space) {
            blank = !line.empty();
            continue;
        }
        if (blank) line += ' ';
        blank = false;
        line += c;
    }
    return line;
}

bool IsBitmapName(const std::string& path) {
    if (path.size() < 4) return false;
    std::string extension = path.substr(path.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".bmp";
}

// The stages of the job on standard error: on a terminal one line, rewritten at every stage
// and ended by the last; elsewhere (a log, a pipe) one plain line a stage.
class Progress {
  public:
    Progress(bool on, bool never) : on_(on), never_(never), terminal_(::isatty(2) == 1) {}
    ~Progress() { EndLine(); }
    void Say(const std::string& text) {
        if (!on_ || never_ || quietRun) return;
        if (terminal_) {
            std::fprintf(stderr, "\rtessera-batch: %s\033[K", text.c_str());
            std::fflush(stderr);
            lineOpen_ = true;
        } else {
            std::fprintf(stderr, "tessera-batch: %s\n", text.c_str());
        }
    }
    // Ends the rewritten line, before an error or at the end.
    void EndLine() {
        if (lineOpen_) std::fputc('\n', stderr);
        lineOpen_ = false;
    }
    void Enable() { on_ = true; }

  private:
    bool on_;
    bool never_;
    bool terminal_;
    bool lineOpen_ = false;
};

// Progress is worth printing only where a step takes a noticeable time.
constexpr int64_t kLargeScenePixels = int64_t{4} << 20;

}  // namespace

void SetQuiet(bool quiet) {
    quietRun = quiet;
}

int Fail(int status, const std::string& text) {
    if (quietRun) return status;
    std::fprintf(stderr, "tessera-batch: %s\n", OneLine(text).c_str());
    return status;
}

int RunJob(const Options& options) {
    // The bands are streamed through memory strip by strip: the memory the job needs depends on
    // the strips and the code count, not on the number of pixels.
    tessera::StreamSettings settings;
    settings.threads = options.threads;
    tessera::StreamedJob job(settings);
    const int bandCount = static_cast<int>(options.bands.size());
    Progress progress(options.progress, options.quiet);
    // An error goes on a line of its own, after the progress line.
    const auto Fail = [&progress](int status, const std::string& text) {
        progress.EndLine();
        return batch::Fail(status, text);
    };
    job.BeginBandSet(bandCount);

    // No dialog asks for a missing size; the memory check estimates what the streamed job
    // needs, not the interactive program's whole matrices.
    tessera::BandLoadOptions loading;
    loading.makeImage = false;
    for (int band = 1; band <= bandCount; ++band) {
        const std::string& path = options.bands[band - 1].path;
        const auto type =
            IsBitmapName(path) ? tessera::BandFileType::Bitmap : tessera::BandFileType::Raw;
        if (const tessera::Status loaded = job.LoadBand(band, path, type, loading); !loaded)
            return Fail(kRefused, loaded.message);
        const tessera::ImageSize size = job.Size();
        if (band == 1 && int64_t{size.lines} * size.columns * bandCount >= kLargeScenePixels)
            progress.Enable();
        progress.Say("loaded band " + std::to_string(band) + " of " + std::to_string(bandCount));
    }

    for (int band = 1; band <= bandCount; ++band) {
        const BandOptions& choice = options.bands[band - 1];
        job.SetSegmentation(band, choice.type, choice.segments,
                            choice.limits ? *choice.limits : std::vector<int32_t>{});
    }
    progress.Say("segmenting");
    if (const tessera::Status segmented = job.FinishSegmentation(); !segmented) {
        return Fail(kUsage, segmented.message);
    }

    progress.Say("crossing");
    if (const tessera::Status counted = job.CountCodes(); !counted)
        return Fail(kRefused, counted.message);
    const std::vector<int64_t>& pixelCount = job.PixelCount();
    const int codeCount = job.Table().CodeCount;

    // The same choices as the code selection dialogs of the interactive program.
    const tessera::CodeSelection choice{options.keepAll, options.minPixels};
    if (const int64_t kept = tessera::CountSelected(pixelCount, choice);
        kept > tessera::kMaximumClassCount) {
        if (options.keepAll) {
            return Fail(kTooManyClasses,
                        "--keep-all would make " + std::to_string(codeCount) +
                            " classes, more than 250; use --min-pixels to eliminate rare codes");
        }
        return Fail(kTooManyClasses,
                    std::to_string(kept) + " codes have more than " +
                        std::to_string(options.minPixels) +
                        " pixels, more than the 250 classes allowed; give a larger --min-pixels");
    }
    std::vector<int32_t> selected = tessera::SelectCodes(pixelCount, choice);
    if (const tessera::Status crossed = job.FinishCrossing(std::move(selected)); !crossed) {
        return Fail(kRefused, crossed.message);
    }

    progress.Say("saving " + options.out + ".bmp, .txt and .raw");
    if (!options.saveSegmented.empty())
        progress.Say("saving the segmented band " + std::to_string(bandCount));
    // The segmented band is kept only once every result file is written, so that a run refused
    // earlier leaves no result file behind.
    if (const tessera::Status saved = job.Save(options.out, options.saveSegmented); !saved) {
        return Fail(kNotWritten, saved.message);
    }
    progress.Say("done: " + std::to_string(job.ClassCount()) + " classes");
    return kDone;
}

}  // namespace tessera::batch
