#pragma once
// A treatment job whose passes other processes run, each over a window of the scene's lines:
// the tasks of a cluster. The driver opens the job as Run opens it (every check and refusal
// made before a pixel is read) and decides between the passes from the windows' sums, taken
// as Run takes its own passes; each task opens the same job with the stretches the driver
// decided and reads its window through it (StreamedJob::ReadWindow and the steps beside it).
// Every sum is of whole numbers, or a least and greatest value, so the result does not depend
// on how the scene is cut into windows, nor on which process read which.
#include <memory>
#include <optional>
#include <vector>

#include "job/job.h"
#include "job/steps.h"
#include "workspace/streamedjob.h"

namespace tessera::job {

class WindowedJob {
  public:
    // The band set the options name, opened; `stretches[b - 1]`, where given, is band b's
    // stretch as the driver decided it. Null, with `refused` told as Run tells it, when refused.
    static std::unique_ptr<WindowedJob> Open(
        const Options& options, const std::vector<std::optional<tessera::StretchRange>>& stretches,
        JobOutcome& refused);
    WindowedJob(const WindowedJob&) = delete;
    WindowedJob& operator=(const WindowedJob&) = delete;

    tessera::StreamedJob& Job() { return job_; }
    const tessera::StreamedJob& Job() const { return job_; }
    const Options& Choices() const { return options_; }
    tessera::ImageSize Size() const { return job_.Size(); }
    // The first line of every window, then the scene's line count: windows of whole rows of the
    // files' blocks, about `lines` lines each (0: a row of blocks, or some 4 Mi pixels of a
    // file stored line by line).
    std::vector<int> Windows(int lines = 0) const;

    // The driver's steps, each once the sums they need are in; refusals as Run tells them.
    // Pass 1's sums: the bands' statistics, then their segmentation and code table.
    JobOutcome TakeStatistics(const tessera::BandStatistics& statistics);
    // Pass 2's sums: the pixels of every code, then the classes.
    JobOutcome TakeCounts(tessera::CodeTally tally);
    // Pass 3: the files the options ask for, from the windows' classes (SaveWindows), then the
    // treatment saved; the job's outcome, with its treatment once done.
    JobOutcome Save(const std::vector<int>& windows,
                    const tessera::StreamedJob::WindowClasses& next);

  private:
    explicit WindowedJob(const Options& options);
    JobOutcome Told(JobOutcome outcome) const;
    Options options_;
    tessera::StreamedJob job_;
    Progress progress_;
    OpenedSet set_;
};

}  // namespace tessera::job
