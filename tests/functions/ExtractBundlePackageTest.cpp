#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "BundleApplicatorBase.h"
#include "BundleArchive.h"
#include "TestEnvironment.h"
#include "ZipWriter.h"

namespace fs = std::filesystem;
using plimotest::fileExists;
using plimotest::readFile;
using plimotest::testDir;

namespace {

std::string zipPath() { return testDir() + "/package.zip"; }
std::string target() { return testDir() + "/out/bundle"; }

bool extract() {
    fs::create_directories(testDir() + "/out");
    return extractBundlePackage(zipPath().c_str(), target().c_str());
}

std::size_t countEntries(const std::string& dir) {
    std::size_t n = 0;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) ++n;
    return n;
}

} // namespace

TEST(ExtractBundlePackage, ExtractsFilesDirectoriesAndModesAndReplacesExistingFiles) {
    ASSERT_TRUE(ZipWriter()
                    .add("pkgs/", "", 0755, ZipWriter::Kind::Directory)
                    .add("empty/", "", 0755, ZipWriter::Kind::Directory)
                    .file("bundle.xml", "<SoftwareBundle/>")
                    .file("pkgs/run.sh", "#!/bin/sh\nexit 0\n", 0755)
                    .file("deep/er/notes.txt", "hello")
                    .write(zipPath()));
    fs::create_directories(target());
    plimotest::writeFile(target() + "/bundle.xml", "old content that is longer than the new one");

    ASSERT_TRUE(extract());
    EXPECT_EQ(readFile(target() + "/bundle.xml"), "<SoftwareBundle/>");
    EXPECT_EQ(readFile(target() + "/deep/er/notes.txt"), "hello");
    EXPECT_TRUE(fs::is_directory(target() + "/empty"));
    EXPECT_EQ(::access((target() + "/pkgs/run.sh").c_str(), X_OK), 0);
    struct stat st {};
    ASSERT_EQ(::stat((target() + "/deep/er/notes.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0111, 0u);
}

TEST(ExtractBundlePackage, NamesThatClimbOutLandInsideTheTarget) {
    ASSERT_TRUE(ZipWriter()
                    .file("../outside.txt", "1")
                    .file("/abs/evil.txt", "2")
                    .file("a/../../b/evil2.txt", "3")
                    .file("..\\..\\win.txt", "4")
                    .file("./././dot.txt", "5")
                    .write(zipPath()));
    ASSERT_TRUE(extract());
    EXPECT_EQ(readFile(target() + "/outside.txt"), "1");
    EXPECT_EQ(readFile(target() + "/abs/evil.txt"), "2");
    EXPECT_EQ(readFile(target() + "/a/b/evil2.txt"), "3");
    EXPECT_EQ(readFile(target() + "/win.txt"), "4");
    EXPECT_EQ(readFile(target() + "/dot.txt"), "5");
    EXPECT_FALSE(fileExists(testDir() + "/out/outside.txt"));
    EXPECT_FALSE(fileExists(testDir() + "/outside.txt"));
    EXPECT_FALSE(fileExists(testDir() + "/out/b/evil2.txt"));
    EXPECT_FALSE(fileExists("/abs/evil.txt"));
}

TEST(ExtractBundlePackage, SymbolicLinksAreRefusedAndNeverCreated) {
    plimotest::writeFile(testDir() + "/secret.txt", "keep");
    // The classic attack: a link out of the target, then a file through it.
    ASSERT_TRUE(ZipWriter()
                    .add("escape", "", 0777, ZipWriter::Kind::Symlink, testDir())
                    .file("escape/secret.txt", "overwritten")
                    .write(zipPath()));
    EXPECT_FALSE(extract());
    EXPECT_EQ(readFile(testDir() + "/secret.txt"), "keep");
    struct stat st {};
    EXPECT_NE(::lstat((target() + "/escape").c_str(), &st), 0);
}

TEST(ExtractBundlePackage, DeviceEntriesAreRefused) {
    ASSERT_TRUE(ZipWriter().file("null", "", 0666).write(zipPath()));
    ASSERT_TRUE(ZipWriter::setFirstEntryMode(zipPath(), S_IFCHR | 0666));
    EXPECT_FALSE(extract());
    EXPECT_FALSE(fileExists(target() + "/null"));
}

TEST(ExtractBundlePackage, EncryptedEntriesAreNotExtracted) {
    ASSERT_TRUE(ZipWriter().encrypted().file("bundle.xml", "<SoftwareBundle/>").write(zipPath()));
    EXPECT_FALSE(extract());
    EXPECT_NE(readFile(target() + "/bundle.xml"), "<SoftwareBundle/>");
}

TEST(ExtractBundlePackage, TooManyEntriesAreRefused) {
    ZipWriter many;
    for (int i = 0; i < 100001; ++i) many.add("d/", "", 0755, ZipWriter::Kind::Directory);
    ASSERT_TRUE(many.write(zipPath()));
    EXPECT_FALSE(extract());
}

TEST(ExtractBundlePackage, MissingOrMalformedArchivesFail) {
    EXPECT_FALSE(extract());
    plimotest::writeFile(zipPath(), "this is not a zip archive at all");
    EXPECT_FALSE(extract());
    EXPECT_FALSE(extractBundlePackage(nullptr, target().c_str()));
    ASSERT_TRUE(ZipWriter().file("a.txt", "x").write(zipPath()));
    EXPECT_FALSE(extractBundlePackage(zipPath().c_str(), ""));
    // A good archive into a fresh directory still works afterwards.
    EXPECT_TRUE(extract());
    EXPECT_EQ(countEntries(target()), 1u);
}

namespace {

// A file system of 10 GiB with what the test says is free.
std::uint64_t g_freeBytes = 0;
bool probedSpace(const std::string&, std::uint64_t& freeBytes, std::uint64_t& totalBytes) {
    freeBytes = g_freeBytes;
    totalBytes = 10ULL << 30;
    return true;
}

} // namespace

TEST(ExtractBundlePackage, ArchiveThatWouldFillTheDiskIsRefusedBeforeAnythingIsWritten) {
    // 4 MiB of packages; 5 % of the file system (512 MiB) must stay free.
    ASSERT_TRUE(ZipWriter()
                    .file("bundle.xml", "<SoftwareBundle/>")
                    .file("big.bin", std::string(4 << 20, 'x'))
                    .write(zipPath()));
    BundleArchive::setSpaceProbe(probedSpace);
    g_freeBytes = (512ULL << 20) + (4ULL << 20);
    EXPECT_FALSE(extract());
    EXPECT_EQ(countEntries(target()), 0u);
    g_freeBytes += 1 << 20;
    EXPECT_TRUE(extract());
    EXPECT_EQ(readFile(target() + "/big.bin").size(), 4u << 20);
    BundleArchive::setSpaceProbe(nullptr);
    // A pipe in the package's place is refused without waiting for it.
    ::unlink(zipPath().c_str());
    ASSERT_EQ(::mkfifo(zipPath().c_str(), 0600), 0);
    EXPECT_FALSE(extract());
}
