#pragma once
#include <cstdio>
#include <functional>
#include <string>

#include "support/status.h"

namespace tessera {

// Writes a file whole or not at all: the content goes to a temporary file in the target's
// folder, which is flushed, synced and renamed over the target only when every write
// succeeded. On failure the earlier file of that name is left as it was, the temporary file is
// removed, and the message names the target. `write` returns false when a write failed.
Status WriteFileAtomically(const std::string& path, const std::function<bool(std::FILE*)>& write);

// The file a name stands for: a symbolic link is followed (link by link, a relative one from
// its own folder), so that a write replaces the link's target and the link stays. A name that
// is no link, or a link whose target does not exist yet, is the file itself.
std::string FileBehind(const std::string& path);

// Convenience: the whole content as one block of bytes (text files are written as they are,
// with "\n" line ends).
Status WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace tessera
