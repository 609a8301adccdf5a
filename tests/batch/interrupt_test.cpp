// tessera-batch interrupted while it saves: SIGINT and SIGTERM remove every temporary file of
// the run, leave the earlier set of result files or the new one whole (never a mix), and end
// the tool with 130 and 143.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "rasterfiles.h"
#include "testfiles.h"

extern char** environ;

namespace {
using testing_support::ListFolder;
using testing_support::ReadBytes;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

bool HasTemporaryOf(const std::string& folder, const std::string& prefix) {
    for (const std::string& name : ListFolder(folder))
        if (name.rfind(prefix, 0) == 0) return true;
    return false;
}

// The files of a result set, by name: the bytes each holds.
using SetBytes = std::map<std::string, std::vector<uint8_t>>;

SetBytes ReadSet(const std::string& folder, const std::vector<std::string>& names) {
    SetBytes set;
    for (const std::string& name : names) set[name] = ReadBytes(folder + "/" + name);
    return set;
}

// What tells a file from the one before it under its name: a rename brings another inode.
struct FileStamp {
    ino_t inode = 0;
    off_t size = -1;
    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) return {};
    return {status.st_ino, status.st_size};
}

class Interrupt : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, ::mkdir(scratch.File("in").c_str(), 0755));
        ASSERT_EQ(0, ::mkdir(scratch.File("out").c_str(), 0755));
        // Two bands of 2000 x 3000: the save writes four rasters of 6 MB each, long enough
        // to be caught in the middle.
        const int lines = 2000, columns = 3000;
        for (int band = 1; band <= 2; ++band) {
            std::vector<uint8_t> pixels(static_cast<size_t>(lines) * columns);
            for (size_t i = 0; i < pixels.size(); ++i)
                pixels[i] =
                    static_cast<uint8_t>((i % columns / (2 + band) + i / columns * band) % 251);
            const std::string stem = scratch.File("in/band" + std::to_string(band));
            WriteBytes(stem + ".raw", pixels);
            WriteText(stem + ".txt", std::to_string(lines) + "\n" + std::to_string(columns) + "\n");
        }
    }

    // The earlier results: a few distinct bytes under every name the run writes.
    void WriteEarlierResults() {
        for (const std::string& name : earlierNames)
            WriteText(scratch.File("out/" + name), "earlier " + name + "\n");
    }

    // Runs the tool, stops it while the class bitmap's temporary file exists, sends `signal`
    // and lets it go on; the exit status, or nothing when the run ended before it could be
    // stopped in the middle of its save.
    std::optional<int> RunInterrupted(int signal) {
        const std::string out = scratch.File("out");
        return RunInterrupted(
            signal,
            {"--threads", "2", "--out", out + "/r", "--save-segmented", out + "/s", "--method",
             "equipopulation", "--segments", "6", "--band", scratch.File("in/band1.raw"), "--band",
             scratch.File("in/band2.raw")},
            {".r.bmp.tmp-"});
    }

    // The same with these arguments, stopped while a temporary file of each of `watched` (the
    // starts of their names) is in out/.
    std::optional<int> RunInterrupted(int signal, const std::vector<std::string>& options,
                                      const std::vector<std::string>& watched) {
        const std::string out = scratch.File("out");
        const auto inTheMiddle = [&] {
            for (const std::string& prefix : watched)
                if (!HasTemporaryOf(out, prefix)) return false;
            return true;
        };
        const pid_t child = Spawn(options);
        if (child <= 0) return std::nullopt;

        // A safety net against a tool that hangs, not a measure of its speed.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        int status = 0;
        bool ended = false;
        while (!inTheMiddle()) {
            if (::waitpid(child, &status, WNOHANG) == child) {
                ended = true;
                break;
            }
            if (std::chrono::steady_clock::now() > giveUp) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                ADD_FAILURE() << "no temporary file appeared";
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        if (ended) return std::nullopt;
        ::kill(child, SIGSTOP);
        if (::waitpid(child, &status, WUNTRACED) != child || !WIFSTOPPED(status))
            return std::nullopt;  // it ended before the stop
        // Stopped: the watched files are not renamed yet, nor is any file saved after them.
        const bool caught = inTheMiddle();
        if (caught) ::kill(child, signal);
        ::kill(child, SIGCONT);
        ::waitpid(child, &status, 0);
        if (!caught) return std::nullopt;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }

    // Starts the tool with these options, its errors going to errors.txt; its pid, or 0.
    pid_t Spawn(const std::vector<std::string>& options) {
        std::vector<std::string> arguments{TESSERA_BATCH};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, scratch.File("errors.txt").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // The tool keeps a signal ignored from its start (a shell's background job ignores
        // SIGINT): it starts here with both signals as they are by default, and unblocked.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t interrupts, none;
        sigemptyset(&interrupts);
        sigaddset(&interrupts, SIGINT);
        sigaddset(&interrupts, SIGTERM);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes, &interrupts);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        pid_t child = 0;
        const int spawned =
            ::posix_spawn(&child, argv[0], &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        EXPECT_EQ(0, spawned);
        if (spawned != 0) return 0;

        return child;
    }

    void CheckInterruptedRun(int signal, int expectedStatus,
                             const std::function<std::optional<int>()>& run = nullptr) {
        std::optional<int> status;
        // A run that ends before it is caught in its save proves nothing: it is run again.
        for (int attempt = 0; attempt < 20 && !status && !HasFailure(); ++attempt) {
            WriteEarlierResults();
            status = run ? run() : RunInterrupted(signal);
        }
        ASSERT_TRUE(status.has_value()) << "the save was never caught in the middle";
        EXPECT_EQ(expectedStatus, *status) << "(1000 + N: killed by signal N)";
        EXPECT_EQ(earlierNames, ListFolder(scratch.File("out")));
        // The earlier set whole, or the new one whole: a signal that comes once the renames
        // have begun is held back until they are done, and the run then ends with the new set.
        size_t kept = 0;
        std::string replaced;
        for (const std::string& name : earlierNames) {
            const std::string now = ReadText(scratch.File("out/" + name));
            if (now == "earlier " + name + "\n")
                ++kept;
            else
                replaced += " " + name + " (now " + std::to_string(now.size()) + " bytes)";
        }
        EXPECT_TRUE(kept == earlierNames.size() || kept == 0)
            << "a mixed set: " << kept << " earlier files kept, replaced:" << replaced;
        // Nothing is written beside the bands, not even for a moment.
        for (const std::string& name : ListFolder(scratch.File("in")))
            EXPECT_TRUE(name.rfind("band", 0) == 0 || name == "scene.tif")
                << "written beside the bands: " << name;
    }

    // Runs the tool to its end; its exit status.
    int RunToEnd(const std::vector<std::string>& options) {
        const pid_t child = Spawn(options);
        int status = 0;
        if (child <= 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    ScratchDir scratch;
    std::vector<std::string> earlierNames = {"r.bmp", "r.raw", "r.txt", "s.bmp", "s.raw", "s.txt"};
};

TEST_F(Interrupt, SigintRemovesTheTemporariesKeepsEarlierResultsAndExitsWith130) {
    CheckInterruptedRun(SIGINT, 130);
}

TEST_F(Interrupt, SigtermRemovesTheTemporariesKeepsEarlierResultsAndExitsWith143) {
    CheckInterruptedRun(SIGTERM, 143);
}

TEST_F(Interrupt, SigintAtTheFirstChangedResultFileLeavesOneSetWhole) {
    // The result, the segmented band and the code list are one set: an interrupt sent the
    // moment the first of its files changes must leave the earlier set or the new one, whole.
    const auto options = [&](const std::string& folder, const char* segments) {
        return std::vector<std::string>{"--threads",
                                        "2",
                                        "--out",
                                        folder + "/r",
                                        "--save-segmented",
                                        folder + "/s",
                                        "--format",
                                        "bmp,txt,raw,codes",
                                        "--method",
                                        "equipopulation",
                                        "--segments",
                                        segments,
                                        "--band",
                                        scratch.File("in/band1.raw"),
                                        "--band",
                                        scratch.File("in/band2.raw")};
    };
    const std::vector<std::string> names{"r.bmp", "r.raw", "r.txt", "r_codes.txt",
                                         "s.bmp", "s.raw", "s.txt"};
    for (const char* folder : {"old", "new"})
        ASSERT_EQ(0, ::mkdir(scratch.File(folder).c_str(), 0755));
    ASSERT_EQ(0, RunToEnd(options(scratch.File("old"), "3")));
    ASSERT_EQ(0, RunToEnd(options(scratch.File("new"), "6")));
    const SetBytes earlier = ReadSet(scratch.File("old"), names);
    const SetBytes later = ReadSet(scratch.File("new"), names);
    ASSERT_NE(earlier.at("r.raw"), later.at("r.raw"));
    ASSERT_NE(earlier.at("r_codes.txt"), later.at("r_codes.txt"));

    const std::string out = scratch.File("out");
    int interrupted = 0;
    for (int attempt = 0; attempt < 20 && !HasFailure(); ++attempt) {
        for (const auto& [name, bytes] : earlier) WriteBytes(out + "/" + name, bytes);
        std::vector<FileStamp> stamps;
        for (const std::string& name : names) stamps.push_back(StampOf(out + "/" + name));
        const pid_t child = Spawn(options(out, "6"));
        ASSERT_GT(child, 0);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        int status = 0;
        bool ended = false, changed = false;
        while (!changed && !ended) {
            for (size_t k = 0; k < names.size() && !changed; ++k)
                changed = !(StampOf(out + "/" + names[k]) == stamps[k]);
            if (!changed) ended = ::waitpid(child, &status, WNOHANG) == child;
            if (std::chrono::steady_clock::now() > giveUp) {
                ::kill(child, SIGKILL);
                FAIL() << "no result file changed";
            }
        }
        if (!ended) {
            ::kill(child, SIGINT);
            ASSERT_EQ(child, ::waitpid(child, &status, 0));
            ++interrupted;
        }
        ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
        EXPECT_TRUE(WEXITSTATUS(status) == 130 || WEXITSTATUS(status) == 0)
            << WEXITSTATUS(status) << ": " << ReadText(scratch.File("errors.txt"));
        EXPECT_EQ(names, ListFolder(out)) << "attempt " << attempt;
        const SetBytes now = ReadSet(out, names);
        if (now != earlier && now != later) {
            std::string mixed;
            for (const std::string& name : names)
                mixed += "\n" + name + (now.at(name) == later.at(name) ? " new" : " old");
            ADD_FAILURE() << "attempt " << attempt << ": a mixed set" << mixed;
        }
    }
    EXPECT_GE(interrupted, 15) << "the runs ended before the signal came";
}

TEST_F(Interrupt, SigtermWhileTheClassGeoTiffIsCopiedKeepsTheEarlierGeoTiffAndItsLegend) {
    // The same pixels on the map: the class GeoTIFF's striped temporary file is given its
    // overviews and copied into the cloud-optimised one while the legend files wait staged.
    const int lines = 2000, columns = 3000;
    std::vector<std::vector<double>> bands(2, std::vector<double>(size_t{lines} * columns));
    for (int band = 1; band <= 2; ++band)
        for (size_t i = 0; i < bands[band - 1].size(); ++i)
            bands[band - 1][i] = (i % columns / (2 + band) + i / columns * band) % 251;
    testing_support::RasterExtras place;
    place.place = testing_support::RasterPlace{{500000, 30, 0, 4650000, 0, -30}, 32631};
    const std::string scene = scratch.File("in/scene.tif");
    ASSERT_TRUE(testing_support::WriteGeoTiff(scene, lines, columns,
                                              testing_support::RasterType::Byte, bands, place));
    earlierNames = {"r.csv", "r.qml", "r.tif", "r.tif.aux.xml"};
    const std::string out = scratch.File("out");
    CheckInterruptedRun(SIGTERM, 143, [&] {
        return RunInterrupted(SIGTERM,
                              {"--out", out + "/r", "--method", "equipopulation", "--segments", "6",
                               "--format", "tif,csv,qml", "--bands", scene},
                              {".r.tif.tmp-", ".r.tif.aux.xml.tmp-", ".r.qml.tmp-"});
    });
}

}  // namespace
