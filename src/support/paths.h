#pragma once
#include <string>

namespace tessera {

// The directory part of a path: the path without its last component and separator
// ("/a/b/c.raw" -> "/a/b"; "c.raw" -> ""; "/c.raw" -> "/").
std::string DirectoryOf(const std::string& path);

// The path with the extension of its last component replaced (or added when it has none):
// ReplaceExtension("/a/b.c/band.raw", ".txt") -> "/a/b.c/band.txt".
std::string ReplaceExtension(const std::string& path, const std::string& extension);

// The last component of a path ("/a/b/c.raw" -> "c.raw").
std::string BaseNameOf(const std::string& path);

// "folder/name", or name alone when folder is empty.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace tessera
