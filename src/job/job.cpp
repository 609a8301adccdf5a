// The whole job without a window: load, segment, cross, save, with the same rules and the same
// files as the interactive program.
#include "job/job.h"

#include "job/steps.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bands/bandfiles.h"
#include "bands/bandgrid.h"
#include "bands/rasterband.h"
#include "crossing/crossing.h"
#include "image/rawfiles.h"
#include "support/paths.h"
#include "workspace/changejob.h"
#include "workspace/scenefit.h"
#include "workspace/streamedjob.h"
#include "workspace/treatmentapply.h"
#include "workspace/treatmentfile.h"

namespace tessera::job {

namespace {

// A refusal of the job's inputs is a file not found when one of the files it names does not
// exist. GDAL's own names (a subdataset "DRIVER:FILE:...", a /vsi path) are not files to look
// for: their refusals stay refusals of the input.
bool NamesMissingFile(const std::string& name) {
    if (name.empty() || name.rfind("/vsi", 0) == 0) return false;
    const std::string path = BandOfName(name).path;
    return path.find(':') == std::string::npos && !Exists(path);
}

// A refusal that names a file that does not exist; any other stays a refusal of the input.
Refusal KindOfInputRefusal(const std::vector<std::string>& names, const std::string& message) {
    for (const std::string& name : names)
        if (NamesMissingFile(name) && message.find(BandOfName(name).path) != std::string::npos)
            return Refusal::NotFound;
    return Refusal::Input;
}

// The files a job reads: its bands, masks and the treatment it applies.
std::vector<std::string> InputsOf(const Options& options) {
    std::vector<std::string> names;
    for (const BandOptions& band : options.bands) names.push_back(band.path);
    for (const MaskOptions& mask : options.masks) names.push_back(mask.path);
    names.push_back(options.applyTreatment);
    return names;
}

// An input refused because a file it names is missing becomes a file not found.
JobOutcome Classified(JobOutcome outcome, const Options& options) {
    if (outcome.kind == Refusal::Input)
        outcome.kind = KindOfInputRefusal(InputsOf(options), outcome.message);
    return outcome;
}

}  // namespace

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

BandNamed BandOfName(const std::string& name) {
    if (IsBitmapName(name) || IsRawName(name)) return BandNamed{name, 0};
    const BandOptions choice;
    const JobBand band = RasterBandNamed(name, choice);
    return BandNamed{band.path, band.rasterBand};
}

std::string TooManyClassesText(const Options& options, int64_t kept,
                               const std::string& codeCount) {
    if (options.keepAll) {
        return "--keep-all would make " + codeCount + " classes, more than " +
               std::to_string(options.maxClasses) + "; use --min-pixels to eliminate rare codes";
    }
    return std::to_string(kept) + " codes have more than " + std::to_string(options.minPixels) +
           " pixels, more than the " + std::to_string(options.maxClasses) +
           " classes allowed; give a larger --min-pixels";
}

namespace {

// The selection rule speaks of every code of the table: a sparse table counts only the codes
// that occur, and its size (past 2^24 codes, far more than classes can be) decides instead.
// Keeping all of them is refused; a negative minimum keeps none, as the rule keeps none of
// more than 250 codes.
bool EveryCodeOfSparse(const Options& options, const tessera::CodeTable& table) {
    return table.Sparse() && (options.keepAll || options.minPixels < 0);
}

}  // namespace

std::string TooManyClassesOf(const Options& options, const tessera::CodeTable& table,
                             const std::vector<int64_t>& pixelCount) {
    const tessera::CodeSelection choice{options.keepAll, options.minPixels};
    if (EveryCodeOfSparse(options, table)) {
        if (!options.keepAll) return {};
        return TooManyClassesText(options, INT64_MAX, table.TotalText());
    }
    const int64_t kept = tessera::CountSelected(pixelCount, choice);
    if (kept <= options.maxClasses) return {};
    return TooManyClassesText(options, kept, std::to_string(table.CodeCount));
}

std::vector<int32_t> SelectedOf(const Options& options, const tessera::CodeTable& table,
                                const std::vector<int64_t>& pixelCount) {
    if (EveryCodeOfSparse(options, table)) return {0};
    return tessera::SelectCodes(pixelCount, tessera::CodeSelection{options.keepAll, options.minPixels});
}

std::string WideFormatsText(const Options& options, int classCount) {
    if (classCount <= tessera::kMaximumClassCount || !options.formats.bmp) return {};
    return std::to_string(classCount) +
           " classes are more than the bitmap's 256 colours can show: leave bmp out of --format";
}

JobOutcome FitTreatmentOf(const Options& options, StageSink* stages,
                          const ScenePasses* passes) {
    const tessera::StreamSettings settings = SettingsOf(options, options.fitTreatment);
    Progress progress(stages, options.progress, options.quiet);
    if (!options.masks.empty())
        return Fail(progress, Refusal::Input,
                    "--mask belongs to one band set: --fit-treatment takes none");
    // Each scene as the options of a job of its own.
    std::vector<Options> scenes;
    for (size_t k = 0; k < options.sceneStarts.size(); ++k) {
        Options scene = options;
        const size_t end =
            k + 1 < options.sceneStarts.size() ? options.sceneStarts[k + 1] : options.bands.size();
        scene.bands.assign(
            options.bands.begin() + static_cast<std::ptrdiff_t>(options.sceneStarts[k]),
            options.bands.begin() + static_cast<std::ptrdiff_t>(end));
        scene.sceneStarts.clear();
        scene.fitTreatment.clear();
        scenes.push_back(std::move(scene));
    }
    std::vector<std::vector<JobBand>> listed;
    for (size_t k = 0; k < scenes.size(); ++k) {
        tessera::Result<std::vector<JobBand>> bands = BandsOf(scenes[k]);
        if (!bands)
            return Fail(progress, Refusal::Input,
                        "scene " + std::to_string(k + 1) + ": " + bands.message);
        if (k > 0 && bands.value->size() != listed[0].size())
            return Fail(progress, Refusal::Input,
                        "scene " + std::to_string(k + 1) + " has " +
                            std::to_string(bands.value->size()) + " bands, and scene 1 has " +
                            std::to_string(listed[0].size()));
        listed.push_back(std::move(*bands.value));
    }
    const int n = static_cast<int>(listed[0].size());

    // The scenes' passes: here, in a streamed job of each scene in turn, unless run elsewhere.
    std::unique_ptr<tessera::StreamedJob> current;
    ScenePasses here;
    here.read = [&](int k, const std::vector<std::optional<tessera::StretchRange>>& stretches)
        -> tessera::Result<const tessera::StreamedJob*> {
        using R = tessera::Result<const tessera::StreamedJob*>;
        current = std::make_unique<tessera::StreamedJob>(settings);
        const size_t s = static_cast<size_t>(k - 1);
        if (std::optional<JobOutcome> refused =
                LoadBandSet(*current, scenes[s], listed[s], nullptr, stretches, progress))
            return R::Failure(refused->message);
        if (const tessera::Status read = current->ReadBands(); !read)
            return R::Failure(read.message);
        return R::Of(current.get());
    };
    here.countValues = [&](int band, std::vector<int64_t>& counts, int64_t& lowest) {
        return current->CountValues(band, counts, lowest);
    };
    here.count = [&](int k, const std::vector<std::optional<tessera::StretchRange>>& stretches,
                     const tessera::SavedTreatment& fitted)
        -> tessera::Result<tessera::CodeTally> {
        using R = tessera::Result<tessera::CodeTally>;
        tessera::StreamedJob job(settings);
        const size_t s = static_cast<size_t>(k - 1);
        if (std::optional<JobOutcome> refused =
                LoadBandSet(job, scenes[s], listed[s], nullptr, stretches, progress))
            return R::Failure(refused->message);
        if (const tessera::Status taken = job.TakeSavedSegmentation(fitted); !taken)
            return R::Failure(taken.message);
        if (const tessera::Status segmented = job.FinishSegmentation(); !segmented)
            return R::Failure(segmented.message);
        if (const tessera::Status counted = job.CountCodes(); !counted)
            return R::Failure(counted.message);
        tessera::CodeTally tally;
        tally.pixelCount = job.PixelCount();
        if (job.Table().Sparse()) tally.held = job.Table().Held();
        return R::Of(std::move(tally));
    };
    const ScenePasses& run = passes ? *passes : here;

    // Pass 1: every scene read with its own stretches; the histograms too, which are final
    // when no band takes its stretch from its values.
    tessera::SceneFit fit(n);
    std::vector<bool> counted(static_cast<size_t>(n), false);  // bands stretched at percentiles
    const auto readScene = [&](size_t k, bool first) -> std::optional<JobOutcome> {
        const tessera::Result<const tessera::StreamedJob*> read = run.read(
            static_cast<int>(k) + 1,
            first ? std::vector<std::optional<tessera::StretchRange>>{} : fit.Stretches());
        if (!read) return Fail(progress, Refusal::Input, read.message);
        const tessera::StreamedJob& job = **read.value;
        std::vector<std::string> types;
        std::vector<bool> own;
        for (int b = 1; b <= n; ++b) {
            types.push_back(job.DataType(b));
            const BandOptions& choice = *listed[k][b - 1].choice;
            own.push_back(first && !choice.stretch && !choice.percentiles);
            // A stretch at percentiles: of the values of every scene together.
            if (first && choice.percentiles && !choice.stretch && types.back() != "Byte") {
                std::vector<int64_t> counts;
                int64_t lowest = 0;
                if (const tessera::Status counted = run.countValues(b, counts, lowest); !counted)
                    return Fail(progress, Refusal::Input, counted.message);
                fit.AddValueCounts(b, counts, lowest);
                counted[static_cast<size_t>(b - 1)] = true;
            }
        }
        if (const tessera::Status added =
                fit.AddScene(static_cast<int>(k) + 1, job.State(), types, own);
            !added)
            return Fail(progress, Refusal::Input, added.message);
        progress.Say("read scene " + std::to_string(k + 1) + " of " +
                     std::to_string(scenes.size()));
        return std::nullopt;
    };
    for (size_t k = 0; k < scenes.size(); ++k)
        if (std::optional<JobOutcome> refused = readScene(k, true)) return *refused;
    for (int b = 1; b <= n; ++b) {
        if (!counted[static_cast<size_t>(b - 1)]) continue;
        const auto percentiles = tessera::ParsePercentiles(*listed[0][b - 1].choice->percentiles);
        if (!percentiles || !*percentiles) continue;  // refused when the scenes were loaded
        if (const tessera::Status taken = fit.TakePercentiles(b, *percentiles->value); !taken)
            return Fail(progress, Refusal::Input, taken.message);
    }
    // Pass 2, where a band's stretch comes from the scenes' values: every scene again with the
    // stretch of them all, for histograms on one gray scale.
    if (fit.AnyOwnStretch()) {
        fit.RestartHistograms();
        for (size_t k = 0; k < scenes.size(); ++k)
            if (std::optional<JobOutcome> refused = readScene(k, false)) return *refused;
    }
    current.reset();

    tessera::Treatment& treatment = fit.Combined();
    for (int b = 1; b <= n; ++b) {
        const BandOptions& choice = *listed[0][b - 1].choice;
        const tessera::Result<std::vector<int32_t>> limits =
            GrayLimitsOf(choice, treatment.records[b], "band " + std::to_string(b));
        if (!limits) return Fail(progress, Refusal::Input, limits.message);
        if (choice.nativeLimits) treatment.records[b].nativeLimits = *choice.nativeLimits;
        tessera::SetBandSegmentation(treatment, b, choice.type, choice.segments, *limits.value);
    }
    tessera::RandomBelow random;
    if (const tessera::Status segmented = tessera::FinishSegmentation(treatment, random);
        !segmented)
        return Fail(progress, Refusal::Usage, segmented.message);

    // Pass 3: the codes of every scene, counted with the fitted limits.
    const tessera::SavedTreatment fitted = tessera::SavedOf(treatment);
    for (size_t k = 0; k < scenes.size(); ++k) {
        const tessera::Result<tessera::CodeTally> codes =
            run.count(static_cast<int>(k) + 1, fit.Stretches(), fitted);
        if (!codes) return Fail(progress, Refusal::Input, codes.message);
        fit.AddCounts(*codes.value);
        progress.Say("counted the codes of scene " + std::to_string(k + 1));
    }
    const tessera::CodeTally& counts = fit.Counts();
    if (treatment.table.Sparse()) treatment.table.Hold(counts.held);
    treatment.pixelCount = counts.pixelCount;
    const tessera::CodeSelection choice{options.keepAll, options.minPixels};
    if (const std::string refused = TooManyClassesOf(options, treatment.table, treatment.pixelCount);
        !refused.empty())
        return Fail(progress, Refusal::TooManyClasses, refused);
    if (const tessera::Status crossed = tessera::FinishCrossing(
            treatment, random, SelectedOf(options, treatment.table, treatment.pixelCount));
        !crossed)
        return Fail(progress, Refusal::Input, crossed.message);
    treatment.selection = choice;
    progress.Say("saving the treatment " + options.fitTreatment);
    if (const tessera::Status saved = tessera::SaveTreatment(options.fitTreatment, treatment);
        !saved)
        return Fail(progress, Refusal::NotWritten, saved.message);
    JobOutcome done;
    done.treatment = std::move(treatment);
    return done;
}

JobOutcome RunTreatmentOf(const Options& options, StageSink* stages);

JobOutcome FitTreatment(const Options& options, StageSink* stages, const ScenePasses* passes) {
    return Classified(FitTreatmentOf(options, stages, passes), options);
}

JobOutcome RunTreatment(const Options& options, StageSink* stages) {
    return Classified(RunTreatmentOf(options, stages), options);
}

JobOutcome Change(const Options& options) {
    JobOutcome refused;
    tessera::ChangeJob change;
    if (const tessera::Status opened = change.Open(options.change[0], options.change[1]); !opened) {
        refused.kind = KindOfInputRefusal({options.change[0], options.change[1]}, opened.message);
        refused.message = opened.message;
        return refused;
    }
    if (const tessera::Status counted = change.Count(); !counted) {
        refused.kind = Refusal::Input;
        refused.message = counted.message;
        return refused;
    }
    if (const tessera::Status saved = change.Save(options.out); !saved) {
        refused.kind = Refusal::NotWritten;
        refused.message = saved.message;
        return refused;
    }
    return JobOutcome{};
}

// The job words its refusals as the command line does; Run rewords them for the front end.
JobOutcome Run(const Options& options, StageSink* stages) {
    JobOutcome outcome = !options.fitTreatment.empty() ? FitTreatment(options, stages)
                         : !options.change.empty()     ? Change(options)
                                                       : RunTreatment(options, stages);
    outcome.message = InWordsOf(options.speaker, outcome.message);
    return outcome;
}

JobOutcome TellAsRun(JobOutcome outcome, const Options& options) {
    outcome = Classified(std::move(outcome), options);
    outcome.message = InWordsOf(options.speaker, outcome.message);
    return outcome;
}

std::string InWordsOf(Speaker speaker, const std::string& text) {
    if (speaker == Speaker::CommandLine) return text;
    // The layers below the job name the command line's options in a few refusals ("--grid 3:
    // there is no band 3"); each such name, as a whole word, becomes the speaker's.
    std::string worded;
    for (size_t at = 0; at < text.size();) {
        const bool starts = text.compare(at, 2, "--") == 0 &&
                            (at == 0 || std::isspace(static_cast<unsigned char>(text[at - 1])) ||
                             text[at - 1] == '(' || text[at - 1] == '\'');
        size_t end = at + 2;
        while (starts && end < text.size() &&
               (std::islower(static_cast<unsigned char>(text[end])) || text[end] == '-'))
            ++end;
        if (starts && FindOption(text.substr(at, end - at)) != nullptr) {
            worded += Spelled(speaker, text.substr(at, end - at));
            at = end;
        } else {
            worded += text[at++];
        }
    }
    return worded;
}

const char* RefusalName(Refusal kind) {
    switch (kind) {
        case Refusal::None:
            return "done";
        case Refusal::Usage:
            return "usage";
        case Refusal::Input:
            return "input";
        case Refusal::NotFound:
            return "not-found";
        case Refusal::TooManyClasses:
            return "too-many-classes";
        case Refusal::NotWritten:
            return "not-written";
        case Refusal::Cancelled:
            return "cancelled";
    }
    return "input";
}

int ExitStatusOf(Refusal kind) {
    switch (kind) {
        case Refusal::None:
            return 0;
        case Refusal::Usage:
            return 2;
        case Refusal::Input:
        case Refusal::NotFound:
            return 3;
        case Refusal::TooManyClasses:
            return 4;
        case Refusal::NotWritten:
            return 5;
        case Refusal::Cancelled:
            return 130;
    }
    return 3;
}

JobOutcome RunTreatmentOf(const Options& options, StageSink* stages) {
    // The bands are streamed through memory strip by strip: the memory the job needs depends on
    // the strips and the code count, not on the number of pixels.
    tessera::StreamedJob job(SettingsOf(options, options.out));
    Progress progress(stages, options.progress, options.quiet);
    OpenedSet set;
    if (std::optional<JobOutcome> refused = OpenSet(job, options, {}, progress, set))
        return *refused;
    if (const tessera::Status read = job.ReadBands(); !read)
        return Fail(progress, Refusal::Input, read.message);
    progress.Say("read the bands");
    if (std::optional<JobOutcome> refused = Segment(job, options, set, progress)) return *refused;
    progress.Say("crossing");
    if (const tessera::Status counted = job.CountCodes(); !counted)
        return Fail(progress, Refusal::Input, counted.message);
    if (std::optional<JobOutcome> refused = Cross(job, options, set, progress)) return *refused;
    return Finish(job, options, set, progress,
                  [&](const std::string& stem, const std::string& segmented,
                      tessera::ResultFiles files) { return job.Save(stem, segmented, files); });
}

}  // namespace tessera::job
