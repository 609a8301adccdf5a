#pragma once
// Golden jobs: tests/data/<case>/ holds the batch tool's arguments (`args`, one a line, @DIR@
// standing for the scratch folder) and every file the job writes (`expected/`). Both front
// ends run the job on the sample bands copied into a scratch folder and must write the same
// bytes.
#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct GoldenCase {
    std::string name;
    std::vector<std::string> arguments;  // @DIR@ replaced by the scratch folder
    std::vector<std::string> expectedFiles;

    // Reads tests/data/<name>/ and copies the sample bands into `dir`.
    static GoldenCase Prepare(const std::string& name, const std::string& dir);
    // One line per file of expected/ that `dir` lacks or holds with other bytes; empty when
    // every file matches. `elsewhere`: files of expected/ that a front end writes under another
    // name (the interactive program's code list), with the path they are written to.
    std::vector<std::string> Compare(
        const std::string& dir, const std::map<std::string, std::string>& elsewhere = {}) const;
};

}  // namespace testing_support
