// The interactive program's save (the core's staged writer, as the program runs it, with the
// interrupt handling its main installs) in a process of its own, sent SIGINT the moment the
// first of its files changes: the folder holds the earlier set of files or the new one, whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/temporaries.h"
#include "testfiles.h"
#include "workspace/workspace.h"

namespace tessera {
namespace {
using testing_support::ListFolder;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

using SetBytes = std::map<std::string, std::vector<uint8_t>>;

SetBytes ReadSet(const std::string& folder, const std::vector<std::string>& names) {
    SetBytes set;
    for (const std::string& name : names) set[name] = ReadBytes(folder + "/" + name);
    return set;
}

// A rename brings another inode under the name.
std::pair<ino_t, off_t> StampOf(const std::string& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) return {0, -1};
    return {status.st_ino, status.st_size};
}

// Two bands on the map, segmented and crossed with `segments` segments each.
void Treat(Workspace& ws, const ScratchDir& dir, int segments) {
    const int lines = 900, columns = 1000;
    ws.BeginBandSet(2);
    for (int band = 1; band <= 2; ++band) {
        std::optional<ByteMatrix> pixels = ByteMatrix::CreateUnfilled(columns, lines);
        ASSERT_TRUE(pixels);
        for (int y = 0; y < lines; ++y)
            for (int x = 0; x < columns; ++x)
                (*pixels)[y][x] = static_cast<uint8_t>((x / (band + 2) + y * band) % 251);
        ASSERT_TRUE(ws.StoreBand(band, dir.File(band == 1 ? "b1.raw" : "b2.raw"),
                                 std::move(*pixels),
                                 BandMarks{{}, std::nullopt,
                                           Georeference{{500000, 30, 0, 4650000, 0, -30}, ""}}));
        ws.SetSegmentation(band, Equipopulation, segments, {});
    }
    ASSERT_TRUE(ws.FinishSegmentation());
    Result<CodeCounts> counts = ws.CountCodes();
    ASSERT_TRUE(counts);
    std::vector<int64_t> pixelCount = counts.value->pixelCount;
    ASSERT_TRUE(ws.FinishCrossing(std::move(*counts.value),
                                  SelectCodes(pixelCount, CodeSelection{true, 0})));
}

TEST(InterruptedSave, SigintAtTheFirstChangedFileLeavesTheEarlierSetOrTheNewOneWhole) {
    ScratchDir dir, earlierFolder, laterFolder, out;
    const std::vector<std::string> names{"r.bmp", "r.csv",         "r.qml", "r.raw",
                                         "r.tif", "r.tif.aux.xml", "r.txt"};
    Workspace earlierWork, ws;
    Treat(earlierWork, dir, 3);
    Treat(ws, dir, 5);
    ASSERT_TRUE(earlierWork.SaveResult(earlierFolder.File("r")));
    ASSERT_TRUE(ws.SaveResult(laterFolder.File("r")));
    const SetBytes earlier = ReadSet(earlierFolder.path(), names);
    const SetBytes later = ReadSet(laterFolder.path(), names);
    for (const std::string& name : names)
        ASSERT_NE(earlier.at(name), later.at(name)) << name << " tells the sets apart";

    int interrupted = 0;
    for (int attempt = 0; attempt < 20 && !HasFailure(); ++attempt) {
        for (const auto& [name, bytes] : earlier) WriteBytes(out.File(name), bytes);
        std::vector<std::pair<ino_t, off_t>> stamps;
        for (const std::string& name : names) stamps.push_back(StampOf(out.File(name)));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::signal(SIGINT, SIG_DFL);
            RemoveTemporariesOnInterrupt();
            ::_exit(ws.SaveResult(out.File("r")) ? 0 : 1);
        }
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        int status = 0;
        bool ended = false, changed = false;
        while (!changed && !ended) {
            for (size_t k = 0; k < names.size() && !changed; ++k)
                changed = StampOf(out.File(names[k])) != stamps[k];
            if (!changed) ended = ::waitpid(child, &status, WNOHANG) == child;
            if (std::chrono::steady_clock::now() > giveUp) {
                ::kill(child, SIGKILL);
                FAIL() << "no file of the save changed";
            }
        }
        if (!ended) {
            ::kill(child, SIGINT);
            ASSERT_EQ(child, ::waitpid(child, &status, 0));
            ++interrupted;
        }
        ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
        EXPECT_TRUE(WEXITSTATUS(status) == 130 || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
        EXPECT_EQ(names, ListFolder(out.path())) << "attempt " << attempt;
        const SetBytes now = ReadSet(out.path(), names);
        if (now != earlier && now != later) {
            std::string mixed;
            for (const std::string& name : names)
                mixed += "\n" + name + (now.at(name) == later.at(name) ? " new" : " old");
            ADD_FAILURE() << "attempt " << attempt << ": a mixed set" << mixed;
        }
    }
    EXPECT_GE(interrupted, 15) << "the saves ended before the signal came";
}

}  // namespace
}  // namespace tessera
