#include "support/safefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "support/paths.h"
#include "support/temporaries.h"

namespace tessera {

namespace {

// Messages name the file as the user gave it.
Status WriteFailure(const std::string& path, int error) {
    const std::string reason = error != 0 ? std::strerror(error) : "the data could not be written";
    return Status::Failure("cannot write " + path + ": " + reason);
}

// The permissions a newly created file gets (mkstemp makes its file private); an existing
// target keeps its own.
mode_t ModeForTarget(const std::string& path) {
    struct stat existing;
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        return existing.st_mode & 07777;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// A new temporary file beside `path`, with the permissions the target will have, recorded for
// removal on an interrupt until ForgetTemporary(record); its descriptor, or -1 with errno set.
int MakeTemporary(const std::string& path, std::string& temporary, int& record) {
    const std::string directory = DirectoryOf(path);
    const std::string folder = directory.empty() ? std::string(".") : directory;
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

    const std::string pattern = JoinPath(folder, "." + name + ".tmp-XXXXXX");
    const int fd = CreateRecordedTemporary(pattern, temporary, record);
    if (fd < 0) return -1;
    ::fchmod(fd, ModeForTarget(path));  // best effort: the content matters more than the mode
    return fd;
}

// Renames the finished temporary file over the target; 0, or the errno of the failure.
int RenameOver(const std::string& temporary, const std::string& path) {
    if (::rename(temporary.c_str(), path.c_str()) != 0) return errno;
    // Make the rename itself durable; a failure here no longer endangers either file.
    const std::string directory = DirectoryOf(path);
    const std::string folder = directory.empty() ? std::string(".") : directory;
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return 0;
}

// Large enough that a raster or a long text goes out in few system calls.
constexpr size_t kWriteBufferSize = size_t{1} << 20;

}  // namespace

std::string FileBehind(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat status;
        if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
        std::vector<char> target(static_cast<size_t>(PATH_MAX) + 1);
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size() - 1);
        if (length <= 0) return current;
        const std::string link(target.data(), static_cast<size_t>(length));
        const std::string folder = DirectoryOf(current);
        current = link[0] == '/' || folder.empty() ? link : JoinPath(folder, link);
    }
    return current;  // a loop of links: the write then fails and says so
}

Status WriteFileAtomically(const std::string& given, const std::function<bool(std::FILE*)>& write) {
    if (given.empty()) return Status::Failure("cannot write a file without a name");
    const std::string path = FileBehind(given);

    std::string temporary;
    int record = -1;
    const int fd = MakeTemporary(path, temporary, record);
    if (fd < 0) return WriteFailure(given, errno);

    auto giveUp = [&](int error) {
        ::unlink(temporary.c_str());
        ForgetTemporary(record);
        return WriteFailure(given, error);
    };

    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        return giveUp(error);
    }
    // The stream's own buffer would turn a raster into a write call per line.
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kWriteBufferSize]);
    if (buffer) std::setvbuf(file, buffer.get(), _IOFBF, kWriteBufferSize);

    errno = 0;
    bool written = false;
    int error = 0;
    try {
        written = write(file);
        error = errno;
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
    }
    if (written && std::ferror(file)) {
        written = false;
        if (error == 0) error = EIO;
    }
    if (written && std::fflush(file) != 0) {
        written = false;
        error = errno;
    }
    if (written && ::fsync(::fileno(file)) != 0) {
        written = false;
        error = errno;
    }
    if (std::fclose(file) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) return giveUp(error);
    if (const int renameError = RenameOver(temporary, path); renameError != 0)
        return giveUp(renameError);
    ForgetTemporary(record);
    return Status::Ok();
}

Status WriteWholeFile(const std::string& path, const std::string& bytes) {
    return WriteFileAtomically(path, [&bytes](std::FILE* file) {
        return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    });
}

// ----- StagedFile -----

StagedFile::~StagedFile() {
    Discard();
}

void StagedFile::Remember(int error) {
    int expected = 0;
    error_.compare_exchange_strong(expected, error != 0 ? error : EIO);
}

bool StagedFile::Open(const std::string& path) {
    Discard();
    path_ = path;
    target_ = FileBehind(path);
    synced_ = false;
    error_.store(0);
    if (path.empty()) {
        Remember(EINVAL);
        return false;
    }
    fd_ = MakeTemporary(target_, temporary_, record_);
    if (fd_ < 0) {
        Remember(errno);
        return false;
    }
    return true;
}

bool StagedFile::WriteAt(int64_t offset, const void* bytes, size_t size) {
    const struct iovec piece { const_cast<void*>(bytes), size };
    return WriteAt(offset, &piece, 1);
}

bool StagedFile::WriteAt(int64_t offset, const struct iovec* pieces, int count) {
    if (fd_ < 0 || Failed()) return false;
    // pwritev may stop early (a signal, a nearly full disk): go on from where it stopped.
    std::vector<struct iovec> rest(pieces, pieces + count);
    size_t first = 0;
    while (first < rest.size()) {
        const int batch = static_cast<int>(std::min<size_t>(rest.size() - first, IOV_MAX));
        const ssize_t written = ::pwritev(fd_, rest.data() + first, batch, offset);
        if (written < 0) {
            if (errno == EINTR) continue;
            Remember(errno);
            return false;
        }
        if (written == 0) {
            Remember(ENOSPC);
            return false;
        }
        offset += written;
        size_t left = static_cast<size_t>(written);
        while (first < rest.size() && left >= rest[first].iov_len) left -= rest[first++].iov_len;
        if (left > 0) {
            rest[first].iov_base = static_cast<char*>(rest[first].iov_base) + left;
            rest[first].iov_len -= left;
        }
    }
    return true;
}

void StagedFile::Sync() {
    if (fd_ < 0 || Failed() || synced_) return;
    if (::fsync(fd_) != 0) Remember(errno);
    synced_ = true;
}

void StagedFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
    ForgetTemporary(record_);
}

bool StagedFile::Ready() {
    Sync();
    if (fd_ >= 0) {
        if (::close(fd_) != 0 && !Failed()) Remember(errno);
        fd_ = -1;
    }
    return !Failed() && !temporary_.empty();
}

Status StagedFile::Commit() {
    if (path_.empty()) return Status::Failure("cannot write a file without a name");
    Sync();
    if (fd_ >= 0) {
        if (::close(fd_) != 0 && !Failed()) Remember(errno);
        fd_ = -1;
    }
    if (!Failed()) {
        if (const int renameError = RenameOver(temporary_, target_); renameError != 0) {
            Remember(renameError);
        } else {
            temporary_.clear();
            ForgetTemporary(record_);
        }
    }
    if (!Failed()) return Status::Ok();
    Discard();
    return WriteFailure(path_, error_.load());
}

StagedName::~StagedName() {
    Discard();
}

bool StagedName::Open(const std::string& path) {
    Discard();
    path_ = path;
    target_ = FileBehind(path);
    const int fd = MakeTemporary(target_, temporary_, record_);
    if (fd < 0) {
        temporary_.clear();
        return false;
    }
    ::close(fd);
    return true;
}

void StagedName::Discard() {
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    ForgetTemporary(record_);
}

Status StagedName::Commit() {
    if (temporary_.empty()) return WriteFailure(path_.empty() ? "a file" : path_, 0);
    const int error = RenameOver(temporary_, target_);
    if (error != 0) {
        Discard();
        return WriteFailure(path_, error);
    }
    temporary_.clear();
    ForgetTemporary(record_);
    return Status::Ok();
}

// ----- FileSet -----

namespace {

// A target of a set: the earlier file kept aside under `aside` (empty when there was none), and
// whether the set's file (or its absence) has taken the target's name.
struct Replaced {
    std::string target, aside;
    bool placed = false;
};

// Keeps the file at `target` aside under a new hidden name in its folder (`aside`, left empty
// when there is no such file): a second link, so that the target's name never goes missing to a
// reader while the new file is renamed over it, else (a file system without links) the file
// moved there. 0, or the errno of the failure (a folder where a file is to go).
int KeepAside(const std::string& target, std::string& aside) {
    aside.clear();
    struct stat status;
    if (::lstat(target.c_str(), &status) != 0) return errno == ENOENT ? 0 : errno;
    const std::string directory = DirectoryOf(target);
    const size_t slash = target.find_last_of('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string pattern =
        JoinPath(directory.empty() ? std::string(".") : directory, "." + name + ".old-XXXXXX");
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkstemp(buffer.data());
    if (fd < 0) return errno;
    ::close(fd);
    if (S_ISREG(status.st_mode) && ::unlink(buffer.data()) == 0 &&
        ::link(target.c_str(), buffer.data()) == 0) {
        aside.assign(buffer.data());
        return 0;
    }
    if (::rename(target.c_str(), buffer.data()) != 0) {
        const int error = errno;
        ::unlink(buffer.data());
        return error;
    }
    aside.assign(buffer.data());
    return 0;
}

// Gives the target back what it held before the set.
void PutBack(const Replaced& replaced) {
    if (!replaced.aside.empty()) {
        ::rename(replaced.aside.c_str(), replaced.target.c_str());
    } else if (replaced.placed) {
        ::unlink(replaced.target.c_str());
    }
}

}  // namespace

void FileSet::Add(const std::string& path, StagedFile& file) {
    entries_.push_back({path, &file, nullptr});
}

void FileSet::Add(const std::string& path, StagedName& file) {
    entries_.push_back({path, nullptr, &file});
}

void FileSet::Remove(const std::string& path) {
    entries_.push_back({path, nullptr, nullptr});
}

void FileSet::AddUnwritten(const std::string& path) {
    entries_.push_back({path, nullptr, nullptr, true});
}

bool FileSet::Commit(std::vector<std::string>& failed) {
    const auto discardAll = [this] {
        for (Entry& entry : entries_) {
            if (entry.file) entry.file->Discard();
            if (entry.name) entry.name->Discard();
        }
        entries_.clear();
    };
    for (Entry& entry : entries_) {
        const bool ready = entry.failed ? false
                           : entry.file ? entry.file->Ready()
                           : entry.name ? !entry.name->temporary_.empty()
                                        : true;
        if (!ready) failed.push_back(entry.path);
    }
    if (!failed.empty()) {
        discardAll();
        return false;
    }

    std::vector<Replaced> replaced;
    replaced.reserve(entries_.size());
    std::vector<std::string> folders;
    {
        const InterruptsHeldBack held;
        for (Entry& entry : entries_) {
            std::string* temporary = entry.file   ? &entry.file->temporary_
                                     : entry.name ? &entry.name->temporary_
                                                  : nullptr;
            int* record = entry.file   ? &entry.file->record_
                          : entry.name ? &entry.name->record_
                                       : nullptr;
            Replaced& place = replaced.emplace_back();
            place.target = entry.file   ? entry.file->target_
                           : entry.name ? entry.name->target_
                                        : FileBehind(entry.path);
            int error = KeepAside(place.target, place.aside);
            if (error == 0 && temporary == nullptr && !place.aside.empty() &&
                ::unlink(place.target.c_str()) != 0 && errno != ENOENT)
                error = errno;  // a file the set removes, kept aside by a link
            if (error == 0 && temporary != nullptr) {
                if (::rename(temporary->c_str(), place.target.c_str()) != 0) {
                    error = errno;
                } else {
                    temporary->clear();
                    ForgetTemporary(*record);
                }
            }
            if (error != 0) {
                failed.push_back(entry.path);
                for (auto back = replaced.rbegin(); back != replaced.rend(); ++back) PutBack(*back);
                discardAll();
                return false;
            }
            place.placed = true;
            const std::string directory = DirectoryOf(place.target);
            const std::string folder = directory.empty() ? std::string(".") : directory;
            if (std::find(folders.begin(), folders.end(), folder) == folders.end())
                folders.push_back(folder);
        }
        for (const Replaced& place : replaced)
            if (!place.aside.empty()) ::unlink(place.aside.c_str());
    }
    // Make the renames durable; a failure here no longer endangers either set.
    for (const std::string& folder : folders) {
        const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        if (folderFd >= 0) {
            ::fsync(folderFd);
            ::close(folderFd);
        }
    }
    entries_.clear();
    return true;
}

}  // namespace tessera
