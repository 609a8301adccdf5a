#pragma once
// The kinds of refusal a job ends with. Each front end maps a kind once: the batch tool to its
// exit status, Python to an exception type, the window to a caption; the sentence goes with it.
#include <string>

namespace tessera::job {

enum class Refusal {
    None,            // done
    Usage,           // a choice that cannot be (a value out of range, options that clash)
    Input,           // an input the treatment cannot take (a band, a mask, a treatment file)
    NotFound,        // a file the job names does not exist
    TooManyClasses,  // the selection keeps more codes than classes can be
    NotWritten,      // a result file could not be written; none was put in place
    Cancelled,       // stopped by its caller; nothing changed
};

// The kind's name as --describe and the Python module give it ("not-found").
const char* RefusalName(Refusal kind);

// The exit status of tessera-batch for a kind: 0 done, 2 usage, 3 input or not found,
// 4 too many classes, 5 not written, 130 cancelled.
int ExitStatusOf(Refusal kind);

}  // namespace tessera::job
