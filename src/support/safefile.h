#pragma once
#include <sys/types.h>
#include <sys/uio.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

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
    friend class FileSet;
    void Remember(int error);
    // Synced and closed, to be put in place: false when a write failed.
    bool Ready();

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
    friend class FileSet;
    std::string path_;
    std::string target_;
    std::string temporary_;
    int record_ = -1;  // of temporary_, for removal on an interrupt
};

// The files of one save put in place together, all or nothing: a set is read as a whole (a
// report beside the raster it describes). Every file must be staged whole before any is put in
// place; then, with SIGINT and SIGTERM held back (InterruptsHeldBack), each earlier file of a
// target's name is kept aside and the staged file renamed over the target. A rename that fails
// puts back what the renames before it replaced (the earlier files restored, new names
// removed), so that the folder holds the earlier set whole or the new set whole; the earlier
// files kept aside are removed once every file is in place. Only SIGKILL (or a crash) in the
// middle of the renames can leave a mixed set, and files kept aside (".NAME.old-XXXXXX").
class FileSet {
  public:
    // A staged file to go over the target it was opened for; `path` names it in failures. The
    // file must live until Commit.
    void Add(const std::string& path, StagedFile& file);
    void Add(const std::string& path, StagedName& file);
    // An earlier file of this name (a link followed) that the set replaces by none: removed
    // with the set, put back with it.
    void Remove(const std::string& path);
    // A file of the save that could not be written: it keeps the whole set out, and Commit
    // names it in its place among the others.
    void AddUnwritten(const std::string& path);
    // Puts every file in place, or none: false, with the name of every file that could not be
    // written in `failed` (or of the first that could not be put in place). A file of the save
    // named in `failed` already (one that could not even be staged) keeps the whole set out.
    // The staged files are removed either way.
    bool Commit(std::vector<std::string>& failed);

  private:
    struct Entry {
        std::string path;
        StagedFile* file = nullptr;
        StagedName* name = nullptr;
        bool failed = false;
    };
    std::vector<Entry> entries_;
};

}  // namespace tessera
