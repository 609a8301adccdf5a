// The whole job of tessera-batch: load, segment, cross, save, with the same rules and the same
// files as the interactive program.
#include "batch/batchjob.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "bands/bandfiles.h"
#include "crossing/crossing.h"
#include "image/rawfiles.h"
#include "support/paths.h"
#include "workspace/workspace.h"

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

class Progress {
  public:
    explicit Progress(bool on) : on_(on) {}
    void Say(const std::string& text) const {
        if (on_ && !quietRun) std::fprintf(stderr, "tessera-batch: %s\n", text.c_str());
    }
    void Enable() { on_ = true; }

  private:
    bool on_;
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
    tessera::Workspace ws;
    const int bandCount = static_cast<int>(options.bands.size());
    Progress progress(false);
    ws.BeginBandSet(bandCount);

    // No dialog asks for a missing size, and the memory the batch tool needs is its own
    // business: the interactive program's check does not apply.
    tessera::BandLoadOptions loading;
    loading.checkMemory = false;
    loading.makeImage = false;
    for (int band = 1; band <= bandCount; ++band) {
        const std::string& path = options.bands[band - 1].path;
        const auto type =
            IsBitmapName(path) ? tessera::BandFileType::Bitmap : tessera::BandFileType::Raw;
        if (const tessera::Status loaded = ws.LoadBand(band, path, type, loading); !loaded)
            return Fail(kRefused, loaded.message);
        if (band == 1 && int64_t{ws.Lines} * ws.Columns * bandCount >= kLargeScenePixels)
            progress.Enable();
        progress.Say("loaded band " + std::to_string(band) + " of " + std::to_string(bandCount));
    }

    for (int band = 1; band <= bandCount; ++band) {
        const BandOptions& choice = options.bands[band - 1];
        ws.SetSegmentation(band, choice.type, choice.segments,
                           choice.limits ? *choice.limits : std::vector<int32_t>{});
    }
    progress.Say("segmenting");
    if (const tessera::Status segmented = ws.FinishSegmentation(false, true); !segmented) {
        return Fail(kUsage, segmented.message);
    }

    progress.Say("crossing");
    tessera::Result<tessera::CodeCounts> counts = ws.CountCodes();
    if (!counts) return Fail(kRefused, counts.message);
    const std::vector<int64_t>& pixelCount = counts.value->PixelCount;
    const int codeCount = ws.segmentation->table.CodeCount;

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
    if (const tessera::Status crossed =
            ws.FinishCrossing(std::move(*counts.value), std::move(selected), false);
        !crossed) {
        return Fail(kRefused, crossed.message);
    }

    progress.Say("saving " + options.out + ".bmp, .txt and .raw");
    if (const tessera::Status saved = ws.SaveResult(options.out); !saved) {
        return Fail(kNotWritten, saved.message);
    }
    // Written last, so that a run refused earlier leaves no result file behind.
    if (!options.saveSegmented.empty()) {
        progress.Say("saving the segmented band " + std::to_string(bandCount));
        if (const tessera::Status saved = ws.SaveSegmented(options.saveSegmented); !saved) {
            return Fail(kNotWritten, saved.message);
        }
    }
    progress.Say("done: " + std::to_string(ws.crossing->ClassCount) + " classes");
    return kDone;
}

}  // namespace tessera::batch
