// Package digests through the real Orvane and plug-in, with the digests that
// bundle-digest writes into the definition.
#include <gtest/gtest.h>

#include "CycleSupport.h"
#include "TestEnvironment.h"

using namespace e2e;
using plimotest::readFile;
using plimotest::testDir;

TEST(IntegrityTest, VerifyPolicyAndDigestsThroughOrvane) {
    const std::string dir = testDir() + "/bundle";
    writeQpk(dir, "a", {0});
    writeQpk(dir, "b", {0});
    writeBundle(dir, {"a.sh", "b.sh"});
    const std::vector<std::string> update{"-update", "-path", dir + "/bundle.xml", "-verify", "digests"};

    // No digests under the policy that asks for them: refused, nothing ran.
    auto r = orvane(update);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_EQ(statusOf(r.out), 3092);
    EXPECT_EQ(qpkRuns(dir, "a"), 0);
    // A policy that is not known is refused rather than ignored.
    EXPECT_EQ(statusOf(orvane({"-update", "-path", dir + "/bundle.xml", "-verify", "sigend"}).out), 3092);
    EXPECT_EQ(qpkRuns(dir, "a"), 0);

    const std::string before = readFile(dir + "/bundle.xml");
    const auto tool = plimotest::runProgram({std::string(PLIMO_BIN_DIR) + "/bundle-digest", dir + "/bundle.xml"});
    ASSERT_EQ(tool.exitCode, 0) << tool.err;
    EXPECT_EQ(countOf(readFile(dir + "/bundle.xml"), " sha256=\""), 2);
    EXPECT_EQ(readFile(dir + "/bundle.xml").size(), before.size() + 2 * std::string(" sha256=\"\"").size() + 2 * 64);
    r = orvane(update);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(qpkRuns(dir, "a"), 1);
    EXPECT_EQ(qpkRuns(dir, "b"), 1);

    // A package changed since: the whole bundle is refused again.
    plimotest::writeFile(dir + "/b.sh", readFile(dir + "/b.sh") + "# changed\n", true);
    r = orvane({"-update", "-path", dir + "/bundle.xml"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(countOf(r.out, "SHA-256 mismatch: expected "), 2) << r.out;
    EXPECT_EQ(qpkRuns(dir, "a"), 1);
}
