// QPK programs: real stand-in programs started through the real program
// runner, their command lines, exit codes and log files.
#include "BundlePackageQPK.h"
#include "PackageTestSupport.h"

using namespace packagetest;

namespace {

// A stand-in QPK program: writes its arguments to the "/l=" log file (unless
// told not to), then ends as told ("exit N", or a signal).
std::string writeQpk(const std::string& path, const std::string& ending, bool writeLog = true) {
    std::string script =
        "#!/bin/sh\nlog=\nfor a in \"$@\"; do\n  case \"$a\" in /l=*) log=\"${a#/l=}\" ;; esac\ndone\n";
    if (writeLog) script += "if [ -n \"$log\" ]; then printf 'qpk ran with: %s\\n' \"$*\" > \"$log\"; fi\n";
    script += ending + "\n";
    return plimotest::writeFile(path, script, true);
}

} // namespace

class BundlePackageQPKTest : public PackageTest {};

TEST_F(BundlePackageQPKTest, ExitCodesOfRealPrograms) {
    const struct {
        const char* ending;
        int exitCode;
        int result;
        const char* statusNumber;
    } cases[] = {
        {"exit 0", 0, 0, "2"}, {"exit 1", 1, 3072, "5"}, {"exit 2", 2, 3073, "3"},
        {"exit 3", 3, 0, "2"}, {"exit 4", 4, 3074, "4"}, {"kill -KILL $$", -1, 3072, "5"},
    };
    int entry = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ending);
        const std::string program =
            writeQpk(plimotest::testDir() + "/bundle/qpk" + std::to_string(entry) + ".bin", c.ending);
        BundlePackageQPK package(m_doc.get(), "R" + std::to_string(entry), program, "qpk", "", -1);
        bool notRun = true;
        EXPECT_EQ(c.result, package.execute(notRun));
        EXPECT_FALSE(notRun);
        ++entry;
        EXPECT_EQ(BundlePackage::STATE_COMPLETE, package.getState());
        EXPECT_EQ(c.exitCode, package.getStatus());

        xmlDocPtr saved = savedDoc();
        ASSERT_EQ(static_cast<std::size_t>(entry), packageCount(saved));
        EXPECT_EQ("complete", attr(statusNode(saved, entry), "state"));
        EXPECT_EQ(std::to_string(c.exitCode), attr(statusNode(saved, entry), "code"));
        EXPECT_EQ(c.statusNumber, attr(statusNode(saved, entry), "status"));
        auto logs = pkgLogs(saved, entry);
        ASSERT_EQ(1u, logs.size());
        EXPECT_EQ("qpk ran with: /s /l=" + outputLog(), content(logs[0]));
        EXPECT_EQ("<absent>", attr(logs[0], "osErrCode"));
        // The output log belongs to one run.
        EXPECT_FALSE(plimotest::fileExists(outputLog()));
    }
}

TEST_F(BundlePackageQPKTest, CommandLineIsUnquotedWithForceFirstAndArgumentsLast) {
    m_doc->force(true);
    const std::string program = writeQpk(plimotest::testDir() + "/my bundle/up date.bin", "exit 0");
    BundlePackageQPK package(m_doc.get(), "R1", program, "qpk", "-q -x=1", 0);
    bool notRun = false;
    EXPECT_EQ(0, package.execute(notRun));

    const std::string expected = program + " /f /s /l=" + outputLog() + " -q -x=1";
    EXPECT_EQ(expected, exeCmd(savedDoc(), 1));
    // The path with blanks started as one program; the rest are its arguments.
    EXPECT_EQ("qpk ran with: /f /s /l=" + outputLog() + " -q -x=1", content(pkgLogs(savedDoc(), 1).at(0)));
}

TEST_F(BundlePackageQPKTest, ProgramWithoutLogFileRecordsItsRunAndRaises) {
    const std::string program = writeQpk(plimotest::testDir() + "/bundle/quiet.bin", "exit 2", false);
    BundlePackageQPK package(m_doc.get(), "R1", program, "qpk", "", -1);
    bool notRun = false;
    EXPECT_EQ(3079, exceptionCode([&] { package.execute(notRun); }));
    // The run is over: its exit code is saved with a line saying that no
    // output log could be read.
    EXPECT_EQ("complete", attr(statusNode(savedDoc(), 1), "state"));
    EXPECT_EQ("2", attr(statusNode(savedDoc(), 1), "code"));
    EXPECT_EQ(1u, pkgLogs(savedDoc(), 1).size());
}

TEST_F(BundlePackageQPKTest, ProgramThatCannotStartIsRecordedMissing) {
    const std::string absent = plimotest::testDir() + "/bundle/absent.bin";
    plimotest::writeFile(outputLog(), "left from before");
    BundlePackageQPK package(m_doc.get(), "R1", absent, "qpk", "", -1);
    bool notRun = false;
    EXPECT_EQ(3075, exceptionCode([&] { package.execute(notRun); }));
    EXPECT_EQ(BundlePackage::STATE_MISSING, package.getState());
    EXPECT_EQ("missing", attr(statusNode(savedDoc(), 1), "state"));
    EXPECT_FALSE(plimotest::fileExists(outputLog()));

    m_doc->ignore(true);
    BundlePackageQPK ignored(m_doc.get(), "R2", absent, "qpk", "", -1);
    EXPECT_EQ(0, ignored.execute(notRun));
    EXPECT_EQ(BundlePackage::STATE_MISSING, ignored.getState());
    EXPECT_EQ("missing", attr(statusNode(savedDoc(), 2), "state"));
}

TEST_F(BundlePackageQPKTest, RestartedProgramThatCannotStartLeavesItsEntryAlone) {
    const std::string absent = plimotest::testDir() + "/bundle/absent.bin";
    for (bool ignore : {false, true}) {
        SCOPED_TRACE(ignore ? "ignored" : "not ignored");
        plimotest::writeFile(
            m_logFile, "<?xml version=\"1.0\"?>\n<BundleLog update-id=\"U1\"><BundleSettings bundle-path=\"/b/\" "
                       "ignore=\"" +
                           std::string(ignore ? "true" : "false") + "\"/><Package releaseID=\"R1\" path=\"" + absent +
                           "\"><Status state=\"complete\" code=\"2\" status=\"2\"/><ExeCmd>old</ExeCmd>"
                           "</Package></BundleLog>\n");
        m_doc->load();
        plimotest::writeFile(outputLog(), "left from before");
        BundlePackageQPK package(m_doc.get(), packageNode(doc(), 1));
        bool notRun = false;
        EXPECT_EQ(ignore ? -1 : 3075, exceptionCode([&] { EXPECT_EQ(0, package.execute(notRun)); }));
        EXPECT_EQ(BundlePackage::STATE_MISSING, package.getState());
        EXPECT_EQ(0, package.getStatus());
        EXPECT_FALSE(plimotest::fileExists(outputLog()));
        // The entry from before the reboot still says what that run ended with.
        ASSERT_EQ(1u, packageCount(doc()));
        EXPECT_EQ("complete", attr(statusNode(doc(), 1), "state"));
        EXPECT_EQ("2", attr(statusNode(doc(), 1), "code"));
    }
}

TEST_F(BundlePackageQPKTest, RebootRequiredRunContinuesInTheSameEntryAfterReboot) {
    m_doc->force(true);
    const std::string program = writeQpk(plimotest::testDir() + "/bundle/twice.bin", "exit 2");
    {
        BundlePackageQPK first(m_doc.get(), "R1", program, "qpk", "", -1);
        bool notRun = false;
        EXPECT_EQ(3073, first.execute(notRun));
    }
    // After the reboot the package is rebuilt from its entry and runs again
    // into it, this time without " /f".
    writeQpk(program, "exit 0");
    BAXMLDoc resumedLog(m_logFile);
    resumedLog.load();
    resumedLog.qpkLogName = outputLog();
    BundlePackageQPK again(&resumedLog, packageNode(resumedLog.getDocument(), 1));
    bool notRun = true;
    EXPECT_EQ(0, again.execute(notRun));
    xmlDocPtr saved = savedDoc();
    ASSERT_EQ(1u, packageCount(saved));
    auto logs = pkgLogs(saved, 1);
    ASSERT_EQ(2u, logs.size());
    EXPECT_EQ("qpk ran with: /f /s /l=" + outputLog(), content(logs[0]));
    EXPECT_EQ("qpk ran with: /s /l=" + outputLog(), content(logs[1]));
    EXPECT_EQ("0", attr(logs[1], "code"));
    EXPECT_EQ("2", attr(statusNode(saved, 1), "status"));
}
