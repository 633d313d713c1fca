#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BAXMLDoc.h"
#include "Bundle.h"
#include "BundlePackage.h"
#include "BundleTestSupport.h"
#include "VorkException.h"
#include "VorkExecuteProgram.h"

using bundletest::BundleTest;
using bundletest::PackageSpec;
using VorkSupport::VorkException;

namespace {

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class BundleRunTest : public BundleTest {
protected:
    // Runs a fresh bundle of QPK stand-ins with the given exit codes (names
    // P1, P2, ...) and answers the bundle result.
    int runFresh(const std::vector<int>& exitCodes, bool continueOnFailure) {
        std::vector<PackageSpec> specs;
        for (std::size_t i = 0; i < exitCodes.size(); ++i)
            specs.push_back({"P" + std::to_string(i + 1), "p" + std::to_string(i + 1) + ".exe", exitCodes[i]});
        writeBundle(specs);
        m_log = makeStatusLog(continueOnFailure);
        Bundle bundle(m_log.get(), false);
        return bundle.execute(false);
    }
    std::unique_ptr<BAXMLDoc> m_log;
};

TEST_F(BundleRunTest, EmptyBundleSucceedsAndLeavesProgressAtZero) {
    writeBundle({});
    auto log = makeStatusLog();
    Bundle bundle(log.get(), false);
    EXPECT_EQ(bundle.packageCount(), 0u);
    EXPECT_EQ(bundle.execute(false), 0);
    EXPECT_TRUE(log->stable());
    EXPECT_EQ(log->progressPercent(), 0);
    EXPECT_TRUE(log->osSupported());
    EXPECT_TRUE(log->systemSupported());
}

TEST_F(BundleRunTest, FailureWithoutContinueStopsTheRun) {
    EXPECT_EQ(runFresh({0, 1, 0}, false), 3072);
    EXPECT_EQ(runs(), (std::vector<std::string>{"P1", "P2"}));
    EXPECT_EQ(m_log->progressPercent(), 66);
    EXPECT_EQ(m_log->SMStatus(), 3072);
    EXPECT_TRUE(m_log->stable());
    const std::string text = m_log->dumpRoot();
    EXPECT_EQ(countOf(text, "<Package "), 2u);
    EXPECT_EQ(text.find("p3.exe"), std::string::npos);
}

TEST_F(BundleRunTest, FailureWithContinueRunsEverything) {
    EXPECT_EQ(runFresh({0, 1, 0}, true), 3085);
    EXPECT_EQ(runs(), (std::vector<std::string>{"P1", "P2", "P3"}));
    EXPECT_EQ(m_log->progressPercent(), 100);
    EXPECT_EQ(m_log->SMStatus(), 3085);
}

TEST_F(BundleRunTest, CombinationsOfRebootAndFailure) {
    struct Case {
        std::vector<int> codes;
        bool continueOnFailure;
        int expected;
        std::size_t ran;
    };
    const std::vector<Case> cases = {
        {{1, 2}, true, 3084, 2},     // failure, then a package that needs a reboot
        {{2, 1}, true, 3084, 2},     // reboot, then failure
        {{2, 1, 0}, false, 3084, 2}, // reboot, then failure ends the run
        {{2, 4}, false, 3074, 2},    // resume beats reboot, in either order
        {{4, 2}, false, 3074, 2},    {{1, 4}, true, 3084, 2},
        {{3, 0}, false, 0, 2}, // an exit code without meaning counts as done
        {{2, 0}, false, 3073, 2},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(m_bundleDir);
        std::filesystem::remove(m_runRecord);
        std::filesystem::remove(plimotest::testDir() + "/win/TEMP/BAUpdate.xml");
        EXPECT_EQ(runFresh(c.codes, c.continueOnFailure), c.expected) << ::testing::PrintToString(c.codes);
        EXPECT_EQ(runs().size(), c.ran) << ::testing::PrintToString(c.codes);
        EXPECT_EQ(m_log->SMStatus(), c.expected);
    }
    // Packages that need a reboot do not count as done.
    std::filesystem::remove_all(m_bundleDir);
    EXPECT_EQ(runFresh({0, 2, 0, 4}, false), 3074);
    EXPECT_EQ(m_log->progressPercent(), 50);
}

TEST_F(BundleRunTest, SkippedGzPackages) {
    writeBundle({{"P1", "p1.exe", 0}, {"G", "update.tar.gz", 0}});
    auto log = makeStatusLog();
    EXPECT_EQ(Bundle(log.get(), false).execute(false), 3087);
    EXPECT_EQ(log->progressPercent(), 100);
    EXPECT_NE(log->dumpRoot().find("state=\"skipped\""), std::string::npos);

    std::filesystem::remove_all(m_bundleDir);
    writeBundle({{"P1", "p1.exe", 1}, {"G", "pkg.bin", 0, "GZ"}});
    log = makeStatusLog(true);
    EXPECT_EQ(Bundle(log.get(), false).execute(false), 3085);
}

TEST_F(BundleRunTest, CombinationRule) {
    // Every row of the rule, with the current results that matter.
    EXPECT_EQ(Bundle::combineResult(0, 3072, false, false), 3072);
    EXPECT_EQ(Bundle::combineResult(0, 3072, false, true), 3085);
    EXPECT_EQ(Bundle::combineResult(3087, 3072, true, true), 3084);
    EXPECT_EQ(Bundle::combineResult(3073, 3072, true, false), 3084);
    for (int current : {3084, 3085}) {
        EXPECT_EQ(Bundle::combineResult(current, 3073, true, false), 3084);
        EXPECT_EQ(Bundle::combineResult(current, 3074, true, false), 3084);
    }
    EXPECT_EQ(Bundle::combineResult(3074, 3073, true, false), 3074);
    EXPECT_EQ(Bundle::combineResult(3087, 3073, false, false), 3073);
    EXPECT_EQ(Bundle::combineResult(3073, 3074, true, false), 3074);
    for (int skipped : {3086, 3087}) {
        for (int keep : {3072, 3073, 3074, 3084, 3085})
            EXPECT_EQ(Bundle::combineResult(keep, skipped, false, false), keep);
        for (int replace : {0, 3086, 3087, 3088})
            EXPECT_EQ(Bundle::combineResult(replace, skipped, false, false), skipped);
    }
    for (int current : {0, 3072, 3074, 3085}) EXPECT_EQ(Bundle::combineResult(current, 3088, false, false), 3088);
    for (int other : {0, 3075, 1, -1}) EXPECT_EQ(Bundle::combineResult(3085, other, false, false), 3085);
}

// Installer return codes above 255 only come through the program runner.
class FakeInstaller {
public:
    explicit FakeInstaller(int msiCode) {
        VorkSupport::VorkSetProgramRunner([msiCode](const std::string& commandLine, bool, const std::string&) {
            const bool msi = commandLine.rfind("msiexec.exe", 0) == 0;
            const std::string marker = msi ? " /le " : " /l=";
            auto at = commandLine.find(marker);
            std::string logFile = commandLine.substr(at + marker.size());
            logFile = logFile.substr(0, logFile.find(' '));
            plimotest::writeFile(logFile, "fake log\n");
            VorkSupport::VorkProgramResult result;
            result.started = true;
            result.exitCode = msi ? msiCode : (commandLine.find("fail") != std::string::npos ? 1 : 0);
            return result;
        });
    }
    ~FakeInstaller() { VorkSupport::VorkSetProgramRunner(nullptr); }
};

TEST_F(BundleRunTest, InstallerEngineUpgradeMissingAfterSuccessAndAfterFailure) {
    FakeInstaller installer(1613);
    writeBundle({{"P1", "ok.exe", 0}, {"M", "setup.msi", 0}});
    auto log = makeStatusLog();
    EXPECT_EQ(Bundle(log.get(), false).execute(false), 3086);
    EXPECT_EQ(log->progressPercent(), 100);

    std::filesystem::remove_all(m_bundleDir);
    writeBundle({{"P1", "fail.exe", 0}, {"M", "setup.msi", 0}});
    log = makeStatusLog(true);
    EXPECT_EQ(Bundle(log.get(), false).execute(false), 3085);
}

TEST_F(BundleRunTest, RecordedFailureEndsAtOnce) {
    writeBundle({{"P1", "p1.exe", 0}});
    auto log = makeStatusLog();
    log->SMStatus(3072);
    EXPECT_EQ(Bundle(log.get(), false).execute(false), 3072);
    EXPECT_TRUE(runs().empty());
    EXPECT_EQ(log->dumpRoot().find("<Validation"), std::string::npos);
}

TEST_F(BundleRunTest, ValidateWithIgnoreAndKeepProgress) {
    writeBundle({{"P1", "p1.exe", 0}, {"P2", "gone.exe", 0, "", false}, {"P3", "p3.exe", 0}});
    auto log = makeStatusLog();
    Bundle bundle(log.get(), false);

    log->progressPercent(40);
    EXPECT_EQ(bundle.validate(true, true), 0);
    EXPECT_EQ(log->progressPercent(), 40);
    EXPECT_EQ(countOf(log->dumpRoot(), "<Package "), 0u);

    EXPECT_EQ(bundle.validate(false, true), 3075);
    EXPECT_EQ(log->progressPercent(), 40);
    const std::string text = log->dumpRoot();
    EXPECT_EQ(countOf(text, "<Package "), 1u);
    EXPECT_NE(text.find("state=\"missing\""), std::string::npos);

    EXPECT_EQ(bundle.validate(true, false), 0);
    EXPECT_EQ(log->progressPercent(), 100);
    EXPECT_TRUE(runs().empty());
}

TEST_F(BundleRunTest, MissingPackageStopsTheRunUnlessIgnored) {
    writeBundle({{"P1", "p1.exe", 0}, {"P2", "gone.exe", 0, "", false}});
    auto log = makeStatusLog();
    Bundle bundle(log.get(), false);
    try {
        bundle.execute(false);
        FAIL() << "no exception";
    } catch (const VorkException& e) {
        EXPECT_EQ(e.getCode(), 3075);
    }
    EXPECT_TRUE(runs().empty());
    EXPECT_TRUE(log->stable());

    // Ignored: the missing package is recorded while the run goes on.
    writeBundle({{"P1", "p1.exe", 0}, {"P2", "gone.exe", 0, "", false}, {"P3", "p3.exe", 0}});
    log = makeStatusLog(false, true);
    EXPECT_EQ(Bundle(log.get(), false).execute(false), 0);
    EXPECT_EQ(runs(), (std::vector<std::string>{"P1", "P3"}));
    EXPECT_NE(log->dumpRoot().find("state=\"missing\""), std::string::npos);
}

TEST_F(BundleRunTest, NotApplicableBeatsMissingPackage) {
    writeBundle({{"P1", "p1.exe", 0}, {"P2", "gone.exe", 0, "", false}},
                "<TargetOSes><OperatingSystem osCode=\"LINUX\"/></TargetOSes>");
    auto log = makeStatusLog();
    Bundle bundle(log.get(), false);
    EXPECT_EQ(bundle.validate(false, false), 3076);
    EXPECT_FALSE(log->osSupported());
    EXPECT_TRUE(log->systemSupported());
    try {
        bundle.execute(false);
        FAIL() << "no exception";
    } catch (const VorkException& e) {
        EXPECT_EQ(e.getCode(), 3076);
    }
    EXPECT_TRUE(runs().empty());
    EXPECT_TRUE(log->stable());

    // A system identifier that the bundle does not list.
    std::filesystem::remove_all(m_bundleDir);
    useSystemId(0x42);
    writeBundle({{"P1", "p1.exe", 0}}, "<TargetSystems><Brand><Model systemID=\"8C\"/></Brand></TargetSystems>");
    log = makeStatusLog();
    EXPECT_EQ(Bundle(log.get(), false).validate(true, false), 3076);
    EXPECT_FALSE(log->systemSupported());
    EXPECT_TRUE(log->osSupported());
    writeBundle({{"P1", "p1.exe", 0}}, "<TargetSystems><Brand><Model systemID=\"0x42\"/></Brand></TargetSystems>");
    log = makeStatusLog();
    EXPECT_EQ(Bundle(log.get(), false).execute(false), 0);
    EXPECT_EQ(runs(), (std::vector<std::string>{"P1"}));
}

TEST_F(BundleRunTest, DeterminePackageType) {
    EXPECT_EQ(Bundle::determinePackageType("x.msi", "LWXP"), Bundle::QPK);
    EXPECT_EQ(Bundle::determinePackageType("x.exe", "llxp"), Bundle::QPK);
    EXPECT_EQ(Bundle::determinePackageType("x.exe", "MsI"), Bundle::MSI);
    EXPECT_EQ(Bundle::determinePackageType("x.exe", "MSP"), Bundle::MSP);
    EXPECT_EQ(Bundle::determinePackageType("x.exe", "Gz"), Bundle::GZ);
    EXPECT_EQ(Bundle::determinePackageType("x.msi", "other"), Bundle::QPK);
    EXPECT_EQ(Bundle::determinePackageType("/a/UPDATE.MSP", ""), Bundle::MSP);
    EXPECT_EQ(Bundle::determinePackageType("/a/b.Msi", ""), Bundle::MSI);
    EXPECT_EQ(Bundle::determinePackageType("/a/b.TAR.GZ", ""), Bundle::GZ);
    EXPECT_EQ(Bundle::determinePackageType("/a/b.gz", ""), Bundle::QPK);
    EXPECT_EQ(Bundle::determinePackageType("msi", ""), Bundle::QPK);
    EXPECT_EQ(Bundle::determinePackageType(".msp", ""), Bundle::MSP);
    EXPECT_EQ(Bundle::determinePackageType("", ""), Bundle::QPK);
}

TEST_F(BundleRunTest, RelocatedPackagesRunFromTheirDirectory) {
    const std::string elsewhere = plimotest::testDir() + "/elsewhere";
    writeQpk(elsewhere + "/a.exe", "moved", 0);
    writeBundle({{"A", "a.exe", 0, "", false}, {"B", "b.exe", 0}});
    const std::string relocation = plimotest::writeFile(
        m_bundleDir + "/relocation.xml", "<QPKPath><Package releaseID=\"A\" path=\"" + elsewhere + "\"/></QPKPath>");
    auto log = makeStatusLog(false, false, false, relocation);
    Bundle bundle(log.get(), false);
    ASSERT_EQ(bundle.packageCount(), 2u);
    EXPECT_EQ(bundle.package(0).getPackageAbsFileName(), elsewhere + "/a.exe");
    EXPECT_EQ(bundle.package(1).getPackageAbsFileName(), m_bundleDir + "/b.exe");
    EXPECT_EQ(bundle.execute(false), 0);
    EXPECT_EQ(runs(), (std::vector<std::string>{"moved", "B"}));
}

TEST_F(BundleRunTest, ResumeRunsEachPackageOnItsOneEntryAndPassesOverOlderOnes) {
    // First run: P1 asks to run again after a reboot.
    writeBundle({{"P1", "p1.exe", 4}, {"P2", "p2.exe", 0}});
    auto log = makeStatusLog();
    EXPECT_EQ(Bundle(log.get(), false).execute(false), 3074);
    EXPECT_EQ(runs(), (std::vector<std::string>{"P1", "P2"}));

    // After each reboot P1 runs again on its own entry.
    {
        Bundle resumed(log.get(), true);
        ASSERT_EQ(resumed.packageCount(), 2u);
        EXPECT_EQ(resumed.execute(true), 3074);
    }
    writeQpk(m_bundleDir + "/p1.exe", "P1", 0);
    {
        Bundle resumed(log.get(), true);
        ASSERT_EQ(resumed.packageCount(), 2u);
        EXPECT_EQ(resumed.execute(true), 0);
    }
    EXPECT_EQ(runs(), (std::vector<std::string>{"P1", "P2", "P1", "P1"}));
    EXPECT_EQ(countOf(log->dumpRoot(), "<Package "), 2u);
    EXPECT_EQ(countOf(log->dumpRoot(), "<PkgLog "), 4u);
    EXPECT_EQ(log->SMStatus(), 0);
    EXPECT_TRUE(log->stable());

    // A log of an older version kept an interrupted run's entry, and one
    // asking to run again, beside the entry of the run after it: only the
    // latest entry of a package counts.
    const std::string dir = m_bundleDir + "/";
    auto entry = [&](const std::string& id, const std::string& state, const std::string& code) {
        return "<Package releaseID=\"" + id + "\" path=\"" + dir + (id == "P1" ? "p1.exe" : "p2.exe") +
               "\"><Status state=\"" + state + "\"" + (code.empty() ? "" : " code=\"" + code + "\" status=\"2\"") +
               "/><ExeCmd>x</ExeCmd></Package>";
    };
    log->stable(false);
    log->saveWhole();
    std::string text = plimotest::readFile(log->getFileName());
    const std::string oldEntries = entry("P1", "in-progress", "") + entry("P1", "complete", "0") +
                                   entry("P2", "complete", "4") + entry("P2", "complete", "0");
    text = text.substr(0, text.find("<Package ")) + oldEntries + "</BundleLog>\n";
    BAXMLDoc::removeFile(log->getFileName());
    plimotest::writeFile(log->getFileName(), text);
    log->load();
    {
        Bundle resumed(log.get(), true);
        ASSERT_EQ(resumed.packageCount(), 4u);
        EXPECT_EQ(resumed.execute(true), 0);
    }
    EXPECT_EQ(runs().size(), 4u) << "no package ran again";

    // An entry for a package the definition no longer has, cut off while it
    // ran: loaded as it stands, found missing, run by nobody.
    log->stable(false);
    log->saveWhole();
    text = plimotest::readFile(log->getFileName());
    text.insert(text.rfind("</BundleLog>"),
                "<Package releaseID=\"GONE\" path=\"" + dir +
                    "gone.exe\"><Status state=\"in-progress\"/><ExeCmd>x</ExeCmd></Package>");
    BAXMLDoc::removeFile(log->getFileName());
    plimotest::writeFile(log->getFileName(), text);
    log->load();
    {
        Bundle resumed(log.get(), true);
        try {
            resumed.execute(true);
            ADD_FAILURE() << "a missing package passed validation";
        } catch (const VorkException& e) {
            EXPECT_EQ(e.getCode(), 3075);
        }
    }
    EXPECT_EQ(runs().size(), 4u);
    EXPECT_EQ(countOf(log->dumpRoot(), "gone.exe"), 1u);
    EXPECT_EQ(countOf(log->dumpRoot(), "<Status state=\"missing\"/>"), 1u) << log->dumpRoot();
}

TEST_F(BundleRunTest, ConstructionFailures) {
    plimotest::writeFile(m_bundleDir + "/bundle.xml", "<SoftwareBundle><Contents>");
    auto log = makeStatusLog();
    try {
        Bundle bundle(log.get(), false);
        FAIL() << "no exception";
    } catch (const VorkException& e) {
        EXPECT_EQ(e.getCode(), 3081);
    }
    // A relocation into a directory that does not exist.
    writeBundle({{"A", "a.exe", 0}});
    const std::string relocation = plimotest::writeFile(
        m_bundleDir + "/relocation.xml", "<QPKPath><Package releaseID=\"A\" path=\"/no/such/dir\"/></QPKPath>");
    log = makeStatusLog(false, false, false, relocation);
    EXPECT_THROW(Bundle(log.get(), false), VorkException);
}

} // namespace
