#include "support/installation.h"

#include <sys/stat.h>
#include <unistd.h>

#include "support/paths.h"

namespace tessera {

namespace {

// The places under the prefix, as cmake/InstallLayout.cmake declares them for the install
// rules.
const char* PlaceOf(InstalledPart part) {
    switch (part) {
        case InstalledPart::Modules:
            return TESSERA_INSTALL_MODULEDIR;
        case InstalledPart::Samples:
            return TESSERA_INSTALL_SAMPLESDIR;
        case InstalledPart::Documentation:
            return TESSERA_INSTALL_DOCDIR;
    }
    return "";
}

bool IsFolder(const std::string& path) {
    struct stat status {};
    return !path.empty() && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

std::string ProgramPath() {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size()) return {};
    path.resize(static_cast<size_t>(length));
    return path;
}

std::string InstalledFolder(const std::string& programPath, InstalledPart part) {
    if (programPath.empty()) return {};
    const std::string prefix = DirectoryOf(DirectoryOf(programPath));
    return JoinPath(prefix.empty() ? "." : prefix, PlaceOf(part));
}

std::string FindFolder(const std::string& programPath, InstalledPart part,
                       const std::string& fromSources) {
    const std::string installed = InstalledFolder(programPath, part);
    if (IsFolder(installed)) return installed;
    if (IsFolder(fromSources)) return fromSources;
    return {};
}

}  // namespace tessera
