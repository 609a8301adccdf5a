// tessera-batch interrupted while it saves: SIGINT and SIGTERM remove every temporary file of
// the run, leave the earlier result files as they were, and end the tool with 130 and 143.
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
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "rasterfiles.h"
#include "testfiles.h"

extern char** environ;

namespace {
using testing_support::ListFolder;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

bool IsTemporary(const std::string& name) {
    return name.find(".tmp-") != std::string::npos;
}

bool HasTemporaryOf(const std::string& folder, const std::string& prefix) {
    for (const std::string& name : ListFolder(folder))
        if (name.rfind(prefix, 0) == 0) return true;
    return false;
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
        return RunInterrupted(signal,
                              {"--threads", "2", "--out", out + "/r", "--save-segmented",
                               out + "/s", "--method", "equipopulation", "--segments", "6",
                               "--band", scratch.File("in/band1.raw"), "--band",
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
        if (spawned != 0) return std::nullopt;

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
        for (const std::string& name : earlierNames) {
            const std::string now = ReadText(scratch.File("out/" + name));
            EXPECT_TRUE(now == "earlier " + name + "\n")
                << name << " replaced (now " << now.size() << " bytes)";
        }
        // The code list is written beside the first band, also through a temporary file.
        for (const std::string& name : ListFolder(scratch.File("in")))
            EXPECT_FALSE(IsTemporary(name)) << "temporary file left: " << name;
    }

    ScratchDir scratch;
    std::vector<std::string> earlierNames = {"r.bmp", "r.raw", "r.txt",
                                             "s.bmp", "s.raw", "s.txt"};
};

TEST_F(Interrupt, SigintRemovesTheTemporariesKeepsEarlierResultsAndExitsWith130) {
    CheckInterruptedRun(SIGINT, 130);
}

TEST_F(Interrupt, SigtermRemovesTheTemporariesKeepsEarlierResultsAndExitsWith143) {
    CheckInterruptedRun(SIGTERM, 143);
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
                              {"--out", out + "/r", "--method", "equipopulation", "--segments",
                               "6", "--format", "tif,csv,qml", "--bands", scene},
                              {".r.tif.tmp-", ".r.tif.aux.xml.tmp-", ".r.qml.tmp-"});
    });
}

}  // namespace
