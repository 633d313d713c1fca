// The execution state machine shared by every kind, the resume constructor,
// validation and the two text rules.
#include <sys/stat.h>

#include <sstream>

#include "BundlePackage.h"
#include "BundlePackageGZ.h"
#include "BundlePackageMSI.h"
#include "BundlePackageMSP.h"
#include "BundlePackageQPK.h"
#include "PackageTestSupport.h"
#include "VorkLogging.h"

using namespace packagetest;

namespace {

enum class Kind { QPK, MSI, MSP, GZ };
const Kind kAllKinds[] = {Kind::QPK, Kind::MSI, Kind::MSP, Kind::GZ};

const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::QPK: return "QPK";
        case Kind::MSI: return "MSI";
        case Kind::MSP: return "MSP";
        case Kind::GZ: return "GZ";
    }
    return "?";
}

std::unique_ptr<BundlePackage> resumed(Kind kind, BAXMLDoc* doc, xmlNodePtr node) {
    switch (kind) {
        case Kind::QPK: return std::make_unique<BundlePackageQPK>(doc, node);
        case Kind::MSI: return std::make_unique<BundlePackageMSI>(doc, node);
        case Kind::MSP: return std::make_unique<BundlePackageMSP>(doc, node);
        case Kind::GZ: return std::make_unique<BundlePackageGZ>(doc, node);
    }
    return nullptr;
}

// Exposes what a resumed package read from its entry.
class Probe : public BundlePackageQPK {
public:
    using BundlePackageQPK::BundlePackageQPK;
    const std::string& packageType() const { return m_sPackageType; }
    const std::string& installParams() const { return m_sInstallParams; }
    int updateOnly() const { return m_nUpdateOnly; }
    bool logNodeSet() const { return m_pLogNode != nullptr; }
};

} // namespace

class BundlePackageTest : public PackageTest {};

TEST_F(BundlePackageTest, RecordedOutcomesAreReportedWithoutRunning) {
    struct Row {
        const char* state;
        const char* code;
        int qpk, msi, msp, gz; // expected results per kind
        bool skippedRow;
    };
    const Row rows[] = {
        {"complete", "1", 3072, 3072, 3072, 3072, false},
        {"complete", "0", 0, 0, 0, 0, false},
        {"complete", "3", 0, 0, 0, 0, false},
        {"complete", "5", 0, 0, 0, 0, false},
        {"missing", "", 0, 0, 0, 0, false},
        {"skipped", "3", 0, 3087, 0, 3087, true},
    };
    for (const Row& row : rows) {
        for (Kind kind : kAllKinds) {
            SCOPED_TRACE(std::string(kindName(kind)) + " " + row.state + "/" + row.code);
            ScriptedRunner runner(outputLog());
            xmlNodePtr node = loadWithPackages(packageXml("/pkg/p1", row.state, row.code));
            auto package = resumed(kind, m_doc.get(), node);
            const int stateBefore = package->getState();
            bool notRun = false;
            const int expected = kind == Kind::QPK   ? row.qpk
                                 : kind == Kind::MSI ? row.msi
                                 : kind == Kind::MSP ? row.msp
                                                     : row.gz;
            EXPECT_EQ(expected, package->execute(notRun));
            // The skipped state is "done" only for the kinds that know it.
            const bool skippedUnknown = row.skippedRow && (kind == Kind::QPK || kind == Kind::MSP);
            EXPECT_EQ(!skippedUnknown, notRun);
            EXPECT_TRUE(runner.calls.empty());
            EXPECT_EQ(stateBefore, package->getState());
            EXPECT_EQ(1u, packageCount(doc()));
        }
    }
}

TEST_F(BundlePackageTest, RebootCompletesInstallersButRunsQpkAgainOnItsEntry) {
    for (Kind kind : kAllKinds) {
        SCOPED_TRACE(kindName(kind));
        ScriptedRunner runner(outputLog());
        xmlNodePtr node = loadWithPackages(packageXml("/pkg/p1", "complete", "2"),
                                           "reboot=\"false\" force=\"true\" ignore=\"false\" preInstallEnv=\"false\"");
        auto package = resumed(kind, m_doc.get(), node);
        bool notRun = false;
        const int result = package->execute(notRun);
        EXPECT_EQ(1u, packageCount(doc()));
        if (kind == Kind::QPK) {
            // Runs again, without " /f", into the same entry.
            EXPECT_EQ(0, result);
            EXPECT_FALSE(notRun);
            ASSERT_EQ(1u, runner.calls.size());
            EXPECT_EQ("/pkg/p1 /s /l=" + outputLog(), runner.calls[0].commandLine);
            EXPECT_EQ("/pkg/p1 /s /l=" + outputLog(), exeCmd(doc(), 1));
            EXPECT_EQ("2", attr(statusNode(doc(), 1), "status"));
            ASSERT_EQ(1u, pkgLogs(doc(), 1).size());
            EXPECT_EQ("run 1 output", content(pkgLogs(doc(), 1)[0]));
            EXPECT_EQ("0", attr(pkgLogs(doc(), 1)[0], "code"));
            EXPECT_FALSE(plimotest::fileExists(outputLog()));
        } else {
            // The reboot finished the work: complete with status 0, not run.
            EXPECT_EQ(0, result);
            EXPECT_TRUE(notRun);
            EXPECT_TRUE(runner.calls.empty());
            EXPECT_EQ(BundlePackage::STATE_COMPLETE, package->getState());
            EXPECT_EQ(0, package->getStatus());
            EXPECT_EQ("2", attr(statusNode(savedDoc(), 1), "status"));
        }
    }
}

TEST_F(BundlePackageTest, InterruptedAndResumeRequiredPackagesRunAgainOnTheirOwnEntry) {
    const Kind runnable[] = {Kind::QPK, Kind::MSI, Kind::MSP};
    for (const char* recorded : {"in-progress", "complete4"}) {
        for (Kind kind : runnable) {
            SCOPED_TRACE(std::string(kindName(kind)) + " " + recorded);
            ScriptedRunner runner(outputLog());
            const bool complete = std::string(recorded) == "complete4";
            xmlNodePtr node =
                loadWithPackages(packageXml("/pkg/p1", complete ? "complete" : "in-progress", complete ? "4" : ""),
                                 "reboot=\"false\" force=\"true\" ignore=\"false\" preInstallEnv=\"false\"");
            auto package = resumed(kind, m_doc.get(), node);
            bool notRun = true;
            EXPECT_EQ(0, package->execute(notRun));
            EXPECT_FALSE(notRun);
            ASSERT_EQ(1u, runner.calls.size());
            if (kind == Kind::QPK) {
                EXPECT_EQ("/pkg/p1 /f /s /l=" + outputLog(), runner.calls[0].commandLine);
            }
            // One entry per package: the run is recorded in the package's
            // entry, its command line the new one, its log one more line.
            xmlDocPtr saved = savedDoc();
            ASSERT_EQ(1u, packageCount(saved));
            EXPECT_EQ("complete", attr(statusNode(saved, 1), "state"));
            EXPECT_EQ("0", attr(statusNode(saved, 1), "code"));
            EXPECT_EQ(runner.calls[0].commandLine.substr(0, 7), exeCmd(saved, 1).substr(0, 7));
            EXPECT_NE("old command", exeCmd(saved, 1));
            EXPECT_EQ(1u, pkgLogs(saved, 1).size());
            EXPECT_EQ(BundlePackage::STATE_COMPLETE, package->getState());
        }
    }
}

TEST_F(BundlePackageTest, UnknownStateTextCountsAsNotRun) {
    for (Kind kind : {Kind::QPK, Kind::GZ}) {
        SCOPED_TRACE(kindName(kind));
        ScriptedRunner runner(outputLog());
        xmlNodePtr node = loadWithPackages(packageXml("/pkg/p1", "Complete", "1"));
        auto package = resumed(kind, m_doc.get(), node);
        EXPECT_EQ(BundlePackage::STATE_NOT_RUN, package->getState());
        EXPECT_EQ(0, package->getStatus());
        bool notRun = false;
        const int result = package->execute(notRun);
        // Run as new, on the package's one entry.
        ASSERT_EQ(1u, packageCount(doc()));
        if (kind == Kind::QPK) {
            EXPECT_EQ(0, result);
            EXPECT_EQ(1u, runner.calls.size());
            EXPECT_EQ("complete", attr(statusNode(doc(), 1), "state"));
        } else {
            EXPECT_EQ(3087, result);
            EXPECT_EQ("skipped", attr(statusNode(doc(), 1), "state"));
        }
    }
}

// The debug log at level 9 into a file of the test directory while in scope.
class CapturedLog {
public:
    explicit CapturedLog(const std::string& name)
        : m_file(plimotest::testDir() + "/" + name + ".log"), m_logging(m_file, 1, 9) {
        VorkSupport::VorkLogging::setInstance(&m_logging);
    }
    ~CapturedLog() { VorkSupport::VorkLogging::setInstance(nullptr); }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    // The records that read the recorded state, as "[level] text".
    std::vector<std::string> stateRecords() const {
        static const char* const phrases[] = {"::execute: package already", "::execute: package failed previously",
                                              "::execute: skipping package", "::execute: invalid code path"};
        std::vector<std::string> records;
        std::istringstream lines(plimotest::readFile(m_file));
        std::string line;
        while (std::getline(lines, line)) {
            for (const char* phrase : phrases) {
                if (line.find(phrase) != std::string::npos) {
                    records.push_back(line.substr(line.find(" [") + 1));
                    break;
                }
            }
        }
        return records;
    }

private:
    std::string m_file;
    VorkSupport::VorkLogging m_logging;
};

TEST_F(BundlePackageTest, RecordedStateIsLoggedUnderTheKindsNameAndLevel) {
    struct Row {
        const char* state;
        const char* code;
        Kind kind;
        std::vector<std::string> records; // with K for the class name
    };
    const std::string restarting = "[4] K::execute: package already executed, with hard dependency error, restarting";
    const std::string done = "[4] K::execute: package already executed, skipping";
    const std::string failedBefore = "[4] K::execute: package failed previously; report failed";
    const std::string invalid = "[1] K::execute: invalid code path encountered";
    const std::vector<Row> rows = {
        {"in-progress", "", Kind::QPK, {"[2] K::execute: package already started, restarting"}},
        {"in-progress", "", Kind::MSI, {"[2] K::execute: package already started, restarting"}},
        {"in-progress", "", Kind::MSP, {"[2] K::execute: package already started, restarting"}},
        {"complete", "1", Kind::QPK, {failedBefore, done}},
        {"complete", "1", Kind::MSI, {failedBefore, done}},
        {"complete", "1", Kind::MSP, {failedBefore, done}},
        {"complete", "1", Kind::GZ, {failedBefore, "[4] K::execute: package already executed or missing, skipping"}},
        {"complete", "2", Kind::QPK, {restarting}},
        {"complete", "2", Kind::MSI, {restarting, done}},
        {"complete", "2", Kind::MSP, {restarting, done}},
        {"complete", "2", Kind::GZ, {restarting, "[4] K::execute: package already executed or missing, skipping"}},
        {"complete", "4", Kind::QPK, {restarting}},
        {"complete", "4", Kind::MSI, {restarting}},
        {"complete", "4", Kind::MSP, {restarting}},
        {"missing", "", Kind::QPK, {done}},
        {"missing", "", Kind::MSI, {done}},
        {"missing", "", Kind::MSP, {done}},
        {"skipped", "3", Kind::QPK, {invalid}},
        {"skipped", "3", Kind::MSI, {"[4] K::execute: skipping package (preinstallenv flag not true)"}},
        {"skipped", "3", Kind::MSP, {invalid}},
        {"skipped", "3", Kind::GZ, {"[4] K::execute: skipping package"}},
    };
    int n = 0;
    for (const Row& row : rows) {
        const std::string className =
            row.kind == Kind::GZ ? "BundlePackage" : std::string("BundlePackage") + kindName(row.kind);
        SCOPED_TRACE(className + " " + row.state + "/" + row.code);
        ScriptedRunner runner(outputLog());
        xmlNodePtr node = loadWithPackages(packageXml("/pkg/p1", row.state, row.code));
        auto package = resumed(row.kind, m_doc.get(), node);
        CapturedLog log("state" + std::to_string(++n));
        bool notRun = false;
        package->execute(notRun);
        std::vector<std::string> expected;
        for (std::string record : row.records) {
            record.replace(record.find('K'), 1, className);
            expected.push_back(record);
        }
        EXPECT_EQ(expected, log.stateRecords());
    }
}

TEST_F(BundlePackageTest, GzPackageIsSkippedWithItsMessage) {
    ScriptedRunner runner(outputLog());
    BundlePackageGZ package(m_doc.get(), "G1", "/pkg/tools.tar.gz", "gz", "-x", 1);
    bool notRun = false;
    EXPECT_EQ(3087, package.execute(notRun));
    EXPECT_TRUE(notRun);
    EXPECT_TRUE(runner.calls.empty());
    EXPECT_EQ(BundlePackage::STATE_SKIPPED, package.getState());
    EXPECT_EQ(3, package.getStatus());

    xmlDocPtr saved = savedDoc();
    ASSERT_EQ(1u, packageCount(saved));
    xmlNodePtr entry = packageNode(saved, 1);
    EXPECT_EQ("G1", attr(entry, "releaseID"));
    EXPECT_EQ("gz", attr(entry, "packageType"));
    EXPECT_EQ("-x", attr(entry, "installparams"));
    EXPECT_EQ("true", attr(entry, "updateonly"));
    EXPECT_EQ("skipped", attr(statusNode(saved, 1), "state"));
    EXPECT_EQ("3", attr(statusNode(saved, 1), "code"));
    EXPECT_EQ("/pkg/tools.tar.gz", exeCmd(saved, 1));
    ASSERT_EQ(1u, pkgLogs(saved, 1).size());
    EXPECT_EQ("The update package was skipped. GZ package types are invalid for Windows systems.",
              content(pkgLogs(saved, 1)[0]));

    // Rebuilt after a reboot, the skipped entry stays skipped.
    BundlePackageGZ again(m_doc.get(), packageNode(doc(), 1));
    EXPECT_EQ(3087, again.execute(notRun));
    EXPECT_EQ(1u, packageCount(doc()));

    // An entry that asks to run it again has nothing to run: refused with
    // a plain exception, the entry left as it was.
    for (const char* recorded : {"in-progress", "complete4"}) {
        SCOPED_TRACE(recorded);
        const bool complete = std::string(recorded) == "complete4";
        xmlNodePtr node =
            loadWithPackages(packageXml("/pkg/p1", complete ? "complete" : "in-progress", complete ? "4" : ""));
        BundlePackageGZ rerun(m_doc.get(), node);
        EXPECT_EQ(0, exceptionCode([&] { rerun.execute(notRun); }));
        EXPECT_TRUE(runner.calls.empty());
        EXPECT_EQ(1u, packageCount(doc()));
        EXPECT_EQ(complete ? "complete" : "in-progress", attr(statusNode(doc(), 1), "state"));
        EXPECT_EQ("old command", exeCmd(doc(), 1));
    }
}

TEST_F(BundlePackageTest, ResumeConstructorReadsTheEntry) {
    xmlNodePtr node = loadWithPackages(
        "<Package releaseID=\"R7\" packageType=\"msi\" installparams=\"A=1\" updateonly=\"TRUE\" path=\"/p/x.msi\">"
        "<Status state=\"complete\" code=\"3010x\" status=\"1\"/><ExeCmd/></Package>"
        "<Package path=\"/p/y\"><Status state=\"skipped\"/><ExeCmd/></Package>"
        "<Package releaseID=\"R9\"><Status state=\"complete\" code=\"0\"/><ExeCmd/></Package>"
        "<Package path=\"/p/z\"><Status state=\"complete\"/><ExeCmd/></Package>"
        "<Package path=\"/p/w\" updateonly=\"yes\"><ExeCmd/></Package>");
    Probe full(m_doc.get(), node);
    EXPECT_EQ("R7", full.getReleaseID());
    EXPECT_EQ("/p/x.msi", full.getPackageAbsFileName());
    EXPECT_EQ("msi", full.packageType());
    EXPECT_EQ("A=1", full.installParams());
    EXPECT_EQ(1, full.updateOnly());
    EXPECT_EQ(BundlePackage::STATE_COMPLETE, full.getState());
    EXPECT_EQ(3010, full.getStatus()); // read as atoi reads it
    EXPECT_TRUE(full.logNodeSet());

    Probe bare(m_doc.get(), packageNode(doc(), 2));
    EXPECT_EQ("", bare.getReleaseID());
    EXPECT_EQ("", bare.packageType());
    EXPECT_EQ("", bare.installParams());
    EXPECT_EQ(-1, bare.updateOnly());
    EXPECT_EQ(BundlePackage::STATE_SKIPPED, bare.getState());

    // path, state, and code on a complete entry are required.
    EXPECT_EQ(0, exceptionCode([&] { Probe p(m_doc.get(), packageNode(doc(), 3)); }));
    EXPECT_EQ(0, exceptionCode([&] { Probe p(m_doc.get(), packageNode(doc(), 4)); }));
    EXPECT_EQ(0, exceptionCode([&] { Probe p(m_doc.get(), packageNode(doc(), 5)); }));
}

TEST_F(BundlePackageTest, ValidateRecordsAMissingFile) {
    const std::string file = plimotest::writeFile(plimotest::testDir() + "/bundle/p.exe", "x");
    EXPECT_EQ(0, BundlePackageQPK(m_doc.get(), "R1", file, "", "", -1).validate());
    EXPECT_EQ(0, BundlePackageQPK(m_doc.get(), "R2", plimotest::testDir() + "/bundle", "", "", -1).validate());
    EXPECT_EQ(0u, packageCount(doc()));

    const std::string missing = plimotest::testDir() + "/bundle/gone.exe";
    EXPECT_EQ(3075, BundlePackageMSI(m_doc.get(), "R3", missing, "msi", "P=1", 0).validate());
    ASSERT_EQ(1u, packageCount(doc()));
    EXPECT_EQ("missing", attr(statusNode(doc(), 1), "state"));
    EXPECT_EQ(missing, attr(packageNode(doc(), 1), "path"));
    EXPECT_EQ("false", attr(packageNode(doc(), 1), "updateonly"));
}

TEST(BundlePackageTextRules, CaseInsensitiveComparisonAndUpdateOnlyReading) {
    EXPECT_TRUE(BundlePackage::equalsNoCase("MSI", "msi"));
    EXPECT_TRUE(BundlePackage::equalsNoCase("", ""));
    EXPECT_FALSE(BundlePackage::equalsNoCase("msi", "msp"));
    EXPECT_FALSE(BundlePackage::equalsNoCase("msi", "msi "));
    // A text ends at its first NUL.
    EXPECT_TRUE(BundlePackage::equalsNoCase(std::string("GZ\0junk", 7), "gz"));

    EXPECT_EQ(1, BundlePackage::readUpdateOnly("TRUE"));
    EXPECT_EQ(1, BundlePackage::readUpdateOnly("true"));
    EXPECT_EQ(0, BundlePackage::readUpdateOnly("yes"));
    EXPECT_EQ(0, BundlePackage::readUpdateOnly("false"));
    EXPECT_EQ(-1, BundlePackage::readUpdateOnly(""));
}
