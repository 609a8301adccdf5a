#pragma once
// A shared module of the program's (a library it opens with dlopen when it first needs it,
// such as the GDAL module), found wherever the program or the library holding the core may
// have been put.
//
// A module named FILE is looked for, in this order:
//  1. the path in the environment variable given (e.g. TESSERA_GDAL_MODULE), when it is set
//     and not empty; then nowhere else;
//  2. beside the shared object that holds the core, when the core is not in the program itself
//     (a Python extension, found through dladdr): FILE. An extension installed with its own
//     module takes that one, not one of a program installed on the same machine;
//  3. beside the program (the folder of /proc/self/exe): FILE;
//  4. in the program's installed module folder (support/installation.h):
//     <prefix>/lib/tessera/FILE for a program in <prefix>/bin;
//  5. the path the build gave it (the module in the build tree);
//  6. FILE alone, through the dynamic loader's own search (LD_LIBRARY_PATH, the cache, ...).
// A path of 2 to 5 that holds no file is passed over.
#include <string>
#include <vector>

#include "support/status.h"

namespace tessera {

struct ModuleLookup {
    std::string file;               // FILE: "libtessera_gdal.so"
    std::string variable;           // the environment variable that names it
    std::string built;              // the path the build gave it; may be empty
    const void* anchor = nullptr;   // an address in the core, for the object that holds it
};

// The places 1 to 6 above, in order (only 1 when the variable is set); paths not checked.
std::vector<std::string> ModuleCandidates(const ModuleLookup& lookup);

// The module opened (RTLD_NOW | RTLD_LOCAL; never closed): the first candidate that opens.
// Refused with dlerror()'s text: that of the first file that is there but does not open, or
// else that of the loader's own search.
Result<void*> OpenModule(const ModuleLookup& lookup);

// The address of `name` in a module OpenModule opened; null when it has none.
void* ModuleSymbol(void* module, const char* name);

}  // namespace tessera
