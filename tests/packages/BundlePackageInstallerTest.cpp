// Installer packages and patches: run sequences and return codes through the
// scripted program runner (codes above 255), plus a real stand-in msiexec.exe
// for what fits in an exit status.
#include "BundlePackageMSI.h"
#include "BundlePackageMSP.h"
#include "GetWindowsErrorMessage.h"
#include "PackageTestSupport.h"

using namespace packagetest;

class BundlePackageInstallerTest : public PackageTest {
protected:
    std::string msiPath() const { return plimotest::testDir() + "/bundle/app.msi"; }
    std::string installCommand() const { return "msiexec.exe /qn /i " + msiPath() + " /le " + outputLog(); }
    std::string engineUpgrade() const { return plimotest::testDir() + "/bundle/upgrade_msi_engine.bat"; }
    std::string errorText(int code) const {
        std::string text;
        GetWindowsErrorMessage(code, text);
        return text;
    }
};

TEST_F(BundlePackageInstallerTest, MsiCommandLinesAndArguments) {
    {
        ScriptedRunner runner(outputLog());
        BundlePackageMSI package(m_doc.get(), "M1", msiPath(), "msi", "ADDLOCAL=ALL", -1);
        bool notRun = true;
        EXPECT_EQ(0, package.execute(notRun));
        EXPECT_FALSE(notRun);
        // The entry shows the command without the suppression and arguments.
        EXPECT_EQ(installCommand(), exeCmd(savedDoc(), 1));
        ASSERT_EQ(1u, runner.calls.size());
        EXPECT_EQ(installCommand() + " REBOOT=REALLYSUPPRESS ADDLOCAL=ALL", runner.calls[0].commandLine);
        EXPECT_EQ("complete", attr(statusNode(savedDoc(), 1), "state"));
        EXPECT_EQ("0", attr(pkgLogs(savedDoc(), 1).at(0), "osErrCode"));
        EXPECT_EQ("run 1 output", content(pkgLogs(savedDoc(), 1).at(0)));
        EXPECT_FALSE(plimotest::fileExists(outputLog()));
    }
    {
        // Without arguments of its own the package takes the bundle's.
        m_doc->installParams("TARGETDIR=/opt");
        ScriptedRunner runner(outputLog());
        BundlePackageMSI package(m_doc.get(), "M2", msiPath(), "msi", "", -1);
        bool notRun = false;
        package.execute(notRun);
        ASSERT_EQ(1u, runner.calls.size());
        EXPECT_EQ(installCommand() + " REBOOT=REALLYSUPPRESS TARGETDIR=/opt", runner.calls[0].commandLine);
    }
    {
        m_doc->installParams("");
        ScriptedRunner runner(outputLog());
        BundlePackageMSI package(m_doc.get(), "M3", msiPath(), "msi", "", -1);
        bool notRun = false;
        package.execute(notRun);
        ASSERT_EQ(1u, runner.calls.size());
        EXPECT_EQ(installCommand() + " REBOOT=REALLYSUPPRESS", runner.calls[0].commandLine);
    }
}

TEST_F(BundlePackageInstallerTest, MsiReturnCodes) {
    const struct {
        std::deque<int> codes;
        std::size_t runs;
        int result;
        int status;
        int recordedCode;
    } cases[] = {
        {{3010}, 1, 3073, 2, 3010},       {{1641}, 1, 3073, 2, 1641},
        {{1634}, 1, 0, 5, 1634},          {{1642}, 1, 0, 5, 1642},
        {{1603}, 1, 3072, 1, 1603},       {{1638, 0}, 2, 0, 0, 0}, // one reinstall; its code decides
        {{1638, 1603}, 2, 3072, 1, 1603}, {{1638, 1638}, 2, 3072, 1, 1638},
    };
    int entry = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codes.front() * 10000 + c.codes.back());
        ScriptedRunner runner(outputLog());
        runner.codes = c.codes;
        BundlePackageMSI package(m_doc.get(), "M1", msiPath(), "msi", "", -1);
        bool notRun = false;
        EXPECT_EQ(c.result, package.execute(notRun));
        ++entry;
        EXPECT_EQ(c.status, package.getStatus());
        ASSERT_EQ(c.runs, runner.calls.size());
        if (c.runs == 2) {
            EXPECT_EQ(installCommand() + " REBOOT=REALLYSUPPRESS REINSTALL=ALL REINSTALLMODE=vomus",
                      runner.calls[1].commandLine);
        }
        xmlNodePtr log = pkgLogs(savedDoc(), entry).at(0);
        EXPECT_EQ(std::to_string(c.recordedCode), attr(log, "osErrCode"));
        EXPECT_EQ(std::to_string(c.status), attr(log, "code"));
        const std::string text = content(log);
        if (c.recordedCode == 1603) {
            EXPECT_EQ("There was an installation error. This may be due to attempting an upgrade or downgrade "
                      "that the product does not allow.\n\nrun " +
                          std::to_string(c.runs) + " output",
                      text);
        } else if (c.recordedCode != 0) {
            EXPECT_EQ(errorText(c.recordedCode) + "\n\nrun " + std::to_string(c.runs) + " output", text);
        }
    }
}

TEST_F(BundlePackageInstallerTest, MsiEngineUpgrade) {
    // No upgrade program beside the package: the old engine is the failure.
    {
        ScriptedRunner runner(outputLog());
        runner.codes = {1613};
        BundlePackageMSI package(m_doc.get(), "M1", msiPath(), "msi", "", -1);
        bool notRun = false;
        EXPECT_EQ(3086, package.execute(notRun));
        EXPECT_EQ(1u, runner.calls.size());
        xmlNodePtr log = pkgLogs(savedDoc(), 1).at(0);
        EXPECT_EQ("1613", attr(log, "osErrCode"));
        EXPECT_EQ(errorText(1613) + "\n\nrun 1 output", content(log));
    }
    plimotest::writeFile(engineUpgrade(), "#!/bin/sh\nexit 0\n", true);
    const std::string bundleDir = plimotest::testDir() + "/bundle";
    // Engine upgraded (0 or 3010): the install runs again, a 1638 then leads
    // to one reinstall.
    {
        ScriptedRunner runner(outputLog());
        runner.codes = {1613, 3010, 1638, 3010};
        BundlePackageMSI package(m_doc.get(), "M2", msiPath(), "msi", "", -1);
        bool notRun = false;
        EXPECT_EQ(3073, package.execute(notRun));
        ASSERT_EQ(4u, runner.calls.size());
        EXPECT_EQ("\"" + engineUpgrade() + "\"", runner.calls[1].commandLine);
        EXPECT_EQ(bundleDir, runner.calls[1].workingDirectory);
        EXPECT_EQ(installCommand() + " REBOOT=REALLYSUPPRESS", runner.calls[2].commandLine);
        EXPECT_EQ(installCommand() + " REBOOT=REALLYSUPPRESS REINSTALL=ALL REINSTALLMODE=vomus",
                  runner.calls[3].commandLine);
        EXPECT_EQ("3010", attr(pkgLogs(savedDoc(), 2).at(0), "osErrCode"));
    }
    {
        ScriptedRunner runner(outputLog());
        runner.codes = {1613, 0, 0};
        BundlePackageMSI package(m_doc.get(), "M3", msiPath(), "msi", "", -1);
        bool notRun = false;
        EXPECT_EQ(0, package.execute(notRun));
        EXPECT_EQ(3u, runner.calls.size());
    }
    // A failing engine upgrade: no retry; its own code is recorded.
    {
        ScriptedRunner runner(outputLog());
        runner.codes = {1613, 5};
        BundlePackageMSI package(m_doc.get(), "M4", msiPath(), "msi", "", -1);
        bool notRun = false;
        EXPECT_EQ(3072, package.execute(notRun));
        EXPECT_EQ(2u, runner.calls.size());
        xmlNodePtr log = pkgLogs(savedDoc(), 4).at(0);
        EXPECT_EQ("5", attr(log, "osErrCode"));
        EXPECT_EQ("1", attr(log, "code"));
        EXPECT_EQ(errorText(5) + "\n\nrun 2 output", content(log));
    }
    // An upgrade program that cannot start: the package is missing.
    {
        ScriptedRunner runner(outputLog());
        runner.codes = {1613, ScriptedRunner::kNotStarted};
        BundlePackageMSI package(m_doc.get(), "M5", msiPath(), "msi", "", -1);
        bool notRun = false;
        EXPECT_EQ(3075, exceptionCode([&] { package.execute(notRun); }));
        EXPECT_EQ(BundlePackage::STATE_MISSING, package.getState());
        EXPECT_EQ("missing", attr(statusNode(savedDoc(), 5), "state"));
        EXPECT_FALSE(plimotest::fileExists(outputLog()));
    }
}

TEST_F(BundlePackageInstallerTest, PackageWithDigestIsCheckedBeforeTheInstallerStarts) {
    const std::string digest = "b2d6e91a2086151d526602bbba497382d318625a0e9f36ccd100c746bcf80663"; // "msi bytes"
    plimotest::writeFile(msiPath(), "msi bytes");
    plimotest::writeFile(engineUpgrade(), "#!/bin/sh\nexit 0\n", true);
    // An old engine: nothing vouches for the upgrade program, so it does
    // not start.
    {
        ScriptedRunner runner(outputLog());
        runner.codes = {1613};
        BundlePackageMSI package(m_doc.get(), "M1", msiPath(), "msi", "", -1);
        package.setExpectedDigest(digest);
        bool notRun = false;
        EXPECT_EQ(3086, package.execute(notRun));
        EXPECT_EQ(1u, runner.calls.size());
    }
    // Changed since the check that opened the run: neither the installer
    // nor a patch starts, and the run counts as failed.
    plimotest::writeFile(msiPath(), "other bytes");
    for (int entry = 2; entry <= 3; ++entry) {
        ScriptedRunner runner(outputLog());
        std::unique_ptr<BundlePackage> package;
        if (entry == 2) package = std::make_unique<BundlePackageMSI>(m_doc.get(), "M2", msiPath(), "msi", "", -1);
        else package = std::make_unique<BundlePackageMSP>(m_doc.get(), "P3", msiPath(), "msp", "", -1);
        package->setExpectedDigest(digest);
        bool notRun = false;
        EXPECT_EQ(3072, package->execute(notRun));
        EXPECT_TRUE(runner.calls.empty());
        EXPECT_EQ("1", attr(statusNode(savedDoc(), entry), "code"));
        EXPECT_EQ("SHA-256 mismatch: expected " + digest +
                      ", found a3ead5eedad5df82318c51685dbc1c147a36d1ff8584fc82de6b08d0bf63a795",
                  content(pkgLogs(savedDoc(), entry).at(0)));
    }
}

TEST_F(BundlePackageInstallerTest, MspReturnCodesFollowPreInstallEnv) {
    const std::string patch = plimotest::testDir() + "/bundle/fix.msp";
    const struct {
        bool preInstallEnv;
        int code;
        int result;
        int status;
    } cases[] = {
        {false, 3010, 0, 0}, {true, 3010, 3073, 2}, {true, 1641, 3073, 2},  {false, 0, 0, 0},
        {false, 1642, 0, 5}, {false, 1634, 0, 5},   {false, 1603, 3072, 1},
    };
    int entry = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + (c.preInstallEnv ? " preInstallEnv" : ""));
        m_doc->preInstallEnv(c.preInstallEnv);
        ScriptedRunner runner(outputLog());
        runner.codes = {c.code};
        BundlePackageMSP package(m_doc.get(), "P1", patch, "msp", "IGNORED=1", -1);
        bool notRun = true;
        EXPECT_EQ(c.result, package.execute(notRun));
        EXPECT_FALSE(notRun);
        EXPECT_EQ(c.status, package.getStatus());
        ++entry;
        const std::string command = "msiexec.exe /qn /p " + patch + " /le " + outputLog() + " REBOOT=REALLYSUPPRESS";
        ASSERT_EQ(1u, runner.calls.size());
        EXPECT_EQ(command, runner.calls[0].commandLine);
        EXPECT_EQ(command, exeCmd(savedDoc(), entry));
        xmlNodePtr log = pkgLogs(savedDoc(), entry).at(0);
        EXPECT_EQ(std::to_string(c.status), attr(log, "code"));
        EXPECT_EQ("<absent>", attr(log, "osErrCode"));
        EXPECT_EQ("run 1 output", content(log));
    }
}

TEST_F(BundlePackageInstallerTest, InstallerThatCannotStartWithAndWithoutIgnore) {
    const std::string patch = plimotest::testDir() + "/bundle/fix.msp";
    for (bool ignore : {false, true}) {
        m_doc->ignore(ignore);
        for (bool msi : {true, false}) {
            SCOPED_TRACE(std::string(msi ? "MSI" : "MSP") + (ignore ? " ignored" : ""));
            ScriptedRunner runner(outputLog());
            runner.codes = {ScriptedRunner::kNotStarted};
            plimotest::writeFile(outputLog(), "stale");
            std::unique_ptr<BundlePackage> package;
            if (msi) {
                package = std::make_unique<BundlePackageMSI>(m_doc.get(), "M1", msiPath(), "msi", "", -1);
            } else {
                package = std::make_unique<BundlePackageMSP>(m_doc.get(), "P1", patch, "msp", "", -1);
            }
            bool notRun = false;
            const int code = exceptionCode([&] { EXPECT_EQ(0, package->execute(notRun)); });
            EXPECT_EQ(ignore ? -1 : 3075, code);
            EXPECT_EQ(BundlePackage::STATE_MISSING, package->getState());
            const std::size_t n = packageCount(savedDoc());
            EXPECT_EQ("missing", attr(statusNode(savedDoc(), static_cast<int>(n)), "state"));
            EXPECT_FALSE(plimotest::fileExists(outputLog()));
        }
    }
}

TEST_F(BundlePackageInstallerTest, RealInstallerProgramOnPath) {
    const std::string binDir = plimotest::testDir() + "/bin";
    const std::string seen = plimotest::testDir() + "/seen";
    // A stand-in installer that writes its "/le" log and ends with 0; it
    // notes the package it is given, its bytes and its folder's mode.
    plimotest::writeFile(binDir + "/msiexec.exe",
                         "#!/bin/sh\nwhile [ $# -gt 0 ]; do\n  if [ \"$1\" = /le ]; then shift; "
                         "printf '=== Logging started: now\\ninstalled %s\\n=== Logging stopped: now\\n' "
                         "\"$MSI_NAME\" > \"$1\"; fi\n"
                         "  if [ \"$1\" = /i ]; then shift; { echo \"$1\"; cat \"$1\"; stat -c %a \"${1%/*}\"; } "
                         "> '" +
                             seen + "'; fi\n  shift\ndone\nexit 0\n",
                         true);
    ::setenv("MSI_NAME", "app", 1);
    prependPath(binDir);
    plimotest::writeFile(msiPath(), "msi bytes");
    BundlePackageMSI package(m_doc.get(), "M1", msiPath(), "msi", "", -1);
    bool notRun = false;
    EXPECT_EQ(0, package.execute(notRun));
    EXPECT_EQ("installed app", content(pkgLogs(savedDoc(), 1).at(0)));
    EXPECT_EQ(plimotest::lines(plimotest::readFile(seen)).at(0), msiPath());

    // With a digest the installer opens a private copy of the checked bytes,
    // which goes with the run; the log keeps the command line as built.
    BundlePackageMSI checked(m_doc.get(), "M3", msiPath(), "msi", "", -1);
    checked.setExpectedDigest("b2d6e91a2086151d526602bbba497382d318625a0e9f36ccd100c746bcf80663");
    EXPECT_EQ(0, checked.execute(notRun));
    const std::vector<std::string> lines = plimotest::lines(plimotest::readFile(seen));
    ASSERT_EQ(lines.size(), 2u);
    const std::string copyFolder = plimotest::testDir() + "/win/TEMP/plimo-verified-";
    EXPECT_EQ(lines[0].rfind(copyFolder, 0), 0u) << lines[0];
    EXPECT_EQ(lines[0].substr(lines[0].size() - 8), "/app.msi");
    EXPECT_EQ(lines[1], "msi bytes700");
    EXPECT_FALSE(plimotest::fileExists(lines[0].substr(0, lines[0].size() - 8)));
    EXPECT_EQ(exeCmd(savedDoc(), 2), "msiexec.exe /qn /i " + msiPath() + " /le " + outputLog());
    EXPECT_EQ(attr(packageNode(savedDoc(), 2), "sha256"),
              "b2d6e91a2086151d526602bbba497382d318625a0e9f36ccd100c746bcf80663");
    EXPECT_EQ(attr(packageNode(savedDoc(), 1), "sha256"), "<absent>");
    ::unsetenv("MSI_NAME");

    // Without an installer on PATH the package cannot start.
    ::setenv("PATH", (plimotest::testDir() + "/empty").c_str(), 1);
    m_doc->ignore(true);
    BundlePackageMSI missing(m_doc.get(), "M2", msiPath(), "msi", "", -1);
    EXPECT_EQ(0, missing.execute(notRun));
    EXPECT_EQ(BundlePackage::STATE_MISSING, missing.getState());
    EXPECT_EQ("missing", attr(statusNode(savedDoc(), 3), "state"));
}

TEST(GetWindowsErrorMessageTest, KnownCodesHaveTextOthersNone) {
    for (int code : {2, 3, 5, 87, 1603, 1613, 1618, 1619, 1620, 1624, 1625, 1633, 1634, 1638, 1639, 1641, 1642, 3010}) {
        std::string text = "old";
        GetWindowsErrorMessage(code, text);
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_NE(' ', text.front()) << code;
        EXPECT_NE('\n', text.back()) << code;
    }
    std::string text = "old";
    GetWindowsErrorMessage(12345, text);
    EXPECT_EQ("", text);
    GetWindowsErrorMessage(0, text);
    EXPECT_EQ("", text);
}
