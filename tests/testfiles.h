#pragma once
// Scratch folders and small file helpers shared by the tests.
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// A fresh empty folder under the system's temporary folder, removed when the object dies.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::vector<uint8_t> ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);
// Names of the entries of a folder, sorted.
std::vector<std::string> ListFolder(const std::string& path);

}  // namespace testing_support
