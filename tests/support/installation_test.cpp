// Where an installed program finds its modules, samples and documentation: under the prefix it
// lies in, whichever that is, and the sources' own for a program run from its build folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/installation.h"
#include "support/paths.h"
#include "testfiles.h"

using namespace tessera;
using testing_support::ScratchDir;
using testing_support::WriteText;

TEST(InstalledLayout, ThePartsLieUnderTheParentOfTheProgramsFolder) {
    EXPECT_EQ("/usr/lib/tessera", InstalledFolder("/usr/bin/tessera", InstalledPart::Modules));
    EXPECT_EQ("/usr/share/tessera/samples",
              InstalledFolder("/usr/bin/tessera", InstalledPart::Samples));
    EXPECT_EQ("/usr/share/doc/tessera",
              InstalledFolder("/usr/bin/tessera-batch", InstalledPart::Documentation));
    // Another prefix, and a program in the root's own bin.
    EXPECT_EQ("/opt/t 2/share/tessera/samples",
              InstalledFolder("/opt/t 2/bin/tessera", InstalledPart::Samples));
    EXPECT_EQ("/lib/tessera", InstalledFolder("/bin/tessera", InstalledPart::Modules));
    EXPECT_EQ("", InstalledFolder("", InstalledPart::Samples));
}

TEST(InstalledLayout, TheProgramPathIsThisProgramWithItsLinksResolved) {
    const std::string program = ProgramPath();
    ASSERT_FALSE(program.empty());
    EXPECT_EQ('/', program.front());
    EXPECT_EQ("installation_test", BaseNameOf(program));
    EXPECT_EQ(std::filesystem::canonical("/proc/self/exe").string(), program);
}

TEST(InstalledLayout, AnInstalledFolderComesBeforeTheSourcesAndAMissingOneIsPassedOver) {
    ScratchDir dir;
    const std::string program = dir.File("prefix/bin/tessera");
    const std::string sources = dir.File("sources/samples");
    std::filesystem::create_directories(dir.File("prefix/bin"));
    // Neither there: nothing.
    EXPECT_EQ("", FindFolder(program, InstalledPart::Samples, sources));
    EXPECT_EQ("", FindFolder(program, InstalledPart::Samples, ""));
    // The sources' folder, for a program run from its build folder.
    std::filesystem::create_directories(sources);
    EXPECT_EQ(sources, FindFolder(program, InstalledPart::Samples, sources));
    // A file where the installed folder would be is no folder.
    std::filesystem::create_directories(dir.File("prefix/share/tessera"));
    WriteText(dir.File("prefix/share/tessera/samples"), "not a folder\n");
    EXPECT_EQ(sources, FindFolder(program, InstalledPart::Samples, sources));
    std::filesystem::remove(dir.File("prefix/share/tessera/samples"));
    // Installed, it wins over the sources.
    std::filesystem::create_directories(dir.File("prefix/share/tessera/samples"));
    EXPECT_EQ(dir.File("prefix/share/tessera/samples"),
              FindFolder(program, InstalledPart::Samples, sources));
    // Each part is found on its own: the documentation is not installed here.
    EXPECT_EQ(dir.path(), FindFolder(program, InstalledPart::Documentation, dir.path()));
    std::filesystem::create_directories(dir.File("prefix/share/doc/tessera"));
    EXPECT_EQ(dir.File("prefix/share/doc/tessera"),
              FindFolder(program, InstalledPart::Documentation, dir.path()));
}
