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

// The name proposed for a saved segmented band of the file `bandPath`: the file's path without
// its extension, followed by "_segmented" ("/a/b3.raw" -> "/a/b3_segmented"); empty for an
// empty path.
std::string SegmentedNameFor(const std::string& bandPath);

// The path with `extension` added when its last component has none, as ReplaceExtension sees
// extensions: "/a.b/t" -> "/a.b/t.json", ".t" -> ".t.json"; "/a/t.txt" stays as it is.
std::string DefaultExtension(const std::string& path, const std::string& extension);

// "folder/name", or name alone when folder is empty.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace tessera
