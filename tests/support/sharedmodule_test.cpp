// Where the program's shared modules are looked for, and what is said when one cannot be opened.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/paths.h"
#include "support/sharedmodule.h"
#include "testfiles.h"

using namespace tessera;
using testing_support::ScratchDir;
using testing_support::WriteText;

namespace {

constexpr const char* kVariable = "TESSERA_TEST_MODULE";

std::string ThisProgram() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    path[length] = '\0';
    return path;
}

int InThisProgram() {
    return 1;
}

ModuleLookup Lookup(const std::string& built = "/built/libtessera_test.so") {
    ::unsetenv(kVariable);
    ModuleLookup lookup;
    lookup.file = "libtessera_test.so";
    lookup.variable = kVariable;
    lookup.built = built;
    return lookup;
}

}  // namespace

TEST(ModuleLookup, LooksBesideTheProgramThenInItsLibraryFolderThenTheBuildThenTheLoader) {
    const std::string folder = DirectoryOf(ThisProgram());
    ASSERT_FALSE(folder.empty());
    // The installed layout: the program in <prefix>/bin, its modules in <prefix>/lib/tessera.
    const std::vector<std::string> expected{folder + "/libtessera_test.so",
                                            DirectoryOf(folder) + "/lib/tessera/libtessera_test.so",
                                            "/built/libtessera_test.so", "libtessera_test.so"};
    EXPECT_EQ(expected, ModuleCandidates(Lookup()));
    // A core inside the program adds no place of its own.
    ModuleLookup lookup = Lookup();
    lookup.anchor = reinterpret_cast<const void*>(&InThisProgram);
    EXPECT_EQ(expected, ModuleCandidates(lookup));
}

TEST(ModuleLookup, LooksBesideTheSharedObjectThatHoldsTheCore) {
    // Taken as if the core lived in the C math library: its folder is looked in first, before
    // the program's places (an installed program's module is not the extension's own).
    void* maths = ::dlopen("libm.so.6", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, maths);
    ModuleLookup lookup = Lookup();
    lookup.anchor = ::dlsym(maths, "cos");
    ASSERT_NE(nullptr, lookup.anchor);
    const std::vector<std::string> found = ModuleCandidates(lookup);
    ASSERT_EQ(5u, found.size());
    EXPECT_EQ("libtessera_test.so", BaseNameOf(found[0]));
    EXPECT_EQ(0, ::access((DirectoryOf(found[0]) + "/libm.so.6").c_str(), F_OK)) << found[0];
    const std::string program = DirectoryOf(ThisProgram());
    EXPECT_EQ(program + "/libtessera_test.so", found[1]);
    // The installed layout: the program in <prefix>/bin, its modules in <prefix>/lib/tessera.
    EXPECT_EQ(DirectoryOf(program) + "/lib/tessera/libtessera_test.so", found[2]);
    EXPECT_EQ("/built/libtessera_test.so", found[3]);
}

TEST(ModuleLookup, TheVariableNamesTheOnlyPlace) {
    ModuleLookup lookup = Lookup();
    ::setenv(kVariable, "/somewhere/else.so", 1);
    EXPECT_EQ(std::vector<std::string>{"/somewhere/else.so"}, ModuleCandidates(lookup));
    // Set but empty, it is not there.
    ::setenv(kVariable, "", 1);
    EXPECT_EQ(4u, ModuleCandidates(lookup).size());
    ::unsetenv(kVariable);
}

TEST(OpenModule, AModuleMissingWhereTheVariableSaysIsRefusedInTheLoadersWords) {
    ScratchDir dir;
    ModuleLookup lookup = Lookup();
    ::setenv(kVariable, dir.File("missing.so").c_str(), 1);
    const Result<void*> opened = OpenModule(lookup);
    ::unsetenv(kVariable);
    ASSERT_FALSE(opened);
    EXPECT_EQ(dir.File("missing.so") + ": cannot open shared object file: No such file or directory",
              opened.message);
}

TEST(OpenModule, AFileThereThatIsNoModuleIsTheRefusalNotTheSearchAfterIt) {
    ScratchDir dir;
    WriteText(dir.File("libtessera_test.so"), "not a shared object\n");
    const Result<void*> opened = OpenModule(Lookup(dir.File("libtessera_test.so")));
    ASSERT_FALSE(opened);
    EXPECT_EQ(0u, opened.message.find(dir.File("libtessera_test.so") + ": ")) << opened.message;
    EXPECT_EQ(std::string::npos, opened.message.find("No such file")) << opened.message;
}

TEST(OpenModule, NothingFoundIsTheLoadersSearchRefusal) {
    const Result<void*> opened = OpenModule(Lookup(""));
    ASSERT_FALSE(opened);
    EXPECT_EQ("libtessera_test.so: cannot open shared object file: No such file or directory",
              opened.message);
}

TEST(OpenModule, TheLoadersSearchOpensAModuleByNameAndGivesItsSymbols) {
    ModuleLookup lookup = Lookup("");
    lookup.file = "libm.so.6";
    const Result<void*> opened = OpenModule(lookup);
    ASSERT_TRUE(opened) << opened.message;
    auto* cosine = reinterpret_cast<double (*)(double)>(ModuleSymbol(*opened.value, "cos"));
    ASSERT_NE(nullptr, cosine);
    EXPECT_EQ(1.0, cosine(0.0));
    EXPECT_EQ(nullptr, ModuleSymbol(*opened.value, "no_such_symbol_anywhere"));
}
