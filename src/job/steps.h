#pragma once
// The steps of a treatment job, shared by the job that runs its passes here (Run) and the one
// whose passes other processes run over windows of the scene (WindowedJob): the band set
// opened with every check made before a pixel is read, then what is decided between the
// passes. Each step answers the refusal to give, or none.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bands/bandfiles.h"
#include "bands/bandgrid.h"
#include "job/job.h"
#include "workspace/streamedjob.h"
#include "workspace/treatmentfile.h"

namespace tessera::job {

bool IsBitmapName(const std::string& path);
bool IsRawName(const std::string& path);
bool Exists(const std::string& path);

// One band of the job, with the file and the reader it comes from.
struct JobBand {
    std::string path;
    tessera::BandFileType type = tessera::BandFileType::Raw;
    int rasterBand = 1;
    const BandOptions* choice = nullptr;
};
// FILE:K is band K of FILE only when K is a whole number and FILE exists; otherwise the colon
// belongs to the file's name.
JobBand RasterBandNamed(const std::string& path, const BandOptions& choice);
// Every band the options name, those of a --bands file one after another; refused with the
// text that names the file.
tessera::Result<std::vector<JobBand>> BandsOf(const Options& options);
// A definition band's gray limits: those typed, or each native limit as the gray level whose
// native range holds it, by the band's stretch; refused naming the band (`which`).
tessera::Result<std::vector<int32_t>> GrayLimitsOf(const BandOptions& choice,
                                                   const tessera::BandRecord& record,
                                                   const std::string& which);

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

// A refusal, on a line of its own after the progress line.
JobOutcome Fail(Progress& progress, Refusal kind, const std::string& text);

// The streamed job's threads and the memory it keeps decoded values in; values beyond that
// memory go to TMPDIR, else beside `output`.
tessera::StreamSettings SettingsOf(const Options& options, const std::string& output);

// The bands of one band set loaded into `job`: the grid they are brought onto, then each band
// with its stretch, scale and nodata value (those of `saved`, or the stretch of
// `stretches[b - 1]` where given, else the options'), then the masks.
std::optional<JobOutcome> LoadBandSet(
    tessera::StreamedJob& job, const Options& options, const std::vector<JobBand>& bands,
    const tessera::SavedTreatment* saved,
    const std::vector<std::optional<tessera::StretchRange>>& stretches, Progress& progress);

// The code table of bands cut into segmentCounts[1..n] (entry 0 unused) over a scene of
// `size`, before a pixel is read: refused as usage past 2^64 codes, and as input when this
// machine's memory may not hold its sparse count.
std::optional<JobOutcome> CodeTableRefusal(const std::vector<int32_t>& segmentCounts,
                                           tessera::ImageSize size);

// A treatment job's band set: the saved treatment it applies and its bands.
struct OpenedSet {
    std::optional<tessera::SavedTreatment> saved;
    std::vector<JobBand> bands;
};
// The treatment to apply read, the bands listed and loaded into `job` (LoadBandSet).
std::optional<JobOutcome> OpenSet(tessera::StreamedJob& job, const Options& options,
                                  const std::vector<std::optional<tessera::StretchRange>>& stretches,
                                  Progress& progress, OpenedSet& set);
// Once pass 1's sums are taken: the place the asked files need, then each band's segmentation
// (the saved treatment's, or the options') and the code table.
std::optional<JobOutcome> Segment(tessera::StreamedJob& job, const Options& options,
                                  const OpenedSet& set, Progress& progress);
// Once pass 2's counts are taken: the classes (the saved treatment's, or the codes the options
// select, at most 250).
std::optional<JobOutcome> Cross(tessera::StreamedJob& job, const Options& options,
                                const OpenedSet& set, Progress& progress);
// Pass 3: the result files the options ask for, written by `save` (the stem, the segmented
// band's stem, the files), then the treatment saved; the job's outcome.
using SaveStep = std::function<tessera::Status(const std::string& stem,
                                               const std::string& segmentedStem,
                                               tessera::ResultFiles files)>;
JobOutcome Finish(tessera::StreamedJob& job, const Options& options, const OpenedSet& set,
                  Progress& progress, const SaveStep& save);

}  // namespace tessera::job
