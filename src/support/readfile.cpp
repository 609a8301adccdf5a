#include "support/readfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessera {

ReadOnlyFile::ReadOnlyFile(const std::string& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) refusal_ = std::string("it cannot be opened (") + std::strerror(errno) + ")";
}

ReadOnlyFile::~ReadOnlyFile() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace tessera
