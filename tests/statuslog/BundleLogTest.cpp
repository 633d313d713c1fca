#include <unistd.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "BAXMLDoc.h"
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
    ForeignTimeZone()
    {
        const char* old = std::getenv("TZ");
        m_hadOld = old != nullptr;
        if (m_hadOld) m_old = old;
        setenv("TZ", "XYZ+05", 1);
        tzset();
    }
    ~ForeignTimeZone()
    {
        if (m_hadOld) setenv("TZ", m_old.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    bool m_hadOld = false;
    std::string m_old;
};

// A log filled as a fresh update with a zipped bundle fills it.
void fillLikeAnUpdate(BAXMLDoc& doc)
{
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

} // namespace

TEST(BAXMLDoc, FreshDocumentHoldsOnlyTheRootAndSuccess)
{
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

TEST(BAXMLDoc, FilledLogKeepsItsSectionOrderAndStripsInternalAttributes)
{
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

TEST(BAXMLDoc, SettingsCreateTheirSectionsAndGettersDefaultOrRaise)
{
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

TEST(BAXMLDoc, ProgressNeverGoesBackAndRebootCountFollowsItsValue)
{
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

TEST(BAXMLDoc, StableMarksARunUnderWay)
{
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

TEST(BAXMLDoc, StartParametersComeFromThePackageOrTheBundleAttributes)
{
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

TEST(BAXMLDoc, RemoveTempFilesDeletesOnlyAnExtractedBundle)
{
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

TEST(BAXMLDoc, CleanupMovesTheLogToItsFinalNameOrDeletesIt)
{
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
        EXPECT_TRUE(log.contains("BAXMLDoc::cleanup: unable to rename internal log file: |" + doc.getFileName() +
                                 "| to : |"));
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

TEST(StatusCodes, EveryCodeHasItsMessageAndStatusNumber)
{
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

TEST(StatusCodes, RebootRequestsArePromotedOnlyWithTheRebootOption)
{
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
