// tessera-batch on every malformed band file of the corrupt-file folder: exit status 3, one
// line naming the file, and no result written.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "testfiles.h"

namespace {
using testing_support::FileExists;
using testing_support::ReadText;
using testing_support::ScratchDir;

const std::string kCorrupt = std::string(TESSERA_TEST_DATA) + "/corrupt";

TEST(CorruptFilesInBatch, EveryFileIsRefusedAndNothingIsWritten) {
    ScratchDir dir;
    int checked = 0;
    for (const std::string& name : testing_support::ListFolder(kCorrupt)) {
        const std::string extension = name.substr(name.find_last_of('.'));
        if (extension != ".bmp" && extension != ".txt") continue;
        const std::string path = extension == ".bmp"
                                     ? kCorrupt + "/" + name
                                     : kCorrupt + "/" + name.substr(0, name.size() - 4) + ".raw";
        const std::string command = std::string("'") + TESSERA_BATCH + "' --out '" +
                                    dir.File("result") +
                                    "' --method segmentation --segments 2 --band '" + path +
                                    "' --band '" + path + "' 2>'" + dir.File("errors.txt") + "'";
        const int raw = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(raw)) << name;
        EXPECT_EQ(3, WEXITSTATUS(raw)) << name;
        const std::string errors = ReadText(dir.File("errors.txt"));
        EXPECT_EQ(0u, errors.rfind("tessera-batch: ", 0)) << name << ": " << errors;
        EXPECT_EQ(1, std::count(errors.begin(), errors.end(), '\n')) << name << ": " << errors;
        if (name != "24-bit.bmp") {  // the colour bitmap's refusal is the program's fixed text
            EXPECT_NE(std::string::npos, errors.find(name.substr(0, name.size() - 4)))
                << name << ": " << errors;
        }
        EXPECT_FALSE(FileExists(dir.File("result.bmp"))) << name;
        EXPECT_FALSE(FileExists(dir.File("result.txt"))) << name;
        EXPECT_FALSE(FileExists(dir.File("result.raw"))) << name;
        ++checked;
    }
    EXPECT_GE(checked, 20);
}

}  // namespace
