#include "fuzzfiles.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fuzzing {

const std::string& ScratchFolder() {
    static const std::string folder = [] {
        // tmpfs where there is one: the targets write and sync files at every run.
        const std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        std::string path = (base / ("tessera-fuzz-" + std::to_string(getpid()))).string();
        std::filesystem::create_directories(path);
        return path;
    }();
    // Removed when the process ends normally.
    static const struct Cleanup {
        ~Cleanup() {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    } cleanup;
    return folder;
}

std::string WriteScratch(const std::string& name, const uint8_t* data, size_t size) {
    const std::string path = ScratchFolder() + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
    return path;
}

}  // namespace fuzzing
