#include "support/safefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "support/paths.h"

namespace tessera {

namespace {

// Messages name the file as the user gave it.
Status Failed(const std::string& path, int error) {
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

    const std::string directory = DirectoryOf(path);
    const std::string folder = directory.empty() ? std::string(".") : directory;
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

    std::string pattern = JoinPath(folder, "." + name + ".tmp-XXXXXX");
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkstemp(buffer.data());
    if (fd < 0) return Failed(given, errno);
    const std::string temporary(buffer.data());

    auto giveUp = [&](int error) {
        ::unlink(temporary.c_str());
        return Failed(given, error);
    };

    ::fchmod(fd, ModeForTarget(path));  // best effort: the content matters more than the mode

    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        return giveUp(error);
    }

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

    if (::rename(temporary.c_str(), path.c_str()) != 0) return giveUp(errno);

    // Make the rename itself durable; a failure here no longer endangers either file.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return Status::Ok();
}

Status WriteWholeFile(const std::string& path, const std::string& bytes) {
    return WriteFileAtomically(path, [&bytes](std::FILE* file) {
        return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    });
}

}  // namespace tessera
