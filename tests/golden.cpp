#include "golden.h"

#include <filesystem>
#include <fstream>

#include "testfiles.h"

namespace fs = std::filesystem;

namespace testing_support {

namespace {
const std::string kMark = "@DIR@";

std::string Substitute(std::string text, const std::string& dir) {
    for (size_t at = text.find(kMark); at != std::string::npos; at = text.find(kMark, at)) {
        text.replace(at, kMark.size(), dir);
        at += dir.size();
    }
    return text;
}
}  // namespace

GoldenCase GoldenCase::Prepare(const std::string& name, const std::string& dir) {
    GoldenCase golden;
    golden.name = name;
    const fs::path root = fs::path(TESSERA_TEST_DATA) / name;
    std::ifstream args(root / "args");
    for (std::string line; std::getline(args, line);) {
        if (!line.empty()) golden.arguments.push_back(Substitute(line, dir));
    }
    for (const auto& entry : fs::directory_iterator(root / "expected"))
        golden.expectedFiles.push_back(entry.path().filename().string());
    const fs::path samples = fs::path(TESSERA_TEST_DATA) / ".." / ".." / "samples";
    for (const auto& entry : fs::directory_iterator(samples)) {
        fs::copy_file(entry.path(), fs::path(dir) / entry.path().filename(),
                      fs::copy_options::overwrite_existing);
    }
    return golden;
}

std::vector<std::string> GoldenCase::Compare(
    const std::string& dir, const std::map<std::string, std::string>& elsewhere) const {
    std::vector<std::string> faults;
    const fs::path expected = fs::path(TESSERA_TEST_DATA) / name / "expected";
    for (const std::string& file : expectedFiles) {
        const auto moved = elsewhere.find(file);
        const std::string written = moved != elsewhere.end() ? moved->second : dir + "/" + file;
        if (!FileExists(written)) {
            faults.push_back(file + ": not written");
        } else if (Substitute(ReadText((expected / file).string()), dir) != ReadText(written)) {
            faults.push_back(file + ": differs from " + (expected / file).string());
        }
    }
    return faults;
}

}  // namespace testing_support
