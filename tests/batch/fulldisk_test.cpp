// Writes that meet a full disk: a small filesystem of its own (tmpfs, which needs root; the test
// is skipped elsewhere). The earlier file must stay byte for byte, no partial or temporary file
// may remain, and the failure must be reported.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/safefile.h"
#include "testfiles.h"

namespace {
using testing_support::ListFolder;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

class FullDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        disk = scratch.File("disk");
        ASSERT_EQ(0, ::mkdir(disk.c_str(), 0755));
        if (::geteuid() != 0 ||
            ::mount("tessera-test", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
            GTEST_SKIP() << "cannot mount a small filesystem here";
        }
        mounted = true;
    }
    void TearDown() override {
        if (mounted) ::umount(disk.c_str());
    }
    ScratchDir scratch;
    std::string disk;
    bool mounted = false;
};

TEST_F(FullDisk, FailedWriteKeepsTheEarlierFileAndLeavesNothingBehind) {
    const std::string target = disk + "/report.txt";
    WriteText(target, "the earlier report\n");
    const tessera::Status written = tessera::WriteWholeFile(target, std::string(200 * 1024, 'x'));
    EXPECT_FALSE(written.ok);
    EXPECT_NE(std::string::npos, written.message.find(target)) << written.message;
    EXPECT_EQ("the earlier report\n", ReadText(target));
    EXPECT_EQ(std::vector<std::string>{"report.txt"}, ListFolder(disk));
}

TEST_F(FullDisk, BatchToolExitsWithFiveAndKeepsEarlierResults) {
    // Two bands of 300 x 300: the class bitmap alone needs about 91 KB.
    std::vector<uint8_t> pixels(300 * 300);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i % 251);
    WriteBytes(scratch.File("a.raw"), pixels);
    WriteText(scratch.File("a.txt"), "300\n300\n");
    WriteText(disk + "/result.bmp", "earlier bitmap");
    const std::string command = std::string("'") + TESSERA_BATCH + "' --out '" + disk +
                                "/result' --method segmentation --segments 2 --band '" +
                                scratch.File("a.raw") + "' --band '" + scratch.File("a.raw") +
                                "' 2>'" + scratch.File("errors.txt") + "'";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(5, WEXITSTATUS(raw));
    const std::string errors = ReadText(scratch.File("errors.txt"));
    EXPECT_NE(std::string::npos, errors.find(disk + "/result.bmp")) << errors;
    EXPECT_EQ("earlier bitmap", ReadText(disk + "/result.bmp"));
    for (const std::string& name : ListFolder(disk)) {
        EXPECT_EQ(std::string::npos, name.find("tmp")) << "temporary file left: " << name;
    }
}

}  // namespace
