#include "support/sharedmodule.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>

#include "support/installation.h"
#include "support/paths.h"

namespace tessera {

namespace {

// The shared object that holds `address`; empty when it is the program itself.
std::string SharedObjectOf(const void* address) {
    if (address == nullptr) return {};
    Dl_info info{};
    link_map* map = nullptr;
    if (::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
        map == nullptr || map->l_name == nullptr)
        return {};
    return map->l_name;  // empty for the program
}

void AddOnce(std::vector<std::string>& paths, const std::string& path) {
    for (const std::string& known : paths)
        if (known == path) return;
    paths.push_back(path);
}

}  // namespace

std::vector<std::string> ModuleCandidates(const ModuleLookup& lookup) {
    if (!lookup.variable.empty()) {
        const char* named = std::getenv(lookup.variable.c_str());
        if (named != nullptr && *named != '\0') return {named};
    }
    std::vector<std::string> paths;
    const std::string core = SharedObjectOf(lookup.anchor);
    if (!core.empty()) AddOnce(paths, JoinPath(DirectoryOf(core), lookup.file));
    const std::string program = ProgramPath();
    if (!program.empty()) {
        AddOnce(paths, JoinPath(DirectoryOf(program), lookup.file));
        AddOnce(paths, JoinPath(InstalledFolder(program, InstalledPart::Modules), lookup.file));
    }
    if (!lookup.built.empty()) AddOnce(paths, lookup.built);
    AddOnce(paths, lookup.file);
    return paths;
}

Result<void*> OpenModule(const ModuleLookup& lookup) {
    using R = Result<void*>;
    const std::vector<std::string> paths = ModuleCandidates(lookup);
    const bool named = paths.size() == 1 && paths[0] != lookup.file;
    std::string firstFailure;
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        const bool searched = !named && i + 1 == paths.size();
        // A place of the list that holds no file is passed over; the loader's own search and a
        // path named by the variable are always tried.
        if (!named && !searched && ::access(path.c_str(), F_OK) != 0) continue;
        if (void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return R::Of(handle);
        const char* why = ::dlerror();
        if (firstFailure.empty())
            firstFailure = why != nullptr ? why : path + ": cannot be opened";
    }
    return R::Failure(firstFailure);
}

void* ModuleSymbol(void* module, const char* name) {
    return ::dlsym(module, name);
}

}  // namespace tessera
