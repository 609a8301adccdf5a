// The whole job without a window: load, segment, cross, save, with the same rules and the same
// files as the interactive program.
#include "job/job.h"

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

bool HasExtension(const std::string& path, const char* wanted) {
    if (path.size() < 4) return false;
    std::string extension = path.substr(path.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == wanted;
}

bool IsBitmapName(const std::string& path) {
    return HasExtension(path, ".bmp");
}

bool IsRawName(const std::string& path) {
    return HasExtension(path, ".raw");
}

bool Exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

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

// A definition band's gray limits: those typed, or each native limit as the gray level whose
// native range holds it, by the band's stretch; refused naming the band (`which`).
tessera::Result<std::vector<int32_t>> GrayLimitsOf(const BandOptions& choice,
                                                   const tessera::BandRecord& record,
                                                   const std::string& which) {
    using R = tessera::Result<std::vector<int32_t>>;
    if (!choice.nativeLimits) return R::Of(choice.limits.value_or(std::vector<int32_t>{}));
    const auto& stretch = record.stretch;
    R grays = tessera::GrayLimitsOfNative(
        *choice.nativeLimits,
        stretch ? std::optional<tessera::StretchRange>(stretch->range) : std::nullopt,
        stretch ? stretch->ValueType() : "Byte");
    if (!grays) return R::Failure(which + ": --native-limits: " + grays.message);
    return grays;
}

// One band of the job, with the file and the reader it comes from.
struct JobBand {
    std::string path;
    tessera::BandFileType type = tessera::BandFileType::Raw;
    int rasterBand = 1;
    const BandOptions* choice = nullptr;
};

// FILE:K is band K of FILE only when K is a whole number and FILE exists; otherwise the colon
// belongs to the file's name.
JobBand RasterBandNamed(const std::string& path, const BandOptions& choice) {
    JobBand band{path, tessera::BandFileType::Raster, 1, &choice};
    const size_t colon = path.find_last_of(':');
    if (colon == std::string::npos) return band;
    const std::string digits = path.substr(colon + 1);
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; }))
        return band;
    const std::string file = path.substr(0, colon);
    if (!Exists(file)) return band;
    band.path = file;
    band.rasterBand = std::stoi(digits);
    return band;
}

// Every band the options name, those of a --bands file one after another; refused with the
// text that names the file.
tessera::Result<std::vector<JobBand>> BandsOf(const Options& options) {
    using R = tessera::Result<std::vector<JobBand>>;
    std::vector<JobBand> bands;
    for (const BandOptions& choice : options.bands) {
        if (choice.allBands) {
            const tessera::Result<int> count = tessera::CountRasterBands(choice.path);
            if (!count) return R::Failure(count.message);
            for (int k = 1; k <= *count.value; ++k)
                bands.push_back({choice.path, tessera::BandFileType::Raster, k, &choice});
        } else if (IsBitmapName(choice.path)) {
            bands.push_back({choice.path, tessera::BandFileType::Bitmap, 1, &choice});
        } else if (IsRawName(choice.path)) {
            bands.push_back({choice.path, tessera::BandFileType::Raw, 1, &choice});
        } else {
            bands.push_back(RasterBandNamed(choice.path, choice));
        }
    }
    const int count = static_cast<int>(bands.size());
    if (count < 2 || count > tessera::kMaximumBands) {
        std::string files;
        for (const BandOptions& choice : options.bands)
            if (choice.allBands) files += (files.empty() ? "" : ", ") + choice.path;
        return R::Failure("give 2 to 10 bands, not " + std::to_string(count) +
                          (files.empty() ? "" : " (counting every band of " + files + ")"));
    }
    return R::Of(std::move(bands));
}

// The mask bands and their rules, each checked against the bands' size and place.
tessera::Result<std::shared_ptr<tessera::PixelMask>> OpenMasks(
    const std::vector<MaskOptions>& masks, tessera::ImageSize size,
    const std::optional<tessera::Georeference>& place, const tessera::GridPlan& plan) {
    using R = tessera::Result<std::shared_ptr<tessera::PixelMask>>;
    auto all = std::make_shared<tessera::PixelMask>();
    for (const MaskOptions& mask : masks) {
        const BandOptions unused;
        JobBand file = IsBitmapName(mask.path) ? JobBand{mask.path, tessera::BandFileType::Bitmap}
                       : IsRawName(mask.path)  ? JobBand{mask.path, tessera::BandFileType::Raw}
                                               : RasterBandNamed(mask.path, unused);
        tessera::Result<tessera::BandReader> band =
            tessera::OpenMaskBand(file.path, file.type, file.rasterBand, size, place,
                                  plan.active ? plan : tessera::PlanOntoGrid(size, place));
        if (!band) return R::Failure(band.message);
        tessera::Result<tessera::MaskRule> rule = tessera::Result<tessera::MaskRule>::Of({});
        if (mask.rule == MaskOptions::Rule::Bits) rule = tessera::BitsRule(mask.list);
        if (mask.rule == MaskOptions::Rule::Values) rule = tessera::ValuesRule(mask.list);
        if (!rule) return R::Failure(band.value->Refusal("as a mask, " + rule.message));
        all->Add(std::move(*band.value), *rule.value,
                 tessera::MaskName(file.path, file.type, file.rasterBand));
    }
    return R::Of(std::move(all));
}

// The stages of the job, told to the front end's sink: every stage when asked (--progress),
// none when told to be quiet, and by default only those of a large scene.
class Progress {
  public:
    Progress(StageSink* sink, bool on, bool never) : sink_(never ? nullptr : sink), on_(on) {}
    ~Progress() { EndLine(); }
    void Say(const std::string& text) {
        if (on_ && sink_) sink_->Say(text);
    }
    // Ends a rewritten line, before a refusal is told or at the end.
    void EndLine() {
        if (sink_) sink_->EndLine();
    }
    void Enable() { on_ = true; }

  private:
    StageSink* sink_;
    bool on_;
};

// Progress is worth printing only where a step takes a noticeable time.
constexpr int64_t kLargeScenePixels = int64_t{4} << 20;

// The streamed job's threads and the memory it keeps decoded values in; values beyond that
// memory go to TMPDIR, else beside `output`.
tessera::StreamSettings SettingsOf(const Options& options, const std::string& output) {
    tessera::StreamSettings settings;
    settings.threads = options.threads;
    if (options.keepMemory >= 0) settings.keptBytes = options.keepMemory << 20;
    const char* temporaries = std::getenv("TMPDIR");
    settings.spillFolder =
        temporaries && *temporaries ? std::string(temporaries) : tessera::DirectoryOf(output);
    if (settings.spillFolder.empty()) settings.spillFolder = ".";
    return settings;
}

// A refusal, on a line of its own after the progress line.
JobOutcome Fail(Progress& progress, Refusal kind, const std::string& text) {
    progress.EndLine();
    JobOutcome refused;
    refused.kind = kind;
    refused.message = text;
    return refused;
}

// The bands of one band set loaded into `job`: the grid they are brought onto, then each band
// with its stretch, scale and nodata value (those of `saved`, or the stretch of `stretches[b - 1]`
// where given, else the options'), then the masks. The refusal to give, or none.
std::optional<JobOutcome> LoadBandSet(
    tessera::StreamedJob& job, const Options& options, const std::vector<JobBand>& bands,
    const tessera::SavedTreatment* saved,
    const std::vector<std::optional<tessera::StretchRange>>& stretches, Progress& progress) {
    const int bandCount = static_cast<int>(bands.size());
    job.BeginBandSet(bandCount);

    // One grid for bands whose grids differ, and the region: each raster band read through
    // the view that brings it there.
    tessera::GridPlan plan;
    const int rasters =
        static_cast<int>(std::count_if(bands.begin(), bands.end(), [](const JobBand& band) {
            return band.type == tessera::BandFileType::Raster;
        }));
    if (options.window || options.windowPixels || options.grid != 0 || rasters >= 2) {
        std::vector<tessera::BandFacts> facts;
        for (const JobBand& band : bands) {
            if (band.type != tessera::BandFileType::Raster) {
                facts.push_back({band.path, 0, {}, std::nullopt});
                continue;
            }
            tessera::Result<tessera::BandFacts> known =
                tessera::FactsOf(band.path, band.rasterBand);
            if (!known) return Fail(progress, Refusal::Input, known.message);
            facts.push_back(std::move(*known.value));
        }
        tessera::GridChoice choice;
        choice.window = options.window;
        choice.windowPixels = options.windowPixels;
        choice.gridBand = options.grid;
        tessera::Result<tessera::GridPlan> planned = tessera::PlanGrid(facts, choice);
        if (!planned) return Fail(progress, Refusal::Input, planned.message);
        plan = std::move(*planned.value);
    }

    // No dialog asks for a missing size; the memory check estimates what the streamed job
    // needs, not the interactive program's whole matrices.
    tessera::BandLoadOptions loading;
    for (int band = 1; band <= bandCount; ++band) {
        const JobBand& file = bands[band - 1];
        const std::string& path = file.path;
        loading.rasterBand = file.rasterBand;
        loading.rasterView = plan.active ? plan.views[band - 1] : std::nullopt;
        // Raw files and bitmaps are cut by their reader.
        loading.window.reset();
        if (file.type != tessera::BandFileType::Raster) loading.window = options.windowPixels;
        loading.stretch = file.choice->stretch;
        if (static_cast<size_t>(band) <= stretches.size() && stretches[band - 1])
            loading.stretch = stretches[band - 1];
        loading.nodata = file.choice->nodata;
        loading.percentiles.reset();
        loading.scaling.reset();
        if (file.choice->scale || file.choice->offset) {
            if (file.choice->scale && *file.choice->scale == 0)
                return Fail(
                    progress, Refusal::Input,
                    tessera::RasterRefusal(path, file.rasterBand,
                                           "--scale 0 would make every physical value one value"));
            loading.scaling =
                tessera::Scaling{file.choice->scale.value_or(1), file.choice->offset.value_or(0)};
        }
        if (file.choice->percentiles) {
            const auto percentiles = tessera::ParsePercentiles(*file.choice->percentiles);
            if (!*percentiles)
                return Fail(progress, Refusal::Input,
                            tessera::RasterRefusal(path, file.rasterBand,
                                                   "--stretch: " + percentiles->message));
            loading.percentiles = *percentiles->value;
        }
        // A stretch that cannot be is refused whatever the band's type.
        if (file.choice->stretch) {
            if (const tessera::Status usable =
                    tessera::CheckStretch(path, file.rasterBand, *file.choice->stretch);
                !usable)
                return Fail(progress, Refusal::Input, usable.message);
        }
        if (saved) {
            // The saved stretch, scale and nodata value, whatever the band's own.
            tessera::TakeSavedLoading(loading, saved->bands[static_cast<size_t>(band - 1)]);
        }
        if (const tessera::Status loaded = job.LoadBand(band, path, file.type, loading); !loaded)
            return Fail(progress, Refusal::Input, loaded.message);
        if (saved) {
            if (const tessera::Status fits = tessera::CheckTreatmentBand(
                    *saved, options.applyTreatment, band, path, job.DataType(band));
                !fits)
                return Fail(progress, Refusal::Input, fits.message);
        }
        const tessera::ImageSize size = job.Size();
        if (band == 1 && int64_t{size.lines} * size.columns * bandCount >= kLargeScenePixels)
            progress.Enable();
        progress.Say("loaded band " + std::to_string(band) + " of " + std::to_string(bandCount));
    }

    if (!options.masks.empty()) {
        const tessera::Result<std::shared_ptr<tessera::PixelMask>> mask =
            OpenMasks(options.masks, job.Size(), job.Place(), plan);
        if (!mask) return Fail(progress, Refusal::Input, mask.message);
        job.SetMask(*mask.value, (*mask.value)->Texts());
        progress.Say("opened the masks");
    }

    return std::nullopt;
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

std::string TooManyClassesText(const Options& options, int64_t kept, int codeCount) {
    if (options.keepAll) {
        return "--keep-all would make " + std::to_string(codeCount) +
               " classes, more than 250; use --min-pixels to eliminate rare codes";
    }
    return std::to_string(kept) + " codes have more than " + std::to_string(options.minPixels) +
           " pixels, more than the 250 classes allowed; give a larger --min-pixels";
}

JobOutcome FitTreatmentOf(const Options& options, StageSink* stages) {
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

    // Pass 1: every scene read with its own stretches; the histograms too, which are final
    // when no band takes its stretch from its values.
    tessera::SceneFit fit(n);
    std::vector<bool> counted(static_cast<size_t>(n), false);  // bands stretched at percentiles
    const auto readScene = [&](size_t k, bool first) -> std::optional<JobOutcome> {
        tessera::StreamedJob job(settings);
        if (std::optional<JobOutcome> refused = LoadBandSet(
                job, scenes[k], listed[k], nullptr,
                first ? std::vector<std::optional<tessera::StretchRange>>{} : fit.Stretches(),
                progress))
            return refused;
        if (const tessera::Status read = job.ReadBands(); !read)
            return Fail(progress, Refusal::Input, read.message);
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
                if (const tessera::Status counted = job.CountValues(b, counts, lowest); !counted)
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
        tessera::StreamedJob job(settings);
        if (std::optional<JobOutcome> refused =
                LoadBandSet(job, scenes[k], listed[k], nullptr, fit.Stretches(), progress))
            return *refused;
        if (const tessera::Status taken = job.TakeSavedSegmentation(fitted); !taken)
            return Fail(progress, Refusal::Input, taken.message);
        if (const tessera::Status segmented = job.FinishSegmentation(); !segmented)
            return Fail(progress, Refusal::Usage, segmented.message);
        if (const tessera::Status counted = job.CountCodes(); !counted)
            return Fail(progress, Refusal::Input, counted.message);
        fit.AddCounts(job.PixelCount());
        progress.Say("counted the codes of scene " + std::to_string(k + 1));
    }
    const std::vector<int64_t>& pixelCount = fit.PixelCount();
    treatment.pixelCount = pixelCount;
    const tessera::CodeSelection choice{options.keepAll, options.minPixels};
    if (const int64_t kept = tessera::CountSelected(pixelCount, choice);
        kept > tessera::kMaximumClassCount)
        return Fail(progress, Refusal::TooManyClasses,
                    TooManyClassesText(options, kept, treatment.table.CodeCount));
    if (const tessera::Status crossed =
            tessera::FinishCrossing(treatment, random, tessera::SelectCodes(pixelCount, choice));
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

JobOutcome FitTreatment(const Options& options, StageSink* stages) {
    return Classified(FitTreatmentOf(options, stages), options);
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
    if (!options.applyConflict.empty())
        return Fail(progress, Refusal::Input, options.applyConflict);
    // A treatment to apply is read first: a file that is none refuses the job before a band
    // is opened.
    std::optional<tessera::SavedTreatment> saved;
    if (!options.applyTreatment.empty()) {
        tessera::Result<tessera::SavedTreatment> read =
            tessera::ReadTreatment(options.applyTreatment);
        if (!read) return Fail(progress, Refusal::Input, read.message);
        saved = std::move(*read.value);
    }
    const tessera::Result<std::vector<JobBand>> listed = BandsOf(options);
    if (!listed) return Fail(progress, Refusal::Input, listed.message);
    const std::vector<JobBand>& bands = *listed.value;
    const int bandCount = static_cast<int>(bands.size());
    if (saved) {
        if (const tessera::Status fits =
                tessera::CheckTreatmentBandCount(*saved, options.applyTreatment, bandCount);
            !fits)
            return Fail(progress, Refusal::Input, fits.message);
    }
    if (std::optional<JobOutcome> refused =
            LoadBandSet(job, options, bands, saved ? &*saved : nullptr, {}, progress))
        return *refused;

    if (const tessera::Status read = job.ReadBands(); !read)
        return Fail(progress, Refusal::Input, read.message);
    progress.Say("read the bands");

    if (options.formats.mapAsked && !job.Place())
        return Fail(progress, Refusal::Input,
                    "--format asks for " + options.out + ".tif or " + options.out +
                        ".csv, but not every band carries a georeference");
    if (options.formats.styleAsked && !job.Place())
        return Fail(
            progress, Refusal::Input,
            "--format asks for " + options.out + ".qml, but not every band carries a georeference");

    if (saved) {
        if (const tessera::Status taken = job.TakeSavedSegmentation(*saved); !taken)
            return Fail(progress, Refusal::Input, taken.message);
    }
    for (int band = 1; band <= bandCount && !saved; ++band) {
        const BandOptions& choice = *bands[band - 1].choice;
        const tessera::Result<std::vector<int32_t>> limits =
            GrayLimitsOf(choice, job.State().records[band],
                         "band " + std::to_string(band) + " (" + bands[band - 1].path + ")");
        if (!limits) return Fail(progress, Refusal::Input, limits.message);
        if (choice.nativeLimits) job.NoteNativeLimits(band, *choice.nativeLimits);
        job.SetSegmentation(band, choice.type, choice.segments, *limits.value);
    }
    progress.Say("segmenting");
    if (const tessera::Status segmented = job.FinishSegmentation(); !segmented) {
        return Fail(progress, Refusal::Usage, segmented.message);
    }

    progress.Say("crossing");
    if (const tessera::Status counted = job.CountCodes(); !counted)
        return Fail(progress, Refusal::Input, counted.message);
    const std::vector<int64_t>& pixelCount = job.PixelCount();
    const int codeCount = job.Table().CodeCount;

    if (saved) {
        // A code keeps the class number and colour the treatment gives it.
        if (const tessera::Status crossed = job.TakeSavedClasses(*saved, options.applyTreatment);
            !crossed)
            return Fail(progress, Refusal::Input, crossed.message);
    } else {
        // The same choices as the code selection dialogs of the interactive program.
        const tessera::CodeSelection choice{options.keepAll, options.minPixels};
        if (const int64_t kept = tessera::CountSelected(pixelCount, choice);
            kept > tessera::kMaximumClassCount) {
            return Fail(progress, Refusal::TooManyClasses,
                        TooManyClassesText(options, kept, codeCount));
        }
        std::vector<int32_t> selected = tessera::SelectCodes(pixelCount, choice);
        job.SetSelectionRule(choice);
        if (const tessera::Status crossed = job.FinishCrossing(std::move(selected)); !crossed) {
            return Fail(progress, Refusal::Input, crossed.message);
        }
    }

    const Formats& formats = options.formats;
    tessera::ResultFiles files;
    files.bitmap = formats.bmp;
    files.report = formats.txt;
    files.raw = formats.raw;
    files.geotiff = formats.tif;
    files.table = formats.csv;
    files.style = formats.qml;
    files.codes = formats.codes;
    std::vector<std::string> written;
    for (const auto& [wanted, extension] : {std::pair{files.bitmap, ".bmp"},
                                            {files.report, ".txt"},
                                            {files.raw, ".raw"},
                                            {files.geotiff && job.Place(), ".tif"},
                                            {files.geotiff && job.Place(), ".tif.aux.xml"},
                                            {files.table && job.Place(), ".csv"},
                                            {files.style && job.Place(), ".qml"},
                                            {files.codes, tessera::kCodeListSuffix}})
        if (wanted) written.push_back(extension);
    std::string saving = "saving " + options.out;
    for (size_t k = 0; k < written.size(); ++k)
        saving += (k == 0 ? "" : k + 1 == written.size() ? " and " : ", ") + written[k];
    progress.Say(saving);
    if (!options.saveSegmented.empty())
        progress.Say("saving the segmented band " + std::to_string(bandCount));
    // The segmented band is kept only once every result file is written, so that a run refused
    // earlier leaves no result file behind.
    if (const tessera::Status written = job.Save(options.out, options.saveSegmented, files);
        !written) {
        return Fail(progress, Refusal::NotWritten, written.message);
    }
    if (!options.saveTreatment.empty()) {
        progress.Say("saving the treatment " + options.saveTreatment);
        if (const tessera::Status kept = tessera::SaveTreatment(options.saveTreatment, job.State());
            !kept)
            return Fail(progress, Refusal::NotWritten, kept.message);
    }
    progress.Say("done: " + std::to_string(job.ClassCount()) + " classes");
    JobOutcome done;
    done.treatment = job.State();
    done.size = job.Size();
    return done;
}

}  // namespace tessera::job
