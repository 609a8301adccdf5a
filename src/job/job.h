#pragma once
// The whole job of the program without a window: load, segment, cross, save, with the same
// rules and the same files as the interactive program. The batch tool and the Python module
// run it; each front end only turns its own language into Options and a refusal's kind into
// its own (an exit status, an exception).
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>
#include <string>

#include "image/rawfiles.h"
#include "job/choices.h"
#include "job/refusal.h"
#include "workspace/passes.h"
#include "workspace/streamedjob.h"
#include "workspace/treatmentfile.h"

namespace tessera::job {

// Where a job tells its stages; by default nowhere. A stage that rewrites a terminal line ends
// it with EndLine before a refusal is told.
class StageSink {
  public:
    virtual ~StageSink() = default;
    virtual void Say(const std::string& stage) = 0;
    virtual void EndLine() {}
};

// What a job ends with: the kind of refusal (Refusal::None once done) and its sentence, and
// once done the treatment it ran (codes, counts, classes and their colours) and the scene's
// size.
struct JobOutcome {
    Refusal kind = Refusal::None;
    std::string message;
    Treatment treatment;
    ImageSize size;
    bool Done() const { return kind == Refusal::None; }
};

// Runs the job the options describe: a treatment (or one applied), --fit-treatment, or
// --change. Stages go to `stages` when given (and when the options or the scene's size ask
// for them). Its refusals name the options as the options' speaker does; those of the three
// below name them as the command line does.
JobOutcome Run(const Options& options, StageSink* stages = nullptr);

// The treatment of one band set, written as the options ask.
JobOutcome RunTreatment(const Options& options, StageSink* stages = nullptr);

// The passes over each scene that a fit needs, run elsewhere (by the tasks of a cluster); by
// default a streamed job here runs them. Scenes are numbered from 1, and each is a job of the
// fit's choices with its own band set.
struct ScenePasses {
    // Pass 1 of scene k with these stretches (its own where none is given): the scene's job
    // with every band's statistics taken, which lives until the next call.
    std::function<tessera::Result<const tessera::StreamedJob*>(
        int scene, const std::vector<std::optional<tessera::StretchRange>>& stretches)>
        read;
    // The pixels of each value of band b of the scene last read (StreamedJob::CountValues).
    std::function<tessera::Status(int band, std::vector<int64_t>& counts, int64_t& lowest)>
        countValues;
    // The code counts (codes 0..N of the fitted segmentation; of a sparse table, the codes
    // held and their counts) of scene k read with these stretches.
    std::function<tessera::Result<tessera::CodeTally>(
        int scene, const std::vector<std::optional<tessera::StretchRange>>& stretches,
        const tessera::SavedTreatment& fitted)>
        count;
};

// --fit-treatment: the treatment fitted on every scene, written to its file; once done, the
// fitted treatment (with the summed code counts). The scenes' passes run here, or through
// `passes` when given.
JobOutcome FitTreatment(const Options& options, StageSink* stages = nullptr,
                        const ScenePasses* passes = nullptr);

// --change A B: the change from class map A to class map B, written as STEM's files.
JobOutcome Change(const Options& options);

// The file and band a band's name gives, as --band takes it: FILE:K is band K of the raster
// FILE when FILE exists; rasterBand 0 for a raw file or a bitmap (named by their extensions).
struct BandNamed {
    std::string path;
    int rasterBand = 0;
};
BandNamed BandOfName(const std::string& name);

// An outcome as Run tells it: a refusal of the input that names a missing file becomes a file
// not found, and the sentence names the options as the options' speaker does.
JobOutcome TellAsRun(JobOutcome outcome, const Options& options);

// A refusal's sentence with the options it names as `speaker` names them.
std::string InWordsOf(Speaker speaker, const std::string& text);

// A refusal's sentence on one line: the core words its messages for message boxes, with line
// breaks and blanks around them, which a command line or an exception does not want.
std::string OneLine(const std::string& text);

// The refusal of a selection that keeps `kept` codes of `codeCount`, more than 250 classes.
std::string TooManyClassesText(const Options& options, int64_t kept,
                               const std::string& codeCount);
// The refusal of the selection the options ask for over a table and its counts (empty when
// it keeps no more classes than allowed), and the codes 1..K it keeps: one rule for a dense
// table and a sparse one, which decides by the table's size where the rule speaks of every
// code.
std::string TooManyClassesOf(const Options& options, const tessera::CodeTable& table,
                             const std::vector<int64_t>& pixelCount);
std::vector<int32_t> SelectedOf(const Options& options, const tessera::CodeTable& table,
                                const std::vector<int64_t>& pixelCount);
// The refusal of the bitmap, which holds a class in a byte, for more than 250 classes; empty
// when it is not asked for or the classes fit.
std::string WideFormatsText(const Options& options, int classCount);

}  // namespace tessera::job
