#pragma once
#include <cstdint>
#include <string>

#include "batch/batchoptions.h"
#include "image/rawfiles.h"
#include "workspace/passes.h"

namespace tessera::batch {

enum ExitStatus { kDone = 0, kUsage = 2, kRefused = 3, kTooManyClasses = 4, kNotWritten = 5 };

// Prints "tessera-batch: " and the text on one line to standard error; answers `status`.
int Fail(int status, const std::string& text);

// Without messages on standard error (the fuzz targets run the job thousands of times).
void SetQuiet(bool quiet);

// Runs the job the options describe; answers the exit status.
int RunJob(const Options& options);

// What a job ends with: its exit status, the refusal when it is not kDone, and once done the
// treatment it ran (codes, counts, classes and their colours) and the scene's size.
struct JobOutcome {
    int status = kDone;
    std::string message;
    Treatment treatment;
    ImageSize size;
};
// RunJob without a word on standard error about a refusal: the caller tells it.
JobOutcome RunJobFor(const Options& options);

// --fit-treatment: the treatment fitted on every scene, written to its file; once done, the
// fitted treatment (with the summed code counts).
JobOutcome FitTreatmentFor(const Options& options);

// The file and band a band's name gives, as --band takes it: FILE:K is band K of the raster
// FILE when FILE exists; rasterBand 0 for a raw file or a bitmap (named by their extensions).
struct BandNamed {
    std::string path;
    int rasterBand = 0;
};
BandNamed BandOfName(const std::string& name);

// The refusal of a selection that keeps `kept` codes of `codeCount`, more than 250 classes.
std::string TooManyClassesText(const Options& options, int64_t kept, int codeCount);

}  // namespace tessera::batch
