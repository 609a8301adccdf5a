#pragma once
// Per-process scratch files for the fuzz targets (the readers take paths).
#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {
// A folder of this process, made once.
const std::string& ScratchFolder();
// Writes the bytes to ScratchFolder()/name and answers the path.
std::string WriteScratch(const std::string& name, const uint8_t* data, size_t size);
}  // namespace fuzzing
