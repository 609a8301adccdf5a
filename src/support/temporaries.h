#pragma once
#include <string>

namespace tessera {

// The temporary files of the writes in progress, recorded so that an interrupted program can
// remove them. A file is recorded from the moment it exists until its name is gone (renamed
// over its target or removed); targets are never recorded, so an interrupt removes nothing but
// temporaries and every earlier file stays as it was. Recording is a few atomic operations: a
// program that never asks for the removal pays nothing for it.

// Creates a new file from `pattern` (a name ending in "XXXXXX", as mkstemp takes it), with its
// name recorded; answers the descriptor, the file's name in `name` and its record in `record`,
// or -1 with errno set. When every record is in use the file is made unrecorded (`record` -1).
int CreateRecordedTemporary(const std::string& pattern, std::string& name, int& record);

// The recorded file's name is gone (renamed or removed): an interrupt leaves it alone. `record`
// becomes -1; a record of -1 is ignored. Call it after the rename or the removal, never
// before, so that no moment leaves the file unrecorded.
void ForgetTemporary(int& record);

// From now on SIGINT and SIGTERM remove every recorded temporary file and end the program with
// status 128 + the signal's number (130 and 143). A signal ignored when the program started
// (a job started in the background by a shell) stays ignored.
void RemoveTemporariesOnInterrupt();

// SIGINT and SIGTERM held back while it lives, in every thread: a signal that comes meanwhile is
// acted on once it ends, as the program would have acted on it (removing the temporaries and
// ending as RemoveTemporariesOnInterrupt has it, ending by the signal, or a program's own handler
// such as Python's). The renames that put a set of files in place run under it, so that no
// interrupt cuts them in the middle. One hold at a time: a second waits for the first.
class InterruptsHeldBack {
  public:
    InterruptsHeldBack();
    ~InterruptsHeldBack();
    InterruptsHeldBack(const InterruptsHeldBack&) = delete;
    InterruptsHeldBack& operator=(const InterruptsHeldBack&) = delete;
};

}  // namespace tessera
