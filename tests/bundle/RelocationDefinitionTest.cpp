#include <string>

#include <gtest/gtest.h>

#include "BundleTestSupport.h"
#include "RelocationDefinition.h"
#include "VorkException.h"

using bundletest::BundleTest;
using VorkSupport::VorkException;

namespace {

class RelocationDefinitionTest : public BundleTest {
protected:
    std::string write(const std::string& entries) {
        return plimotest::writeFile(plimotest::testDir() + "/reloc/relocation.xml",
                                    "<?xml version=\"1.0\"?>\n<QPKPath>" + entries + "</QPKPath>\n");
    }
    static std::string entry(const std::string& id, const std::string& path) {
        return "<Package releaseID=\"" + id + "\" path=\"" + path + "\"/>";
    }
};

TEST_F(RelocationDefinitionTest, NoFileOrUnreadableFileGivesTheDefault) {
    RelocationDefinition none("", "/bundle/dir");
    EXPECT_EQ(none.packageLocation("A"), "/bundle/dir");

    RelocationDefinition missing(plimotest::testDir() + "/reloc-missing.xml", "/bundle/dir");
    EXPECT_EQ(missing.packageLocation("A"), "/bundle/dir");

    const std::string broken = plimotest::writeFile(plimotest::testDir() + "/broken.xml", "<QPKPath><Package");
    RelocationDefinition malformed(broken, "/bundle/dir");
    EXPECT_EQ(malformed.packageLocation("A"), "/bundle/dir");
}

TEST_F(RelocationDefinitionTest, PartialRelocationFirstEntryWinsCaseSensitiveAndEmptyPath) {
    RelocationDefinition relocation(write(entry("A", "/elsewhere/a") + entry("B", "") + entry("A", "/second/a") +
                                          entry("p.exe", "/by/path") + "<Other releaseID=\"C\" path=\"/no\"/>"),
                                    "/bundle/dir");
    EXPECT_EQ(relocation.packageLocation("A"), "/elsewhere/a");
    EXPECT_EQ(relocation.packageLocation("a"), "/bundle/dir");
    EXPECT_EQ(relocation.packageLocation("B"), "");
    EXPECT_EQ(relocation.packageLocation("C"), "/bundle/dir");
    EXPECT_EQ(relocation.packageLocation("p.exe"), "/by/path");
    EXPECT_EQ(relocation.packageLocation("unlisted"), "/bundle/dir");
    // Asked again, the same answers.
    EXPECT_EQ(relocation.packageLocation("A"), "/elsewhere/a");
}

TEST_F(RelocationDefinitionTest, IncompleteEntriesFailLookupsThatReachThem) {
    RelocationDefinition relocation(
        write(entry("A", "/a") + "<Package path=\"/nameless\"/>" + "<Package releaseID=\"B\"/>" + entry("C", "/c")),
        "/bundle/dir");
    // Found before the entry without releaseID: fine.
    EXPECT_EQ(relocation.packageLocation("A"), "/a");
    // The search walks past the entry without releaseID: it fails.
    EXPECT_THROW(relocation.packageLocation("C"), VorkException);
    EXPECT_THROW(relocation.packageLocation("unlisted"), VorkException);

    RelocationDefinition noPath(write(entry("A", "/a") + "<Package releaseID=\"B\"/>"), "/bundle/dir");
    EXPECT_EQ(noPath.packageLocation("A"), "/a");
    EXPECT_THROW(noPath.packageLocation("B"), VorkException);
    EXPECT_EQ(noPath.packageLocation("unlisted"), "/bundle/dir");
}

TEST_F(RelocationDefinitionTest, MissingDirectoryOfTheFileRaises) {
    EXPECT_THROW(RelocationDefinition(plimotest::testDir() + "/no/such/dir/relocation.xml", "/bundle"), VorkException);
}

} // namespace
