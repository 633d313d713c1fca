#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FileHandle.h"
#include "StateHome.h"
#include "TestEnvironment.h"
#include "VorkException.h"
#include "VorkFindFile.h"
#include "VorkLibrary.h"
#include "VorkPlatform.h"
#include "VorkRemoveDirectory.h"

using namespace VorkSupport;
using plimotest::testDir;

TEST(FileHandle, OwnershipMovesAndEachDescriptorClosesOnce) {
    auto isOpen = [](int fd) { return ::fcntl(fd, F_GETFD) != -1; };
    FileHandle first("/dev/null", O_RDONLY);
    const int fd = first.get();
    ASSERT_TRUE(isOpen(fd));
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    FileHandle second(std::move(first));
    EXPECT_FALSE(first.isOpen());
    EXPECT_EQ(second.get(), fd);
    FileHandle third("/dev/null", O_RDONLY);
    const int replaced = third.get();
    third = std::move(second);
    EXPECT_FALSE(isOpen(replaced));
    EXPECT_TRUE(isOpen(fd));
    EXPECT_TRUE(third.close());
    EXPECT_FALSE(isOpen(fd));
    EXPECT_TRUE(third.close());
}

TEST(VorkRemoveDirectory, RemovesTheTreeButNeverFollowsLinksOutOfIt) {
    const std::string outside = testDir() + "/outside";
    plimotest::writeFile(outside + "/keep.txt", "precious");
    const std::string tree = testDir() + "/tree";
    plimotest::writeFile(tree + "/a/b/c.txt", "1");
    plimotest::writeFile(tree + "/.hidden", "2");
    ASSERT_EQ(::symlink(outside.c_str(), (tree + "/a/link-to-dir").c_str()), 0);
    ASSERT_EQ(::symlink((outside + "/keep.txt").c_str(), (tree + "/link-to-file").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/target", (tree + "/dangling").c_str()), 0);
    VorkRemoveDirectory(tree, true);
    EXPECT_FALSE(plimotest::fileExists(tree));
    EXPECT_EQ(plimotest::readFile(outside + "/keep.txt"), "precious");

    // The path itself being a link to a directory: the target is not touched.
    ASSERT_EQ(::symlink(outside.c_str(), (testDir() + "/alias").c_str()), 0);
    EXPECT_THROW(VorkRemoveDirectory(testDir() + "/alias", true), VorkException);
    EXPECT_THROW(VorkRemoveDirectory(testDir() + "/alias/", true), VorkException);
    EXPECT_EQ(plimotest::readFile(outside + "/keep.txt"), "precious");
}

TEST(VorkRemoveDirectory, RaisesNamingThePathWhenSomethingStays) {
    try {
        VorkRemoveDirectory(testDir() + "/missing", true);
        FAIL() << "no exception";
    } catch (const VorkException& e) {
        EXPECT_NE(e.getMessageNarrow().find(testDir() + "/missing"), std::string::npos);
        EXPECT_EQ(e.getCode(), 0);
    }
    plimotest::writeFile(testDir() + "/full/file", "x");
    EXPECT_THROW(VorkRemoveDirectory(testDir() + "/full", false), VorkException);
    EXPECT_TRUE(plimotest::fileExists(testDir() + "/full/file"));
    ::mkdir((testDir() + "/empty").c_str(), 0700);
    VorkRemoveDirectory(testDir() + "/empty", false);
    EXPECT_FALSE(plimotest::fileExists(testDir() + "/empty"));
    if (::geteuid() != 0) {
        // A subdirectory that cannot be emptied: the rest goes, the error is raised.
        plimotest::writeFile(testDir() + "/locked/sub/f", "x");
        ::chmod((testDir() + "/locked/sub").c_str(), 0500);
        EXPECT_THROW(VorkRemoveDirectory(testDir() + "/locked", true), VorkException);
        EXPECT_TRUE(plimotest::fileExists(testDir() + "/locked/sub/f"));
        ::chmod((testDir() + "/locked/sub").c_str(), 0700);
    }
}

TEST(VorkFindFile, MatchesWildcardsInTheLastComponentOrOneExactPath) {
    const std::string dir = testDir() + "/bundle";
    for (const char* name : {"b.msi", "a.msi", "c.msp", ".x.msi", "p[1].exe"})
        plimotest::writeFile(dir + "/" + name, "");
    VorkFindFile msi(dir + "/*.msi");
    std::vector<std::string> found;
    while (msi.hasMore()) found.push_back(msi.next());
    EXPECT_EQ(found, (std::vector<std::string>{dir + "/a.msi", dir + "/b.msi"}));
    EXPECT_EQ(msi.next(), "");
    EXPECT_TRUE(VorkFindFile(dir + "/?.msp").hasMore());
    EXPECT_TRUE(VorkFindFile(dir + "/.*.msi").hasMore());
    EXPECT_TRUE(VorkFindFile(dir + "/c.msp").hasMore());
    EXPECT_TRUE(VorkFindFile(dir).hasMore());
    EXPECT_EQ(VorkFindFile(dir + "/p[1].*").next(), dir + "/p[1].exe"); // brackets are no wildcards
    EXPECT_FALSE(VorkFindFile(dir + "/p[0-9]*").hasMore());
    EXPECT_FALSE(VorkFindFile(dir + "/d.msp").hasMore());
    EXPECT_FALSE(VorkFindFile(testDir() + "/nodir/*.msi").hasMore());
    EXPECT_FALSE(VorkFindFile("").hasMore());
}

TEST(VorkLibrary, LoadsRealLibrariesAndAnswersNullForMissingSymbols) {
    VorkLibrary library(std::string(PLIMO_TEST_HELPER_DIR) + "/libvorktestlib.so");
    auto answer = reinterpret_cast<int (*)()>(library.getProcAddr("vorktest_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(library.getProcAddr("vorktest_absent"), nullptr);
    EXPECT_THROW(VorkLibrary("plimo_no_such_library", false), VorkException);
    EXPECT_THROW(VorkLibrary(testDir() + "/libnothing.so", false), VorkException);
    // A bare name goes through the loader's search as lib<name>.so.
    try {
        VorkLibrary bare("zuintf32-absent", false);
        FAIL() << "loaded";
    } catch (const VorkException& e) {
        EXPECT_NE(e.getMessageNarrow().find("libzuintf32-absent.so"), std::string::npos) << e.getMessageNarrow();
    }
}

TEST(VorkPlatform, DirectoriesFollowTheEnvironment) {
    EXPECT_TRUE(VorkPlatform::isAbsolutePath("/x"));
    EXPECT_FALSE(VorkPlatform::isAbsolutePath("x/y"));
    EXPECT_FALSE(VorkPlatform::isAbsolutePath("C:\\x"));
    EXPECT_TRUE(VorkPlatform::fileExists(testDir()));
    EXPECT_FALSE(VorkPlatform::fileExists(testDir() + "/none"));
    EXPECT_FALSE(VorkPlatform::fileExists(""));
    EXPECT_EQ(VorkPlatform::windowsDirectory(), testDir() + "/win");

    EXPECT_EQ(VorkPlatform::tempDirectory(), testDir() + "/tmp");
    ::unsetenv("TEMP");
    ::setenv("TMP", "/tmp-b", 1);
    EXPECT_EQ(VorkPlatform::tempDirectory(), "/tmp-b");
    ::unsetenv("TMP");
    EXPECT_EQ(VorkPlatform::tempDirectory(), testDir() + "/tmp");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(VorkPlatform::tempDirectory(), "/tmp");

    if (::geteuid() != 0) {
        ::unsetenv("windir");
        const std::string state = testDir() + "/home/state/plimo";
        EXPECT_EQ(VorkPlatform::stateDirectory(), state);
        EXPECT_FALSE(plimotest::fileExists(state));
        EXPECT_EQ(VorkPlatform::windowsDirectory(), state);
        struct stat st {};
        ASSERT_EQ(::stat((state + "/TEMP").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        ASSERT_EQ(::stat(state.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        ::unsetenv("XDG_STATE_HOME");
        EXPECT_EQ(VorkPlatform::stateDirectory(), testDir() + "/home/.local/state/plimo");
    }
}

TEST(StateHome, FallsBackFromTheEnvironmentToTheUsersEntry) {
    // Set per test by the harness: HOME and an absolute XDG_STATE_HOME.
    EXPECT_EQ(VorkCommon::stateHome(), testDir() + "/home/state");
    ::setenv("XDG_STATE_HOME", "relative/state", 1);
    EXPECT_EQ(VorkCommon::stateHome(), testDir() + "/home/.local/state");
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(VorkCommon::homeDirectory(), testDir() + "/home");
    ::setenv("HOME", "", 1);
    const struct passwd* pw = ::getpwuid(::geteuid());
    const std::string entry = pw && pw->pw_dir && *pw->pw_dir ? pw->pw_dir : "/tmp";
    EXPECT_EQ(VorkCommon::homeDirectory(), entry);
    EXPECT_EQ(VorkCommon::stateHome(), entry + "/.local/state");
}
