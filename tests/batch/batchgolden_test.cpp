// The golden job through tessera-batch: every file byte for byte.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>

#include "golden.h"
#include "testfiles.h"

namespace {
using testing_support::GoldenCase;
using testing_support::ScratchDir;

TEST(GoldenJob, BatchWritesTheStoredFiles) {
    ScratchDir dir;
    const GoldenCase golden = GoldenCase::Prepare("golden-samples", dir.path());
    ASSERT_EQ(7u, golden.expectedFiles.size());
    std::string command = std::string("'") + TESSERA_BATCH + "'";
    for (const std::string& argument : golden.arguments) command += " '" + argument + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ(std::vector<std::string>{}, golden.Compare(dir.path()));
}

}  // namespace
