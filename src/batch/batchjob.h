#pragma once
#include <string>

#include "batch/batchoptions.h"

namespace tessera::batch {

enum ExitStatus { kDone = 0, kUsage = 2, kRefused = 3, kTooManyClasses = 4, kNotWritten = 5 };

// Prints "tessera-batch: " and the text on one line to standard error; answers `status`.
int Fail(int status, const std::string& text);

// Without messages on standard error (the fuzz targets run the job thousands of times).
void SetQuiet(bool quiet);

// Runs the job the options describe; answers the exit status.
int RunJob(const Options& options);

}  // namespace tessera::batch
