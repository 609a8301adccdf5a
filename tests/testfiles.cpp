#include "testfiles.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testing_support {

ScratchDir::ScratchDir() {
    std::random_device device;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate =
            fs::temp_directory_path() / ("tessera-test-" + std::to_string(device()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch folder");
}

ScratchDir::~ScratchDir() {
    std::error_code error;
    fs::remove_all(path_, error);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool FileExists(const std::string& path) {
    return fs::exists(path);
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace testing_support
