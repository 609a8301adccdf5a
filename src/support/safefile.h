#pragma once
#include <sys/types.h>
#include <sys/uio.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "support/status.h"

namespace tessera {

// Writes a file whole or not at all: the content goes to a temporary file in the target's
// folder, which is flushed, synced and renamed over the target only when every write
// succeeded. On failure the earlier file of that name is left as it was, the temporary file is
// removed, and the message names the target. `write` returns false when a write failed.
// While it exists the temporary file is recorded for removal on an interrupt (temporaries.h),
// as are those of StagedFile and StagedName.
Status WriteFileAtomically(const std::string& path, const std::function<bool(std::FILE*)>& write);

// The file a name stands for: a symbolic link is followed (link by link, a relative one from
// its own folder), so that a write replaces the link's target and the link stays. A name that
// is no link, or a link whose target does not exist yet, is the file itself.
std::string FileBehind(const std::string& path);

// Convenience: the whole content as one block of bytes (text files are written as they are,
// with "\n" line ends).
Status WriteWholeFile(const std::string& path, const std::string& bytes);

// The same promise for a file written piece by piece at known offsets, by several threads at
// once (a raster written strip by strip, in any order): the pieces go to a temporary file in
// the target's folder, and Commit() syncs it and renames it over the target. A write that fails
// is remembered and every later one is skipped; Commit() then removes the temporary file and
// reports the failure as WriteFileAtomically does. A link is followed as WriteFileAtomically
// follows it. An uncommitted file is removed when the object dies.
class StagedFile {
  public:
    StagedFile() = default;
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Creates the temporary file; false (remembered for Commit) when it cannot be made.
    bool Open(const std::string& path);
    // Thread-safe; false when this or an earlier write failed.
    bool WriteAt(int64_t offset, const void* bytes, size_t size);
    // Writes the pieces one after another from `offset`.
    bool WriteAt(int64_t offset, const struct iovec* pieces, int count);
    bool Failed() const { return error_.load() != 0; }
    // Waits until the content is on the disk (Commit() does it when it has not been done);
    // several files may sync at once, each from its own thread.
    void Sync();
    // Gives up: the temporary file is removed, the target left as it was.
    void Discard();
    Status Commit();

  private:
    void Remember(int error);

    std::string path_;    // as given: named in messages
    std::string target_;  // the file written: the target of a link
    std::string temporary_;
    int record_ = -1;  // of temporary_, for removal on an interrupt
    int fd_ = -1;
    bool synced_ = false;
    std::atomic<int> error_{0};
};

// The same promise for a file that another library writes by its name (GDAL): Open() makes a
// temporary file beside the target (a link followed) for it to write over, Commit() renames it
// over the target, and an uncommitted file is removed when the object dies.
class StagedName {
  public:
    StagedName() = default;
    ~StagedName();
    StagedName(const StagedName&) = delete;
    StagedName& operator=(const StagedName&) = delete;

    bool Open(const std::string& path);
    const std::string& Temporary() const { return temporary_; }
    void Discard();
    Status Commit();

  private:
    std::string path_;
    std::string target_;
    std::string temporary_;
    int record_ = -1;  // of temporary_, for removal on an interrupt
};

}  // namespace tessera
