#include <unistd.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "BAJournalFormat.h"
#include "BAXMLDoc.h"
#include "BAXmlText.h"
#include "StatusCode.h"
#include "StatusLogTestSupport.h"
#include "TestEnvironment.h"
#include "VorkException.h"
#include "statusMessage.h"

using plimotest::fileExists;
using plimotest::readFile;
using plimotest::testDir;
using plimotest::writeFile;
using statuslogtest::LogCapture;
using statuslogtest::maskDate;
using VorkSupport::VorkException;

namespace {

// Runs the body with a local time zone five hours west of UTC.
class ForeignTimeZone {
public:
    ForeignTimeZone() {
        const char* old = std::getenv("TZ");
        m_hadOld = old != nullptr;
        if (m_hadOld) m_old = old;
        setenv("TZ", "XYZ+05", 1);
        tzset();
    }
    ~ForeignTimeZone() {
        if (m_hadOld) setenv("TZ", m_old.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    bool m_hadOld = false;
    std::string m_old;
};

// A log filled as a fresh update with a zipped bundle fills it.
void fillLikeAnUpdate(BAXMLDoc& doc) {
    doc.updateId("U1");
    doc.installParams("-q");
    doc.bundlePath("/bundles/b1/");
    doc.logTarget("/logs/user.xml");
    doc.reboot(true);
    doc.force(false);
    doc.clearPackage(false);
    doc.notify(true);
    doc.ignore(false);
    doc.continueOnFailure(true);
    doc.preInstallEnv(false);
    doc.updateOnly(false);
    doc.bundlePackage("/packages/b1.zip");
    doc.bundleName("bundle.xml");
    doc.relocationFile("relocation.xml");
    doc.UserInfo("admin & co");
    doc.stable(false);
    doc.systemSupported(true);
    doc.osSupported(false);
    doc.progressPercent(0);
    doc.createPackage("R1", "/bundles/b1/p1.exe", "/bundles/b1/p1.exe /s", "qpk", "", -1);
    doc.progressPercent(50);
    doc.rebootCount(1);
    doc.SMStatus(3074);
}

const char* const kFilledStripped =
    "<BundleLog dateTime=\"D\" update-id=\"U1\" install-params=\"-q\">"
    "<SMStatus result=\"3083\" state=\"4\" status=\"4\">Not all update packages executed.  System reboot required, "
    "and update resumed, to execute remaining update packages.  Rebooting the system automatically.</SMStatus>"
    "<BundleSettings bundle-path=\"/bundles/b1/\" reboot=\"true\" force=\"false\" clearpackage=\"false\" "
    "notify=\"true\" ignore=\"false\" continueOnFailure=\"true\" preInstallEnv=\"false\" updateonly=\"false\">"
    "<BundlePackage bundle-package=\"/packages/b1.zip\"/>"
    "<Bundle bundle=\"bundle.xml\" relocation=\"relocation.xml\" userinfo=\"admin &amp; co\"/>"
    "<UserInfo/>"
    "</BundleSettings>"
    "<Validation system-supported=\"true\" os-supported=\"false\"/>"
    "<Progress value=\"50\"/>"
    "<Package releaseID=\"R1\" packageType=\"qpk\" path=\"/bundles/b1/p1.exe\"><Status state=\"in-progress\"/>"
    "<ExeCmd>/bundles/b1/p1.exe /s</ExeCmd></Package>"
    "<rebootCount rebootCount=\"1\"/>"
    "</BundleLog>";

// A document's text as a parse gives it back: the same document, where an
// element with an empty text reads as one without (<E></E> as <E/>).
std::string canonical(xmlDocPtr doc) {
    std::string text;
    if (doc != nullptr) {
        EXPECT_TRUE(BAXmlText::serialiseDocument(doc, text));
    }
    const std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> parsed(BAXmlText::parseText(text), &xmlFreeDoc);
    if (parsed) {
        EXPECT_TRUE(BAXmlText::serialiseDocument(parsed.get(), text));
    }
    return text;
}

// The log that a load rebuilds from a file and its journal, as text.
std::string rebuilt(const std::string& file) {
    BAXMLDoc log(file);
    log.load();
    return canonical(log.getDocument());
}

} // namespace

TEST(BAXMLDoc, FreshDocumentHoldsOnlyTheRootAndSuccess) {
    ForeignTimeZone zone;
    const std::time_t before = std::time(nullptr);
    BAXMLDoc doc;
    const std::string text = doc.dumpRoot();
    EXPECT_EQ(maskDate(text), "<BundleLog dateTime=\"D\"><SMStatus result=\"0\">Success</SMStatus></BundleLog>");

    // The date is UTC whatever the local time zone says.
    const std::string::size_type at = text.find("dateTime=\"");
    ASSERT_NE(at, std::string::npos);
    const std::string value = text.substr(at + 10, 20);
    std::tm parsed{};
    const char* end = strptime(value.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parsed);
    ASSERT_TRUE(end != nullptr && *end == '\0') << value;
    const std::time_t recorded = timegm(&parsed);
    EXPECT_GE(recorded, before);
    EXPECT_LE(recorded, std::time(nullptr));

    EXPECT_EQ(doc.SMStatus(), 0);
    EXPECT_TRUE(doc.getFileName().empty());
    EXPECT_TRUE(doc.qpkLogName.empty());
}

TEST(BAXMLDoc, FilledLogKeepsItsSectionOrderAndStripsInternalAttributes) {
    const std::string internal = testDir() + "/win/TEMP/BAUpdate.xml";
    BAXMLDoc doc(internal);
    EXPECT_FALSE(fileExists(internal));
    fillLikeAnUpdate(doc);

    EXPECT_EQ(maskDate(doc.dumpRoot()), kFilledStripped);
    const std::string userLog = testDir() + "/user.xml";
    doc.saveTo(userLog);
    EXPECT_EQ(maskDate(readFile(userLog)), std::string("<?xml version=\"1.0\"?>\n") + kFilledStripped + "\n");

    // The document and the internal log keep both internal attributes.
    EXPECT_EQ(doc.logTarget(), "/logs/user.xml");
    EXPECT_FALSE(doc.stable());
    doc.save();
    const std::string saved = readFile(internal);
    EXPECT_NE(saved.find("log-target=\"/logs/user.xml\""), std::string::npos);
    EXPECT_NE(saved.find("userinfo=\"admin &amp; co\" stable=\"false\"/>"), std::string::npos);

    // Loaded back, it is the same log.
    BAXMLDoc loaded(internal);
    loaded.load();
    EXPECT_EQ(maskDate(loaded.dumpRoot()), kFilledStripped);
    EXPECT_EQ(loaded.SMStatus(), 3083);
    EXPECT_TRUE(loaded.reboot());
    EXPECT_TRUE(loaded.continueOnFailure());
    EXPECT_FALSE(loaded.osSupported());
    EXPECT_EQ(loaded.UserInfo(), "admin & co");
    EXPECT_EQ(loaded.rebootCount(), 1);
    EXPECT_EQ(loaded.progressPercent(), 50);
}

TEST(BAXMLDoc, SettingsCreateTheirSectionsAndGettersDefaultOrRaise) {
    BAXMLDoc doc;
    EXPECT_THROW(doc.reboot(), VorkException);
    EXPECT_THROW(doc.bundlePath(), VorkException);
    EXPECT_THROW(doc.systemSupported(), VorkException);
    EXPECT_EQ(doc.logTarget(), "");
    EXPECT_EQ(doc.updateId(), "");
    EXPECT_EQ(doc.installParams(), "");
    EXPECT_EQ(doc.bundleName(), "");
    EXPECT_EQ(doc.relocationFile(), "");
    EXPECT_EQ(doc.UserInfo(), "");
    EXPECT_EQ(doc.bundlePackage(), "");

    doc.reboot(false);
    doc.addValidationNode();
    doc.addValidationNode();
    doc.addBundleSettingsBundleNode();
    EXPECT_EQ(maskDate(doc.dumpRoot()),
              "<BundleLog dateTime=\"D\"><SMStatus result=\"0\">Success</SMStatus>"
              "<BundleSettings bundle-path=\"\" reboot=\"false\"><Bundle/><UserInfo/></BundleSettings>"
              "<Validation system-supported=\"false\" os-supported=\"false\"/></BundleLog>");
    EXPECT_FALSE(doc.reboot());
    EXPECT_EQ(doc.bundlePath(), "");

    // A new init starts over.
    doc.init();
    EXPECT_THROW(doc.reboot(), VorkException);
}

TEST(BAXMLDoc, ProgressNeverGoesBackAndRebootCountFollowsItsValue) {
    BAXMLDoc doc;
    EXPECT_EQ(doc.progressPercent(), 100);
    doc.progressPercent(60);
    doc.progressPercent(40);
    EXPECT_EQ(doc.progressPercent(), 60);
    doc.progressPercent(100);
    EXPECT_EQ(doc.progressPercent(), 100);
    EXPECT_EQ(doc.dumpRoot().find("Progress"), std::string::npos);
    doc.progressPercent(0);
    EXPECT_EQ(doc.progressPercent(), 0);
    EXPECT_NE(doc.dumpRoot().find("<Progress value=\"0\"/>"), std::string::npos);

    EXPECT_EQ(doc.rebootCount(), 0);
    doc.rebootCount(2);
    doc.rebootCount(1);
    EXPECT_EQ(doc.rebootCount(), 1);
    doc.rebootCount(100);
    EXPECT_EQ(doc.rebootCount(), 0);
    EXPECT_EQ(doc.dumpRoot().find("rebootCount"), std::string::npos);
}

TEST(BAXMLDoc, StableMarksARunUnderWay) {
    BAXMLDoc doc;
    EXPECT_TRUE(doc.stable());
    doc.stable(true);
    EXPECT_EQ(doc.dumpRoot().find("BundleSettings"), std::string::npos);
    doc.stable(false);
    EXPECT_FALSE(doc.stable());
    EXPECT_NE(doc.dumpRoot().find("<Bundle/><UserInfo/>"), std::string::npos);
    doc.stable(true);
    EXPECT_TRUE(doc.stable());
    EXPECT_NE(doc.dumpRoot().find("<Bundle/>"), std::string::npos);
}

TEST(BAXMLDoc, StartParametersComeFromThePackageOrTheBundleAttributes) {
    BAXMLDoc doc;
    std::string directory, definition, relocation;
    EXPECT_THROW(doc.getStartParameters(directory, definition, relocation), VorkException);

    const std::string relocationFile = writeFile(testDir() + "/b/reloc.xml", "<x/>");
    doc.bundlePath(testDir() + "/b/");
    doc.bundleName("def.xml");
    doc.relocationFile(relocationFile);
    doc.getStartParameters(directory, definition, relocation);
    EXPECT_EQ(directory, testDir() + "/b/");
    EXPECT_EQ(definition, "def.xml");
    EXPECT_EQ(relocation, relocationFile);

    doc.relocationFile(testDir() + "/b/none.xml");
    doc.getStartParameters(directory, definition, relocation);
    EXPECT_EQ(relocation, "");

    // A zipped bundle always uses the default names, looked for in the
    // extracted bundle directory (not in the current directory).
    doc.bundlePackage(testDir() + "/b.zip");
    doc.relocationFile(relocationFile);
    doc.getStartParameters(directory, definition, relocation);
    EXPECT_EQ(definition, "bundle.xml");
    EXPECT_EQ(relocation, "");
    writeFile(testDir() + "/relocation.xml", "<stray/>");
    ASSERT_EQ(::chdir(testDir().c_str()), 0);
    doc.getStartParameters(directory, definition, relocation);
    EXPECT_EQ(relocation, "");
    const std::string packaged = writeFile(testDir() + "/b/relocation.xml", "<x/>");
    doc.getStartParameters(directory, definition, relocation);
    EXPECT_EQ(relocation, packaged);
    doc.bundlePath(testDir() + "/b");
    doc.getStartParameters(directory, definition, relocation);
    EXPECT_EQ(relocation, packaged);
}

TEST(BAXMLDoc, RemoveTempFilesDeletesOnlyAnExtractedBundle) {
    const std::string extracted = testDir() + "/extracted";
    writeFile(extracted + "/sub/bundle.xml", "<x/>");
    BAXMLDoc doc;
    doc.bundlePath(extracted + "/");
    doc.removeTempFiles();
    EXPECT_TRUE(fileExists(extracted + "/sub/bundle.xml"));

    LogCapture log;
    doc.bundlePackage(testDir() + "/b.zip");
    doc.removeTempFiles();
    EXPECT_FALSE(std::filesystem::exists(extracted));
    EXPECT_TRUE(log.contains("BAXMLDoc::removeTempFiles: Bundle package directory deleted: " + extracted + "/"));

    // A damaged log naming no directory removes nothing and goes on.
    doc.bundlePath("");
    doc.removeTempFiles();
    EXPECT_TRUE(log.contains("BAXMLDoc::removeTempFiles: Bundle package directory could not be deleted: "));
}

TEST(BAXMLDoc, CleanupMovesTheLogToItsFinalNameOrDeletesIt) {
    const std::string temp = testDir() + "/win/TEMP";
    {
        BAXMLDoc doc(temp + "/BAUpdate.xml");
        doc.save();
        ASSERT_TRUE(fileExists(temp + "/BAUpdate.xml"));
        doc.cleanup();
        EXPECT_FALSE(fileExists(temp + "/BAUpdate.xml"));
    }
    {
        const std::string extracted = testDir() + "/extracted";
        writeFile(extracted + "/bundle.xml", "<x/>");
        BAXMLDoc doc(temp + "/BAUpdate.xml");
        doc.updateId("U1");
        doc.bundlePath(extracted + "/");
        doc.bundlePackage(testDir() + "/b.zip");
        doc.stable(false);
        doc.progressPercent(30);
        doc.save();
        const std::string internalName = doc.getFileName();
        doc.cleanup();
        EXPECT_EQ(doc.getFileName(), internalName);
        EXPECT_FALSE(fileExists(temp + "/BAUpdate.xml"));
        EXPECT_FALSE(std::filesystem::exists(extracted));
        const std::string finalLog = readFile(temp + "/U1.xml");
        EXPECT_NE(finalLog.find("update-id=\"U1\""), std::string::npos);
        EXPECT_EQ(finalLog.find("stable"), std::string::npos);
        EXPECT_EQ(finalLog.find("Progress"), std::string::npos);
        struct stat status;
        ASSERT_EQ(stat((temp + "/U1.xml").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0600u);
    }
    {
        // The final name is taken by a directory: the internal log stays.
        std::filesystem::create_directories(temp + "/U2.xml/occupied");
        LogCapture log;
        BAXMLDoc doc(temp + "/BAUpdate.xml");
        doc.updateId("U2");
        EXPECT_THROW(doc.cleanup(), VorkException);
        EXPECT_TRUE(fileExists(temp + "/BAUpdate.xml"));
        EXPECT_TRUE(
            log.contains("BAXMLDoc::cleanup: unable to rename internal log file: |" + doc.getFileName() + "| to : |"));
        EXPECT_TRUE(log.contains("BAXMLDoc::cleanup: errno: "));
    }
    {
        // No file name: nothing happens on disk.
        BAXMLDoc doc;
        doc.updateId("U3");
        doc.cleanup();
        EXPECT_FALSE(fileExists(temp + "/U3.xml"));
    }
}

TEST(BAXMLDoc, ALoadReplaysTheJournalUpToItsLastWholeSave) {
    const std::string file = testDir() + "/win/TEMP/BAUpdate.xml";
    const std::string journal = file + ".journal";
    BAXMLDoc doc(file);
    std::vector<std::string> versions; // the document at each save
    std::vector<std::uintmax_t> ends;  // the journal's size after each save
    auto save = [&] {
        doc.save();
        versions.push_back(canonical(doc.getDocument()));
        ends.push_back(fileExists(journal) ? std::filesystem::file_size(journal) : 0);
    };
    fillLikeAnUpdate(doc);
    save();
    EXPECT_EQ(rebuilt(file), versions[0]);
    EXPECT_FALSE(fileExists(journal));

    // Every kind of change a run makes: an entry completed with its log, new
    // entries, counters removed and made again at the end, status, root.
    BAXMLPackageNode entry(&doc, doc.getFirstNode("/BundleLog/Package"));
    entry.setComplete(1, "", "failed & logged", 5);
    doc.progressPercent(60);
    save();
    entry.setPackageLog(1, "", "more", BAXMLPackageNode::NO_OS_ERROR_CODE);
    doc.createSkippedPackage("R2", "/bundles/b1/p2.tar.gz", "gz", "", 1, "skipped");
    doc.rebootCount(100);
    save();
    doc.progressPercent(100);
    doc.createMissingPackage("R3", "/bundles/b1/p3.exe", "", "-a", 0);
    doc.SMStatus(0);
    save();
    doc.progressPercent(10);
    doc.installParams("-r");
    save();
    doc.save();
    EXPECT_EQ(std::filesystem::file_size(journal), ends.back()) << "a save without changes writes nothing";
    const std::string first = readFile(file);
    ASSERT_EQ(rebuilt(file), versions.back());

    const std::string whole = readFile(journal);
    for (std::size_t i = 1; i < versions.size(); ++i) {
        // A torn record is ignored; a whole one counts.
        writeFile(journal, whole.substr(0, ends[i] - 1));
        EXPECT_EQ(rebuilt(file), versions[i - 1]) << "torn save " << i;
        writeFile(journal, whole.substr(0, ends[i]));
        EXPECT_EQ(rebuilt(file), versions[i]) << "save " << i;
    }
    // A checksum that fails in the middle: that record and all after it go.
    std::string damaged = whole;
    damaged[ends[2] + 20] ^= 0x20;
    writeFile(journal, damaged);
    EXPECT_EQ(rebuilt(file), versions[2]);
    // An empty journal, or one written for another snapshot (a crash right
    // after the file was written whole): the file alone.
    writeFile(journal, "");
    EXPECT_EQ(rebuilt(file), versions[0]);
    writeFile(journal, whole);
    writeFile(file, versions[2]);
    EXPECT_EQ(rebuilt(file), versions[2]);
    // A journal longer than its snapshot allows (no writer makes one): read
    // as far as the limit, the rest dropped and reported.
    {
        const std::string snapshot = readFile(file);
        std::string longer = BAJournalFormat::header(snapshot.size(), BAJournalFormat::crc(snapshot), 7);
        std::size_t within = 0;
        for (int i = 0; i < 80; ++i) {
            const std::string record =
                BAJournalFormat::record(7, "<Save><BundleLog update-id=\"U" + std::to_string(i) + "\" pad=\"" +
                                               std::string(1000, 'p') + "\"/></Save>");
            if (longer.size() + record.size() - BAJournalFormat::kHeaderSize <=
                BAJournalFormat::limitFor(snapshot.size()))
                within = i;
            longer += record;
        }
        writeFile(journal, longer);
        LogCapture log;
        BAXMLDoc doc(file);
        doc.load();
        EXPECT_EQ(doc.updateId(), "U" + std::to_string(within));
        EXPECT_LT(within, 79u);
        EXPECT_TRUE(log.contains("records beyond the journal's limit"));
        writeFile(journal, whole);
    }

    // Folding writes the file whole and drops the journal; a journal whose
    // file went is dropped too.
    writeFile(file, first);
    BAXMLDoc::foldJournal(file);
    EXPECT_FALSE(fileExists(journal));
    EXPECT_EQ(rebuilt(file), versions.back());
    writeFile(journal, whole);
    BAXMLDoc::removeFile(file);
    EXPECT_FALSE(fileExists(file));
    EXPECT_FALSE(fileExists(journal));
}

TEST(StatusCodes, EveryCodeHasItsMessageAndStatusNumber) {
    std::vector<StatusCode::Info> rows(std::begin(StatusCode::kTable), std::end(StatusCode::kTable));
    for (int unknown : {1, 3071, 3093, -5})
        rows.push_back({static_cast<StatusCode::Value>(unknown), StatusCode::kUnknownMessage,
                        StatusCode::kUnknownStatusNumber, -1, -1});
    BAXMLDoc doc;
    for (const StatusCode::Info& expected : rows) {
        EXPECT_STREQ(statusMessage(expected.code), expected.message) << expected.code;
        doc.SMStatus(expected.code);
        EXPECT_EQ(doc.SMStatus(), expected.code);
        const std::string number = std::to_string(expected.statusNumber);
        const std::string open = "<SMStatus result=\"" + std::to_string(expected.code) + "\" state=\"" + number +
                                 "\" status=\"" + number + "\"";
        const std::string element =
            *expected.message == '\0' ? open + "/>" : open + ">" + expected.message + "</SMStatus>";
        EXPECT_NE(doc.dumpRoot().find(element), std::string::npos) << doc.dumpRoot();
    }
}

TEST(StatusCodes, RebootRequestsArePromotedOnlyWithTheRebootOption) {
    BAXMLDoc doc;
    doc.SMStatus(3073);
    EXPECT_EQ(doc.SMStatus(), 3073);
    doc.reboot(false);
    doc.SMStatus(3074);
    EXPECT_EQ(doc.SMStatus(), 3074);
    doc.reboot(true);
    doc.SMStatus(3073);
    EXPECT_EQ(doc.SMStatus(), 3082);
    EXPECT_NE(doc.dumpRoot().find("state=\"4\" status=\"4\">All update packages executed successfully.  System "
                                  "reboot required for updates to be applied.  Rebooting the system automatically."),
              std::string::npos);
    doc.SMStatus(3074);
    EXPECT_EQ(doc.SMStatus(), 3083);
    doc.SMStatus(3078);
    EXPECT_EQ(doc.SMStatus(), 3078);

    // A log without SMStatus records nothing.
    BAXMLDoc loaded(writeFile(testDir() + "/nostatus.xml", "<BundleLog/>"));
    loaded.load();
    EXPECT_THROW(loaded.SMStatus(3072), VorkException);
}
