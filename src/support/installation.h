#pragma once
// Where the program's own files are once it is installed. An installed program lies in
// <prefix>/bin, and its files lie under the same prefix, whatever the prefix is (/usr for the
// Debian package, /usr/local or any folder for `cmake --install --prefix`), so that nothing of
// the build folder is needed:
//   <prefix>/lib/tessera            the shared modules (the GDAL module)
//   <prefix>/share/tessera/samples  the sample band set
//   <prefix>/share/doc/tessera      the documentation (README.md, docs/)
// A program run from its build folder finds none of them there and takes the sources' own.
#include <string>

namespace tessera {

enum class InstalledPart { Modules, Samples, Documentation };

// The running program's path (/proc/self/exe, links resolved); empty when it cannot be read.
std::string ProgramPath();

// The part's folder for the program at `programPath`, as installed: the parent of the
// program's folder followed by the part's place ("/usr/bin/tessera", Samples ->
// "/usr/share/tessera/samples"). Empty for an empty path.
std::string InstalledFolder(const std::string& programPath, InstalledPart part);

// The part's folder for the program at `programPath`: its installed folder when that is a
// folder, else `fromSources` when that is one (the sources' samples or documentation, for a
// program run from its build folder), else empty.
std::string FindFolder(const std::string& programPath, InstalledPart part,
                       const std::string& fromSources);

}  // namespace tessera
