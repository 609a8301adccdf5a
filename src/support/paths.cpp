#include "support/paths.h"

namespace tessera {

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string ReplaceExtension(const std::string& path, const std::string& extension) {
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    // A dot in a folder name, or the leading dot of a hidden file's name, starts no extension.
    if (dot == std::string::npos || dot <= nameStart) return path + extension;
    return path.substr(0, dot) + extension;
}

namespace {
bool HasExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    // A dot in a folder name, or the leading dot of a hidden file's name, starts no extension.
    return dot != std::string::npos && dot > nameStart;
}
}  // namespace

std::string SegmentedNameFor(const std::string& bandPath) {
    if (bandPath.empty()) return {};
    return ReplaceExtension(bandPath, "") + "_segmented";
}

std::string DefaultExtension(const std::string& path, const std::string& extension) {
    return HasExtension(path) ? path : path + extension;
}

std::string BaseNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

}  // namespace tessera
