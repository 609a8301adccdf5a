#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/numbers.h"
#include "support/paths.h"
#include "support/randombelow.h"
#include "support/safefile.h"
#include "support/temporaries.h"
#include "testfiles.h"

using namespace tessera;
using testing_support::ListFolder;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteText;

// ----- Leading integers of edit texts -----

TEST(LeadingInteger, ReadsLikeAtol) {
    EXPECT_EQ(LeadingInteger("  -12abc"), -12);
    EXPECT_EQ(LeadingInteger("+7"), 7);
    EXPECT_EQ(LeadingInteger("42"), 42);
    EXPECT_EQ(LeadingInteger("\t\n 5 6"), 5);
    EXPECT_EQ(LeadingInteger("007"), 7);
    EXPECT_EQ(LeadingInteger("3.9"), 3);
}

TEST(LeadingInteger, IsZeroWithoutDigits) {
    EXPECT_EQ(LeadingInteger(""), 0);
    EXPECT_EQ(LeadingInteger("abc"), 0);
    EXPECT_EQ(LeadingInteger("-"), 0);
    EXPECT_EQ(LeadingInteger("+ 5"), 0);
    EXPECT_EQ(LeadingInteger("   "), 0);
    EXPECT_EQ(LeadingInteger("x12"), 0);
}

TEST(LeadingInteger, SaturatesLongDigitStrings) {
    EXPECT_EQ(LeadingInteger("2147483647"), INT32_MAX);
    EXPECT_EQ(LeadingInteger("2147483648"), INT32_MAX);
    EXPECT_EQ(LeadingInteger("-2147483648"), INT32_MIN);
    EXPECT_EQ(LeadingInteger("-2147483649"), INT32_MIN);
    EXPECT_EQ(LeadingInteger("99999999999999999999999999999999"), INT32_MAX);
    EXPECT_EQ(LeadingInteger("-99999999999999999999999999999999"), INT32_MIN);

    EXPECT_EQ(LeadingInteger64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(LeadingInteger64("9223372036854775808"), INT64_MAX);
    EXPECT_EQ(LeadingInteger64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(LeadingInteger64("-99999999999999999999999999"), INT64_MIN);
    EXPECT_EQ(LeadingInteger64(" 12345678901x"), int64_t{12345678901});
}

// ----- The pseudo-random sequence -----

// Worked by hand with M = 346 * 2^32 + 20021 (c = 346 high, d = 20021 low):
//   s0 = 1
//   s1 = M + 1 = 346 * 2^32 + 20022                        -> high 32 bits 346
//   s2 = s1 * M + 1 mod 2^64 = (346*20021 + 20022*346) * 2^32 + 20022*20021 + 1
//      = (6 927 266 + 6 927 612) * 2^32 + 400 860 463      (no carry: < 2^32)
//      -> high 32 bits 13 854 878
//   s3: A = 13 854 878, B = 400 860 463
//      high = A*d + B*c + floor((B*d + 1) / 2^32)  mod 2^32
//           = 277 388 512 438 + 138 697 720 198 + floor(8 025 627 329 724 / 4 294 967 296)
//           = 277 388 512 438 + 138 697 720 198 + 1 868 = 416 086 234 504
//      mod 2^32 = 416 086 234 504 - 96 * 4 294 967 296 = 3 769 374 088
//      top bit cleared: 3 769 374 088 - 2 147 483 648 = 1 621 890 440
TEST(RandomBelow, FirstDrawsFollowTheRecurrence) {
    RandomBelow random;
    EXPECT_EQ(random.State(), 1u);
    EXPECT_EQ(random(1000), 346u);
    EXPECT_EQ(random.State(), (uint64_t{346} << 32) + 20022u);
    EXPECT_EQ(random(1000), 878u);  // 13 854 878 mod 1000
    EXPECT_EQ(random(0x7fffffffu), 1621890440u);
    EXPECT_EQ(random.DrawCount(), 3u);
}

TEST(RandomBelow, ValueIsTakenModuloTheBound) {
    RandomBelow random;
    EXPECT_EQ(random(256), 346u % 256u);  // 90
    EXPECT_EQ(random(7), 13854878u % 7u);
    EXPECT_EQ(random(1), 0u);
}

TEST(RandomBelow, ZeroBoundMakesNoDraw) {
    RandomBelow random;
    EXPECT_EQ(random(0), 0u);
    EXPECT_EQ(random(0), 0u);
    EXPECT_EQ(random.DrawCount(), 0u);
    EXPECT_EQ(random.State(), 1u);
    // The sequence then starts where it would have started.
    EXPECT_EQ(random(1000), 346u);
}

// ----- Paths -----

TEST(Paths, DirectoryOf) {
    EXPECT_EQ(DirectoryOf("/a/b/c.raw"), "/a/b");
    EXPECT_EQ(DirectoryOf("c.raw"), "");
    EXPECT_EQ(DirectoryOf("/c.raw"), "/");
    EXPECT_EQ(DirectoryOf("rel/c.raw"), "rel");
}

TEST(Paths, ReplaceExtension) {
    EXPECT_EQ(ReplaceExtension("/a/b.c/band.raw", ".txt"), "/a/b.c/band.txt");
    EXPECT_EQ(ReplaceExtension("/a/b.c/band", ".txt"), "/a/b.c/band.txt");
    EXPECT_EQ(ReplaceExtension("band.x.raw", ".txt"), "band.x.txt");
    EXPECT_EQ(ReplaceExtension("/a/.hidden", ".txt"), "/a/.hidden.txt");
    EXPECT_EQ(ReplaceExtension("band.raw", ""), "band");
}

TEST(Paths, DefaultExtensionOnlyWhereThereIsNone) {
    EXPECT_EQ(DefaultExtension("/a/t", ".json"), "/a/t.json");
    EXPECT_EQ(DefaultExtension("/a.b/t", ".json"), "/a.b/t.json");  // a folder's dot
    EXPECT_EQ(DefaultExtension("/a/.t", ".json"), "/a/.t.json");    // a hidden name's dot
    EXPECT_EQ(DefaultExtension("t", ".json"), "t.json");
    EXPECT_EQ(DefaultExtension("/a/t.json", ".json"), "/a/t.json");
    EXPECT_EQ(DefaultExtension("/a/t.txt", ".json"), "/a/t.txt");
}

TEST(Paths, SegmentedNameForABand) {
    EXPECT_EQ(SegmentedNameFor("/a/b.c/band3.raw"), "/a/b.c/band3_segmented");
    EXPECT_EQ(SegmentedNameFor("/a/scene.tif"), "/a/scene_segmented");
    EXPECT_EQ(SegmentedNameFor("/a.b/band"), "/a.b/band_segmented");
    EXPECT_EQ(SegmentedNameFor(""), "");
}

TEST(Paths, JoinPath) {
    EXPECT_EQ(JoinPath("/a", "b.txt"), "/a/b.txt");
    EXPECT_EQ(JoinPath("/a/", "b.txt"), "/a/b.txt");
    EXPECT_EQ(JoinPath("", "b.txt"), "b.txt");
    EXPECT_EQ(JoinPath("/", "b.txt"), "/b.txt");
}

// ----- Whole-or-nothing writing -----

TEST(AtomicWrite, CreatesAndReplacesTheTarget) {
    ScratchDir dir;
    const std::string target = dir.File("out.txt");
    ASSERT_TRUE(WriteWholeFile(target, "first\n").ok);
    EXPECT_EQ(ReadText(target), "first\n");
    ASSERT_TRUE(WriteWholeFile(target, "second, longer\n").ok);
    EXPECT_EQ(ReadText(target), "second, longer\n");
    ASSERT_TRUE(WriteWholeFile(target, "").ok);
    EXPECT_EQ(ReadText(target), "");
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"out.txt"});
}

TEST(AtomicWrite, ALinkKeepsPointingAtTheTargetItReplaces) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.File("data"));
    WriteText(dir.File("data/target.txt"), "old");
    std::filesystem::create_symlink("data/target.txt", dir.File("link.txt"));
    ASSERT_TRUE(WriteWholeFile(dir.File("link.txt"), "new").ok);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.txt")));
    EXPECT_EQ("new", ReadText(dir.File("data/target.txt")));
    EXPECT_EQ((std::vector<std::string>{"target.txt"}), ListFolder(dir.File("data")));
    EXPECT_EQ((std::vector<std::string>{"data", "link.txt"}), ListFolder(dir.path()));
}

TEST(AtomicWrite, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    ScratchDir dir;
    const std::string target = dir.File("keep.bmp");
    WriteText(target, "old content");
    const Status status = WriteFileAtomically(target, [](std::FILE* file) {
        std::fputs("half of the new", file);
        return false;  // as when a write call reports an error
    });
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.message.rfind("cannot write " + target + ": ", 0), 0u) << status.message;
    EXPECT_EQ(ReadText(target), "old content");
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"keep.bmp"});
}

TEST(AtomicWrite, TargetInAMissingFolderIsRefusedWithItsName) {
    ScratchDir dir;
    const std::string target = dir.File("no-such-folder/out.raw");
    const Status status = WriteWholeFile(target, "bytes");
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.message, "cannot write " + target + ": No such file or directory");
    EXPECT_TRUE(ListFolder(dir.path()).empty());
}

TEST(AtomicWrite, TargetBelowARegularFileIsRefused) {
    ScratchDir dir;
    WriteText(dir.File("plain"), "not a folder");
    const std::string target = dir.File("plain/out.raw");
    const Status status = WriteWholeFile(target, "bytes");
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.message, "cannot write " + target + ": Not a directory");
    EXPECT_EQ(ReadText(dir.File("plain")), "not a folder");
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"plain"});
}

TEST(AtomicWrite, TargetThatIsAFolderIsLeftAlone) {
    ScratchDir dir;
    const std::string target = dir.File("folder");
    ASSERT_TRUE(WriteWholeFile(dir.File("folder.keep"), "x").ok);  // a neighbour, untouched
    std::filesystem::create_directory(target);
    WriteText(target + "/inside.txt", "inside");
    const Status status = WriteWholeFile(target, "bytes");
    EXPECT_FALSE(status.ok);
    EXPECT_EQ(status.message.rfind("cannot write " + target + ": ", 0), 0u) << status.message;
    EXPECT_EQ(ReadText(target + "/inside.txt"), "inside");
    EXPECT_EQ(ListFolder(dir.path()), (std::vector<std::string>{"folder", "folder.keep"}));
}

// ----- Temporaries removed on an interrupt -----

TEST(Interrupted, RemovesTheOpenTemporaryAfterManySavesAndKeepsEveryTarget) {
    ScratchDir dir;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGINT, SIG_DFL);  // not ignored, whatever the test was started from
        RemoveTemporariesOnInterrupt();
        // More files than the 64 records: each must give its record back, whether it was
        // put in place or given up.
        for (int k = 0; k < 80; ++k) {
            if (!WriteWholeFile(dir.File("written.txt"), "written\n").ok) ::_exit(1);
            StagedFile staged, dropped;
            if (!staged.Open(dir.File("staged.raw")) || !staged.WriteAt(0, "staged\n", 7) ||
                !staged.Commit().ok || !dropped.Open(dir.File("dropped.raw")))
                ::_exit(1);
            StagedName named, droppedName;
            if (!named.Open(dir.File("named.tif")) || !named.Commit().ok ||
                !droppedName.Open(dir.File("dropped.tif")))
                ::_exit(1);
        }
        StagedFile open;
        if (!open.Open(dir.File("open.raw"))) ::_exit(1);
        ::raise(SIGINT);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(ListFolder(dir.path()),
              (std::vector<std::string>{"named.tif", "staged.raw", "written.txt"}));
    EXPECT_EQ(ReadText(dir.File("staged.raw")), "staged\n");
    EXPECT_EQ(ReadText(dir.File("written.txt")), "written\n");
}

// ----- Sets of files put in place together -----

namespace {

// A set of staged files under `names` in `dir`, each holding "new NAME".
struct StagedSet {
    std::vector<std::unique_ptr<StagedFile>> files;
    FileSet set;
    StagedSet(const ScratchDir& dir, const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            files.push_back(std::make_unique<StagedFile>());
            const std::string text = "new " + name;
            EXPECT_TRUE(files.back()->Open(dir.File(name)));
            EXPECT_TRUE(files.back()->WriteAt(0, text.data(), text.size()));
            set.Add(dir.File(name), *files.back());
        }
    }
};

}  // namespace

TEST(FileSets, PutEveryFileInPlaceAndLeaveNothingAside) {
    ScratchDir dir;
    WriteText(dir.File("a.bmp"), "old a.bmp");
    WriteText(dir.File("b.txt"), "old b.txt");
    WriteText(dir.File("c.qml"), "old c.qml");
    StagedSet staged(dir, {"a.bmp", "b.txt", "d.raw"});
    staged.set.Remove(dir.File("c.qml"));
    std::vector<std::string> failed;
    EXPECT_TRUE(staged.set.Commit(failed));
    EXPECT_EQ(failed, std::vector<std::string>{});
    EXPECT_EQ(ListFolder(dir.path()), (std::vector<std::string>{"a.bmp", "b.txt", "d.raw"}));
    for (const char* name : {"a.bmp", "b.txt", "d.raw"})
        EXPECT_EQ(ReadText(dir.File(name)), std::string("new ") + name);
}

TEST(FileSets, ARenameThatFailsInTheMiddlePutsBackEveryFileBeforeIt) {
    ScratchDir dir;
    WriteText(dir.File("a.bmp"), "old a.bmp");
    WriteText(dir.File("c.qml"), "old c.qml");
    // A folder where the third file is to go: the first two are in place when it fails.
    std::filesystem::create_directory(dir.File("r.txt"));
    WriteText(dir.File("r.txt/inside"), "inside");
    StagedSet staged(dir, {"a.bmp", "new.raw", "r.txt", "z.csv"});
    staged.set.Remove(dir.File("c.qml"));
    std::vector<std::string> failed;
    EXPECT_FALSE(staged.set.Commit(failed));
    EXPECT_EQ(failed, std::vector<std::string>{dir.File("r.txt")});
    EXPECT_EQ(ListFolder(dir.path()), (std::vector<std::string>{"a.bmp", "c.qml", "r.txt"}));
    EXPECT_EQ(ReadText(dir.File("a.bmp")), "old a.bmp");
    EXPECT_EQ(ReadText(dir.File("c.qml")), "old c.qml");
    EXPECT_EQ(ReadText(dir.File("r.txt/inside")), "inside");
}

TEST(FileSets, AFileThatCouldNotBeWrittenKeepsTheWholeSetOut) {
    ScratchDir dir;
    WriteText(dir.File("a.bmp"), "old a.bmp");
    StagedSet staged(dir, {"a.bmp"});
    StagedFile unwritable;
    EXPECT_FALSE(unwritable.Open(dir.File("no-such-folder/b.txt")));
    staged.set.Add(dir.File("no-such-folder/b.txt"), unwritable);
    std::vector<std::string> failed;
    EXPECT_FALSE(staged.set.Commit(failed));
    EXPECT_EQ(failed, std::vector<std::string>{dir.File("no-such-folder/b.txt")});
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"a.bmp"});
    EXPECT_EQ(ReadText(dir.File("a.bmp")), "old a.bmp");

    // A file of the save named as failed before the commit keeps the others out too.
    StagedSet again(dir, {"a.bmp", "c.raw"});
    std::vector<std::string> earlier{dir.File("a.tif")};
    EXPECT_FALSE(again.set.Commit(earlier));
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"a.bmp"});
}

TEST(FileSets, TheSameNameTwiceEndsWithTheLastAndRollsBackToTheFirst) {
    ScratchDir dir;
    WriteText(dir.File("r.bmp"), "old r.bmp");
    {
        StagedSet staged(dir, {"r.bmp", "r.bmp"});
        std::vector<std::string> failed;
        EXPECT_TRUE(staged.set.Commit(failed));
        EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"r.bmp"});
    }
    WriteText(dir.File("r.bmp"), "old r.bmp");
    std::filesystem::create_directory(dir.File("x.txt"));
    StagedSet staged(dir, {"r.bmp", "r.bmp", "x.txt"});
    std::vector<std::string> failed;
    EXPECT_FALSE(staged.set.Commit(failed));
    EXPECT_EQ(ReadText(dir.File("r.bmp")), "old r.bmp");
    EXPECT_EQ(ListFolder(dir.path()), (std::vector<std::string>{"r.bmp", "x.txt"}));
}

// ----- Interrupts held back while a set is put in place -----

namespace {

// Runs `body` in a child process; its exit status, or 1000 + the signal that ended it.
int InChild(const std::function<void()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

}  // namespace

TEST(HeldInterrupts, ASignalInTheHoldIsActedOnWhenItEnds) {
    ScratchDir dir;
    // With the tool's handler: the temporaries are removed and the program ends with 130, but
    // only once the hold has ended (the file written in it is there).
    EXPECT_EQ(130, InChild([&] {
                  ::signal(SIGINT, SIG_DFL);
                  RemoveTemporariesOnInterrupt();
                  StagedFile open;
                  if (!open.Open(dir.File("staged.raw"))) ::_exit(1);
                  {
                      const InterruptsHeldBack held;
                      ::raise(SIGINT);
                      WriteText(dir.File("in-the-hold.txt"), "written");
                  }
                  ::_exit(2);  // not reached
              }));
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"in-the-hold.txt"});

    // With the default action (a program without a handler): it ends by the signal, after the
    // hold; the program's own action is back once the hold has ended.
    EXPECT_EQ(1000 + SIGTERM, InChild([&] {
                  ::signal(SIGTERM, SIG_DFL);
                  {
                      const InterruptsHeldBack held;
                      ::raise(SIGTERM);
                      WriteText(dir.File("default.txt"), "written");
                  }
                  ::_exit(2);
              }));
    EXPECT_EQ(ReadText(dir.File("default.txt")), "written");

    // A handler of the program's own (Python's) is called once, after the hold.
    static std::atomic<int> calls{0};
    EXPECT_EQ(0, InChild([&] {
                  ::signal(SIGINT, [](int) { ++calls; });
                  {
                      const InterruptsHeldBack held;
                      ::raise(SIGINT);
                      if (calls != 0) ::_exit(3);
                  }
                  if (calls != 1) ::_exit(4);
                  struct sigaction now {};
                  ::sigaction(SIGINT, nullptr, &now);
                  if (now.sa_handler == SIG_DFL) ::_exit(5);
              }));
}
