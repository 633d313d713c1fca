#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include "BAXMLDoc.h"
#include "BAXmlText.h"
#include "PluginClient.h"
#include "TestEnvironment.h"
#include "VorkAtomicFile.h"
#include "VorkFaultSeam.h"
#include "ZipWriter.h"

namespace fs = std::filesystem;
using plimotest::fileExists;
using plimotest::readFile;
using plimotest::testDir;
using plimotest::writeFile;

namespace {

PluginClient& plugin() {
    static PluginClient client;
    return client;
}

std::string systemTemp() { return testDir() + "/win/TEMP"; }
std::string internalLog() { return systemTemp() + "/BAUpdate.xml"; }
std::string lockFile() { return systemTemp() + "/plimo.tmp"; }
std::string unitFile() { return testDir() + "/units/plimo.service"; }
std::string bundleDir() { return testDir() + "/bundle"; }

// A stand-in QPK program: writes its "/l=" log and ends with the given code.
std::string qpkScript(const std::string& name, int exitCode, const std::string& extra = "") {
    return "#!/bin/sh\n"
           "log=\n"
           "for a in \"$@\"; do case \"$a\" in /l=*) log=\"${a#/l=}\";; esac; done\n"
           "echo \"" +
           name + " ran: $*\" > \"$log\"\n" + extra + "exit " + std::to_string(exitCode) + "\n";
}

struct Package {
    Package(std::string n, int code, std::string more = "", bool exists = true)
        : name(std::move(n)), exitCode(code), extra(std::move(more)), present(exists) {}
    std::string name;
    int exitCode;
    std::string extra; // more shell lines run before the exit
    bool present;
};

std::string definition(const std::vector<Package>& packages, const std::string& targets = "") {
    std::string xml = "<?xml version=\"1.0\"?>\n<SoftwareBundle>" + targets + "<Contents>";
    for (const auto& p : packages) xml += "<Package releaseID=\"" + p.name + "\" path=\"" + p.name + "\"/>";
    return xml + "</Contents></SoftwareBundle>\n";
}

void makeBundle(const std::vector<Package>& packages, const std::string& targets = "") {
    writeFile(bundleDir() + "/bundle.xml", definition(packages, targets));
    for (const auto& p : packages)
        if (p.present) writeFile(bundleDir() + "/" + p.name, qpkScript(p.name, p.exitCode, p.extra), true);
}

// The first value of a key wins, so the extra entries go first.
std::vector<std::string> updateOf(const std::vector<std::string>& extra) {
    std::vector<std::string> v{"zuacmd=update"};
    v.insert(v.end(), extra.begin(), extra.end());
    for (const char* entry : {"bundle=bundle.xml", "zuausrmask=7", "zuausrinfo=TestUsr"}) v.push_back(entry);
    v.push_back("bundlepath=" + bundleDir());
    return v;
}

int statusOf(const std::string& answer) {
    std::smatch m;
    if (!std::regex_search(answer, m, std::regex("<SMStatus result=\"(-?[0-9]+)\""))) return -99999;
    return std::stoi(m[1]);
}

// Sends an update and answers its status; the answer must exist.
int update(const std::vector<std::string>& extra, std::string* answerOut = nullptr) {
    auto answer = plugin().send(updateOf(extra));
    EXPECT_TRUE(answer.has_value()) << "the plug-in gave no answer";
    if (!answer) return -99999;
    if (answerOut) *answerOut = *answer;
    return statusOf(*answer);
}

long peakMemoryKiB() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> extractedDirectories() {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(testDir() + "/tmp"))
        if (e.path().filename().string().rfind("plimo", 0) == 0) found.push_back(e.path().string());
    return found;
}

class UpdateFunction : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(plugin().loaded()) << plugin().error(); }
};

} // namespace

TEST_F(UpdateFunction, CleanUpdateLeavesOnlyTheFinalLogOfItsId) {
    makeBundle({{"first.sh", 0}, {"second.sh", 0}});
    std::string answer;
    EXPECT_EQ(update({"updateid=U1"}, &answer), 0);
    EXPECT_TRUE(contains(answer, "update-id=\"U1\"")) << answer;
    EXPECT_FALSE(contains(answer, "stable=")) << answer;

    std::string finalLog = readFile(systemTemp() + "/U1.xml");
    EXPECT_TRUE(contains(finalLog, "first.sh ran: /s /l=" + systemTemp() + "/QPK.log")) << finalLog;
    EXPECT_TRUE(contains(finalLog, "second.sh ran:")) << finalLog;
    EXPECT_TRUE(contains(finalLog, "reboot=\"false\""));
    EXPECT_TRUE(contains(finalLog, "clearpackage=\"true\""));
    EXPECT_FALSE(contains(finalLog, "<Progress"));
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_FALSE(fileExists(lockFile()));
    EXPECT_FALSE(fileExists(systemTemp() + "/QPK.log"));
    EXPECT_FALSE(fileExists(unitFile()));

    // Without an update id the internal log simply goes at the end.
    EXPECT_EQ(update({}), 0);
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_FALSE(fileExists(lockFile()));
}

struct ResultRow {
    const char* label;
    std::vector<int> exitCodes;
    std::vector<std::string> options;
    int expected;
    bool rebootsAndResumes;
};

class UpdateResult : public UpdateFunction, public ::testing::WithParamInterface<ResultRow> {};

TEST_P(UpdateResult, FollowsTheDecisionTable) {
    const ResultRow& row = GetParam();
    std::vector<Package> packages;
    for (std::size_t i = 0; i < row.exitCodes.size(); ++i)
        packages.push_back({"pkg" + std::to_string(i) + ".sh", row.exitCodes[i]});
    makeBundle(packages);
    std::vector<std::string> options = row.options;
    options.push_back("updateid=U1");
    std::string answer;
    EXPECT_EQ(update(options, &answer), row.expected) << answer;
    EXPECT_FALSE(fileExists(lockFile()));
    if (row.rebootsAndResumes) {
        // The update waits for its resume: internal log kept, stable, counted.
        std::string log = readFile(internalLog());
        EXPECT_TRUE(contains(log, "<rebootCount rebootCount=\"1\"/>")) << log;
        EXPECT_FALSE(contains(log, "stable=\"false\"")) << log;
        EXPECT_FALSE(fileExists(systemTemp() + "/U1.xml"));
        std::string unit = readFile(unitFile());
        EXPECT_TRUE(contains(unit, "zuasvchost plimo zuacmd=resume updateid=U1\n")) << unit;
        EXPECT_TRUE(contains(unit, "Description=Bundle Applicator")) << unit;
    } else {
        EXPECT_FALSE(fileExists(internalLog()));
        EXPECT_FALSE(fileExists(unitFile()));
        std::string finalLog = readFile(systemTemp() + "/U1.xml");
        EXPECT_TRUE(contains(finalLog, "<SMStatus result=\"" + std::to_string(row.expected) + "\"")) << finalLog;
        EXPECT_FALSE(contains(finalLog, "<Progress")) << finalLog;
        EXPECT_FALSE(contains(finalLog, "<rebootCount")) << finalLog;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UpdateResult,
    ::testing::Values(
        ResultRow{"success", {0, 0}, {}, 0, false}, ResultRow{"unknown_code_counts_as_done", {3}, {}, 0, false},
        ResultRow{"failure", {1, 0}, {}, 3072, false},
        ResultRow{"failure_continued", {1, 0}, {"continueonfailure=true"}, 3085, false},
        ResultRow{"reboot_without_option", {2, 0}, {}, 3073, false},
        ResultRow{"reboot_option_not_exactly_true", {2}, {"reboot=TRUE"}, 3073, false},
        ResultRow{"reboot", {2, 0}, {"reboot=true"}, 3082, true},
        ResultRow{"resume_without_option", {4}, {}, 3074, false},
        ResultRow{"resume", {0, 4}, {"reboot=true"}, 3083, true},
        ResultRow{"reboot_and_failure_continued", {2, 1}, {"reboot=true", "continueonfailure=true"}, 3085, true},
        ResultRow{"reboot_and_failure", {2, 1}, {"reboot=true"}, 3072, true},
        ResultRow{"reboot_and_failure_without_option", {2, 1}, {"continueonfailure=true"}, 3084, false}),
    [](const ::testing::TestParamInfo<ResultRow>& info) { return std::string(info.param.label); });

TEST_F(UpdateFunction, ResumeCommandLineComesFromRestartParamsAndIsCheckedFirst) {
    makeBundle({{"a.sh", 2}});
    EXPECT_EQ(update({"reboot=true", "restart-params=plimo zuacmd=resume updateid=X dbglevel=4"}), 3082);
    EXPECT_TRUE(contains(readFile(unitFile()), "zuasvchost plimo zuacmd=resume updateid=X dbglevel=4\n"));
    fs::remove(unitFile());
    fs::remove(internalLog());

    // Without an update id the command line has none.
    EXPECT_EQ(update({"reboot=true"}), 3082);
    EXPECT_TRUE(contains(readFile(unitFile()), "zuasvchost plimo zuacmd=resume\n"));
    fs::remove(unitFile());
    fs::remove(internalLog());

    // A line break would smuggle lines into the unit file: refused, and
    // nothing runs or stays.
    std::string answer;
    EXPECT_EQ(
        update({"reboot=true", "updateid=U2", "restart-params=plimo zuacmd=resume\nExecStartPre=/bin/evil"}, &answer),
        3079);
    EXPECT_FALSE(fileExists(unitFile()));
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_FALSE(fileExists(systemTemp() + "/U2.xml"));
    EXPECT_FALSE(fileExists(lockFile()));

    // Without its resume service the update would wait for ever after the
    // restart: it ends as failed instead, and is finished off.
    writeFile(testDir() + "/file", "");
    ::setenv("VSUPT_SERVICE_DIR", (testDir() + "/file/units").c_str(), 1);
    EXPECT_EQ(update({"reboot=true", "updateid=U3"}), 3079);
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_EQ(statusOf(readFile(systemTemp() + "/U3.xml")), 3079);
}

TEST_F(UpdateFunction, DeadUpdateIsKeptAsInterruptedUnlessItsServiceWaits) {
    std::string oldDir = testDir() + "/tmp/plimoDEAD01";
    writeFile(oldDir + "/bundle.xml", "<SoftwareBundle/>");
    const std::string dead =
        "<?xml version=\"1.0\"?>\n<BundleLog update-id=\"OLD\"><SMStatus result=\"0\">Success</SMStatus>"
        "<BundleSettings bundle-path=\"" +
        oldDir + "\"><BundlePackage bundle-package=\"" + testDir() +
        "/old.zip\"/><Bundle bundle=\"bundle.xml\" stable=\"false\"/><UserInfo/></BundleSettings>"
        "<Package releaseID=\"P\" path=\"/p\"><Status state=\"in-progress\"/><ExeCmd>/p</ExeCmd></Package>"
        "</BundleLog>\n";
    writeFile(internalLog(), dead);
    makeBundle({{"a.sh", 0}});
    // With its resume service installed, the update waits for its resume.
    writeFile(unitFile(), "[Service]\nExecStart=/old\n");
    EXPECT_EQ(update({}), 3077);
    EXPECT_EQ(readFile(internalLog()), dead);
    EXPECT_TRUE(fs::exists(oldDir));

    // Without it, its record is finished as interrupted and kept; the new
    // update runs.
    ::unlink(unitFile().c_str());
    EXPECT_EQ(update({}), 0);
    EXPECT_FALSE(fs::exists(oldDir));
    EXPECT_FALSE(fileExists(internalLog()));
    const std::string kept = readFile(systemTemp() + "/OLD.xml");
    EXPECT_TRUE(contains(kept, "<SMStatus result=\"3079\""));
    EXPECT_TRUE(contains(kept, "<Status state=\"complete\" code=\"-1\" status=\"5\"/>"));
    EXPECT_TRUE(contains(kept, BAXMLDoc::kInterruptedRunText));
}

TEST_F(UpdateFunction, AStableInternalLogWaitsForItsResume) {
    std::string waiting =
        "<?xml version=\"1.0\"?>\n<BundleLog update-id=\"W\"><SMStatus result=\"3082\">x</SMStatus>"
        "<BundleSettings bundle-path=\"/b/\" reboot=\"true\"><Bundle bundle=\"bundle.xml\"/><UserInfo/>"
        "</BundleSettings><rebootCount rebootCount=\"1\"/></BundleLog>\n";
    writeFile(internalLog(), waiting);
    writeFile(unitFile(), "[Service]\nExecStart=/waiting\n");
    makeBundle({{"a.sh", 0, "touch \"" + testDir() + "/ran\"\n"}});
    EXPECT_EQ(update({"updateid=W2"}), 3077);
    EXPECT_EQ(readFile(internalLog()), waiting);
    EXPECT_EQ(readFile(unitFile()), "[Service]\nExecStart=/waiting\n");
    EXPECT_FALSE(fileExists(testDir() + "/ran"));
    EXPECT_FALSE(fileExists(systemTemp() + "/W2.xml"));
    EXPECT_FALSE(fileExists(lockFile()));

    // The same log with a final status and no service left is an update that
    // ended without being finished off: it is finished, and the update runs.
    ::unlink(unitFile().c_str());
    std::string ended = std::regex_replace(waiting, std::regex("3082"), "3072");
    writeFile(internalLog(), ended);
    EXPECT_EQ(update({"updateid=W2"}), 0);
    EXPECT_TRUE(fileExists(testDir() + "/ran"));
    EXPECT_TRUE(contains(readFile(systemTemp() + "/W.xml"), "<SMStatus result=\"3072\""));

    // A log that cannot be read is moved aside, never deleted, and blocks
    // nothing.
    writeFile(internalLog(), "<BundleLog><SMStat");
    EXPECT_EQ(update({"updateid=W3"}), 0);
    EXPECT_FALSE(fileExists(internalLog()));
    int aside = 0;
    for (const auto& entry : fs::directory_iterator(systemTemp()))
        if (entry.path().filename().string().rfind("BAUpdate.xml.unreadable-", 0) == 0)
            aside += readFile(entry.path()) == "<BundleLog><SMStat";
    EXPECT_EQ(aside, 1);
}

TEST_F(UpdateFunction, AnotherProcessHoldingTheLockMeansUpdateInProgress) {
    makeBundle({{"a.sh", 0, "touch \"" + testDir() + "/ran\"\n"}});
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        int fd = ::open(lockFile().c_str(), O_WRONLY | O_CREAT, 0600);
        char c = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
        if (::write(ready[1], &c, 1) != 1) ::_exit(2);
        ::read(release[0], &c, 1);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    std::string answer;
    EXPECT_EQ(update({"updateid=U1"}, &answer), 3077);
    EXPECT_TRUE(contains(answer, "System update is in progress.")) << answer;
    EXPECT_FALSE(fileExists(testDir() + "/ran"));
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_TRUE(fileExists(lockFile())) << "the holder's lock file stays";
    ASSERT_EQ(::write(release[1], "x", 1), 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
    // The holder is gone: its leftover file does not block.
    EXPECT_EQ(update({"updateid=U1"}), 0);
    EXPECT_TRUE(fileExists(testDir() + "/ran"));
}

TEST_F(UpdateFunction, SameUpdateIdRemovesThePriorFinalLogBeforeTheRun) {
    writeFile(systemTemp() + "/U1.xml", "<BundleLog prior=\"yes\"/>");
    std::string check = "if [ -e \"" + systemTemp() +
                        "/U1.xml\" ]; then echo PRIOR-PRESENT >> \"$log\"; "
                        "else echo PRIOR-GONE >> \"$log\"; fi\n";
    makeBundle({{"a.sh", 0, check}});
    EXPECT_EQ(update({"updateid=U1"}), 0);
    std::string finalLog = readFile(systemTemp() + "/U1.xml");
    EXPECT_TRUE(contains(finalLog, "PRIOR-GONE")) << finalLog;
    EXPECT_FALSE(contains(finalLog, "prior=")) << finalLog;
}

TEST_F(UpdateFunction, ZippedBundlePackageIsExtractedRunAndRemoved) {
    std::string zip = testDir() + "/bundle.zip";
    ASSERT_TRUE(ZipWriter()
                    .file("bundle.xml", definition({{"pkgs/a.sh", 0}}))
                    .add("pkgs/", "", 0755, ZipWriter::Kind::Directory)
                    .file("pkgs/a.sh", qpkScript("zipped", 0), 0755)
                    .write(zip));
    auto send = [&](const std::vector<std::string>& extra) {
        std::vector<std::string> v{"zuacmd=update", "bundlepackage=" + zip, "zuausrinfo=TestUsr", "updateid=Z"};
        v.insert(v.end(), extra.begin(), extra.end());
        auto answer = plugin().send(v);
        return answer ? statusOf(*answer) : -99999;
    };
    EXPECT_EQ(send({}), 0);
    std::string finalLog = readFile(systemTemp() + "/Z.xml");
    EXPECT_TRUE(contains(finalLog, "zipped ran:")) << finalLog;
    EXPECT_TRUE(contains(finalLog, "bundle-package=\"" + zip + "\"")) << finalLog;
    EXPECT_TRUE(extractedDirectories().empty());
    EXPECT_TRUE(fileExists(zip));

    EXPECT_EQ(send({"clearpackage=true"}), 0);
    EXPECT_FALSE(fileExists(zip));
    EXPECT_TRUE(extractedDirectories().empty());

    // A hostile package: refused, nothing extracted stays behind.
    ASSERT_TRUE(ZipWriter()
                    .add("pkgs", "", 0777, ZipWriter::Kind::Symlink, "/etc")
                    .file("bundle.xml", definition({{"pkgs/a.sh", 0}}))
                    .write(zip));
    EXPECT_EQ(send({}), 3079);
    EXPECT_TRUE(extractedDirectories().empty());
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_FALSE(fileExists(lockFile()));
}

TEST_F(UpdateFunction, BundleProblemsAnswerTheirStatus) {
    makeBundle({{"a.sh", 0}});
    std::string answer;
    EXPECT_EQ(update({"bundle=nothing.xml"}, &answer), 3081) << answer;
    EXPECT_EQ(update({}, &answer), 0);

    makeBundle({{"here.sh", 0}, {"gone.sh", 0, "", false}});
    EXPECT_EQ(update({"updateid=M"}, &answer), 3075) << answer;
    EXPECT_FALSE(contains(readFile(systemTemp() + "/M.xml"), "here.sh ran"));

    makeBundle({{"a.sh", 0, "touch \"" + testDir() + "/ran\"\n"}},
               "<TargetOSes><OperatingSystem osCode=\"LINUX\"/></TargetOSes>");
    EXPECT_EQ(update({"updateid=OS"}, &answer), 3076) << answer;
    EXPECT_TRUE(contains(readFile(systemTemp() + "/OS.xml"), "os-supported=\"false\""));
    EXPECT_FALSE(fileExists(testDir() + "/ran"));

    makeBundle({{"a.sh", 0}}, "<TargetSystems><Brand><Model systemID=\"0xFFFE\"/></Brand></TargetSystems>");
    EXPECT_EQ(update({}, &answer), 3076) << answer;
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_FALSE(fileExists(lockFile()));

    // A DTD that gives every Package a huge default path is refused while
    // parsing, before any copy of the default is made.
    std::string hostile = "<?xml version=\"1.0\"?>\n<!DOCTYPE SoftwareBundle [<!ATTLIST Package path CDATA \"" +
                          std::string(1000000, 'p') + "\">]>\n<SoftwareBundle><Contents>";
    for (int i = 0; i < 2000; ++i) hostile += "<Package releaseID=\"R" + std::to_string(i) + "\"/>";
    writeFile(bundleDir() + "/bundle.xml", hostile + "</Contents></SoftwareBundle>\n");
    const long peakBefore = peakMemoryKiB();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(update({}, &answer), 3081) << answer.substr(0, 300);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_LT(peakMemoryKiB() - peakBefore, 64 * 1024);
    EXPECT_LT(answer.size(), 4096u);
}

// A status log's text as a parse reads it back (<E></E> as <E/>).
std::string canonicalText(const std::string& text) {
    const std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(BAXmlText::parseText(text), &xmlFreeDoc);
    std::string result;
    if (doc) {
        EXPECT_TRUE(BAXmlText::serialiseDocument(doc.get(), result));
    }
    return result;
}

// The status log that a load rebuilds from a file and its journal.
std::string rebuiltLog(const std::string& file) {
    BAXMLDoc log(file);
    log.load();
    std::string text;
    if (log.getDocument() != nullptr) {
        EXPECT_TRUE(BAXmlText::serialiseDocument(log.getDocument(), text));
    }
    return canonicalText(text);
}

// Every version of a log that a save was about to make durable: a file
// written whole, or the internal log with a new journal record.
std::set<std::string> g_savedVersions;
int g_internalLogWrites = 0;

bool recordVersion(const std::string& tempFileName, const std::string& fileName) {
    g_savedVersions.insert(canonicalText(readFile(tempFileName)));
    if (fileName == internalLog()) ++g_internalLogWrites;
    return true;
}

bool recordAppendedVersion(const std::string& journal) {
    g_savedVersions.insert(rebuiltLog(journal.substr(0, journal.rfind(".journal"))));
    return true;
}

// The logs as a kill at the moment of each fault would have left them, and
// whether the fault came after the lock was let go: in the history entry,
// which the call keeps once its answer is made.
std::vector<std::map<std::string, std::string>> g_crashImages;
bool g_afterTheAnswer = false;

// What the last fault that fired hit.
std::string g_faultTarget;

void takeCrashImage(const std::string& target) {
    g_faultTarget = target;
    g_afterTheAnswer = !fileExists(systemTemp() + "/plimo.tmp");
    std::map<std::string, std::string> image;
    for (const std::string name : {"BAUpdate.xml", "BAUpdate.xml.journal", "U1.xml"})
        if (fileExists(systemTemp() + "/" + name)) image[name] = readFile(systemTemp() + "/" + name);
    g_crashImages.push_back(std::move(image));
}

// What a load after such a kill finds is a saved version.
void expectSavedVersions(const std::string& where) {
    const std::string scratch = testDir() + "/image";
    for (const auto& image : g_crashImages) {
        fs::remove_all(scratch);
        for (const auto& [name, content] : image) writeFile(scratch + "/" + name, content);
        if (image.count("BAUpdate.xml")) {
            EXPECT_EQ(g_savedVersions.count(rebuiltLog(scratch + "/BAUpdate.xml")), 1u) << where << "killed update";
        }
        if (image.count("U1.xml")) {
            EXPECT_EQ(g_savedVersions.count(canonicalText(image.at("U1.xml"))), 1u) << where << "killed update";
        }
    }
}

bool wholeStatusLog(const std::string& file) {
    xmlDocPtr doc = xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    const bool whole = doc != nullptr && xmlDocGetRootElement(doc) != nullptr &&
                       xmlStrEqual(xmlDocGetRootElement(doc)->name, BAD_CAST "BundleLog");
    xmlFreeDoc(doc);
    return whole;
}

TEST_F(UpdateFunction, EverySaveThatFailsLeavesAWholeLogAndIsReported) {
    using Seam = VorkSupport::VorkFaultSeam;
    struct Reset {
        ~Reset() {
            Seam::disarm();
            Seam::setFireHook(nullptr);
            VorkSupport::VorkAtomicFile::setReplaceHook(nullptr);
            VorkSupport::VorkAtomicFile::setAppendHook(nullptr);
        }
    } reset;
    VorkSupport::VorkAtomicFile::setReplaceHook(recordVersion);
    VorkSupport::VorkAtomicFile::setAppendHook(recordAppendedVersion);
    Seam::setFireHook(takeCrashImage);
    // Two package logs large enough that the journal outgrows the log during
    // the run and is folded into it.
    const std::string bigLog = "head -c 40000 /dev/zero | tr '\\0' x >> \"$log\"\n";
    makeBundle({{"a.sh", 0}, {"b.sh", 0, bigLog}, {"c.sh", 0, bigLog}});
    const std::string userLog = testDir() + "/user.xml";
    const std::string finalLog = systemTemp() + "/U1.xml";
    const std::pair<Seam::Call, Seam::Action> faults[] = {{Seam::Call::Write, Seam::Action::Fail},
                                                          {Seam::Call::Write, Seam::Action::Short},
                                                          {Seam::Call::Fsync, Seam::Action::Fail},
                                                          {Seam::Call::Rename, Seam::Action::Fail}};
    int injected = 0;
    int inTheHistory = 0;
    for (const auto& [call, action] : faults) {
        for (long n = 1;; ++n) {
            const std::string where = "fault " + std::to_string(static_cast<int>(call)) + "/" +
                                      std::to_string(static_cast<int>(action)) + " at " + std::to_string(n) + ": ";
            fs::remove(userLog);
            fs::remove(finalLog);
            g_savedVersions.clear();
            g_crashImages.clear();
            g_internalLogWrites = 0;
            g_faultTarget.clear();
            Seam::arm(call, n, action);
            std::string answer;
            const int status = update({"updateid=U1", "logtarget=" + userLog}, &answer);
            const bool fired = Seam::fired();
            Seam::disarm();
            if (!fired) break;
            ++injected;
            if (g_afterTheAnswer) {
                ++inTheHistory;
                EXPECT_EQ(status, 0) << where << "a history entry that failed changed the answer";
            } else if (g_faultTarget.rfind(systemTemp() + "/metrics", 0) != 0) {
                // Only the metrics' own record of the last update may fail
                // without failing the update: it costs a clean those figures.
                EXPECT_NE(status, 0) << where << g_faultTarget << ": " << answer;
            }
            expectSavedVersions(where);
            for (const std::string& file : {internalLog(), finalLog, userLog}) {
                if (!fileExists(file)) continue;
                EXPECT_TRUE(wholeStatusLog(file)) << where << file;
                const std::string text = file == internalLog() ? rebuiltLog(file) : canonicalText(readFile(file));
                EXPECT_EQ(g_savedVersions.count(text), 1u) << where << file << " is no saved version";
            }
            EXPECT_FALSE(fileExists(internalLog() + ".journal")) << where << "a journal outlived the call";
            for (const auto& entry : fs::directory_iterator(systemTemp()))
                EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << where << entry.path();
            EXPECT_EQ(update({"updateid=U1"}), 0) << where << "the next update is blocked";
        }
    }
    EXPECT_GT(injected, 20);
    EXPECT_GT(inTheHistory, 0);
    // The last run, without a fault, wrote the internal log whole at its
    // start, once in the middle and at its end.
    EXPECT_GE(g_internalLogWrites, 3);
}

TEST_F(UpdateFunction, UserLogIsWrittenWithoutInternalAttributes) {
    makeBundle({{"a.sh", 0}});
    std::string userLog = testDir() + "/logs/user.xml";
    fs::create_directories(testDir() + "/logs");
    EXPECT_EQ(update({"logtarget=" + userLog, "updateid=U1"}), 0);
    std::string text = readFile(userLog);
    EXPECT_TRUE(contains(text, "<SMStatus result=\"0\"")) << text;
    EXPECT_FALSE(contains(text, "log-target")) << text;
    EXPECT_FALSE(contains(text, "stable")) << text;
    EXPECT_TRUE(contains(readFile(systemTemp() + "/U1.xml"), "log-target=\"" + userLog + "\""));

    // Before a restart the user log is written too.
    fs::remove(userLog);
    makeBundle({{"a.sh", 2}});
    EXPECT_EQ(update({"logtarget=" + userLog, "reboot=true"}), 3082);
    EXPECT_TRUE(contains(readFile(userLog), "<SMStatus result=\"3082\""));
    EXPECT_FALSE(contains(readFile(userLog), "log-target"));
}

TEST_F(UpdateFunction, MissingOrMalformedParametersAnswerAStatus) {
    makeBundle({{"a.sh", 0, "touch \"" + testDir() + "/ran\"\n"}});
    const std::string dir = bundleDir();
    struct Case {
        std::vector<std::string> entries;
        int expected;
    };
    std::vector<Case> cases{
        {{"zuacmd=update"}, 3079},
        {{"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml"}, 3079},
        {{"zuacmd=update", "bundlepath=" + dir, "zuausrinfo=u"}, 3079},
        {{"zuacmd=update", "bundlepath=" + dir + "/missing", "bundle=bundle.xml", "zuausrinfo=u"}, 3079},
        {{"zuacmd=update", "bundlepath=", "zuausrinfo=u"}, 3079},
        {{"zuacmd=update", "bundlepackage=" + testDir() + "/none.zip", "zuausrinfo=u"}, 3079},
        {{"zuacmd=update", "bundlepackage=" + testDir() + "/no/dir.zip", "zuausrinfo=u"}, 3079},
        {{"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml", "zuausrinfo=u", "logtarget=/no/such/dir/x"}, 3079},
        {{"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml", "zuausrinfo=u", "updateid=../../evil"}, 3079},
        {{"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml", "zuausrinfo=u", "updateid=BAUpdate"}, 3079},
        {{"zuacmd=update", "bundlepath=" + dir, "bundle=../bundle/bundle.xml", "zuausrinfo=u", "dbgtarget=x"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.entries));
        auto answer = plugin().send(c.entries);
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(statusOf(*answer), c.expected) << *answer;
        EXPECT_FALSE(fileExists(lockFile()));
        EXPECT_FALSE(fileExists(internalLog()));
    }
    EXPECT_TRUE(extractedDirectories().empty());
    EXPECT_FALSE(fileExists(testDir() + "/evil.xml"));
}

TEST_F(UpdateFunction, OrvaneRunsTheExampleBundle) {
    const std::string orvane = PLIMO_BIN_DIR "/Orvane";
    ASSERT_TRUE(fileExists(orvane));
    plimotest::RunResult r =
        plimotest::runProgram({orvane, "-update", "-path", PLIMO_EXAMPLES_DIR "/bundle/bundle.xml"},
                              {"windir=" + testDir() + "/win", "PLIMO_SKIP_REBOOT=1", "PLIMO_SKIP_NOTIFICATION=1"});
    // The example asks for a restart, which Orvane never allows.
    EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "<SMStatus result=\"3073\"")) << r.out;
    EXPECT_TRUE(contains(r.out, "skipped")) << r.out;
    EXPECT_TRUE(contains(r.out, "Firmware")) << r.out;
    EXPECT_EQ(readFile(testDir() + "/tmp/Orvane.log") + "\n", r.out);
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_FALSE(fileExists(lockFile()));
    EXPECT_FALSE(fileExists(unitFile()));
}
