#include "job/windowed.h"

#include <algorithm>
#include <mutex>

namespace tessera::job {

namespace {

// A task reads its window on its own thread and keeps nothing between passes: what later
// passes need travels as the window's gray levels.
tessera::StreamSettings WindowSettings(const Options& options) {
    tessera::StreamSettings settings = SettingsOf(options, options.out);
    settings.threads = 1;
    settings.keptBytes = 0;
    return settings;
}

}  // namespace

WindowedJob::WindowedJob(const Options& options)
    : options_(options), job_(WindowSettings(options)), progress_(nullptr, false, true) {}

std::unique_ptr<WindowedJob> WindowedJob::Open(
    const Options& options, const std::vector<std::optional<tessera::StretchRange>>& stretches,
    JobOutcome& refused) {
    // The tasks of one process open their jobs one at a time: GDAL and PROJ share state while
    // datasets are opened and their coordinate systems compared; reading is each job's own.
    static std::mutex opening;
    const std::lock_guard<std::mutex> one(opening);
    std::unique_ptr<WindowedJob> job(new WindowedJob(options));
    if (!options.fitTreatment.empty() || !options.change.empty()) {
        refused.kind = Refusal::Usage;
        refused.message = "a job shared out in windows is a treatment, not --fit-treatment or "
                          "--change";
        return nullptr;
    }
    if (std::optional<JobOutcome> failed =
            OpenSet(job->job_, job->options_, stretches, job->progress_, job->set_)) {
        refused = job->Told(*failed);
        return nullptr;
    }
    return job;
}

JobOutcome WindowedJob::Told(JobOutcome outcome) const {
    return TellAsRun(std::move(outcome), options_);
}

std::vector<int> WindowedJob::Windows(int lines) const {
    const tessera::ImageSize size = job_.Size();
    int block = 1;
    for (int b = 1; b <= static_cast<int>(set_.bands.size()); ++b)
        if (const tessera::RasterSource* raster = job_.Raster(b))
            block = std::max(block, raster->BlockLines());
    if (lines <= 0)
        lines = block > 1 ? block
                          : static_cast<int>(std::clamp<int64_t>(
                                (int64_t{4} << 20) / std::max(size.columns, 1), 1, size.lines));
    // Whole rows of blocks, so that no block is decoded by two windows.
    const int rows = std::max(1, (lines + block / 2) / block);
    const int step = static_cast<int>(std::min<int64_t>(int64_t{rows} * block, size.lines));
    std::vector<int> windows;
    for (int first = 0; first < size.lines; first += std::max(step, 1)) windows.push_back(first);
    windows.push_back(size.lines);
    return windows;
}

JobOutcome WindowedJob::TakeStatistics(const tessera::BandStatistics& statistics) {
    if (const tessera::Status taken = job_.TakeStatistics(statistics); !taken)
        return Told(Fail(progress_, Refusal::Input, taken.message));
    if (std::optional<JobOutcome> refused = Segment(job_, options_, set_, progress_))
        return Told(*refused);
    return JobOutcome{};
}

JobOutcome WindowedJob::TakeCounts(tessera::CodeTally tally) {
    if (const tessera::Status taken = job_.TakeCounts(std::move(tally)); !taken)
        return Told(Fail(progress_, Refusal::Input, taken.message));
    if (std::optional<JobOutcome> refused = Cross(job_, options_, set_, progress_))
        return Told(*refused);
    return JobOutcome{};
}

JobOutcome WindowedJob::Save(const std::vector<int>& windows,
                             const tessera::StreamedJob::WindowClasses& next) {
    return Told(Finish(job_, options_, set_, progress_,
                       [&](const std::string& stem, const std::string& segmented,
                           tessera::ResultFiles files) {
                           // The files are written here, on the machine's threads.
                           return job_.SaveWindows(stem, segmented, files, windows, next,
                                                   tessera::ThreadsOf(
                                                       SettingsOf(options_, options_.out)));
                       }));
}

}  // namespace tessera::job
