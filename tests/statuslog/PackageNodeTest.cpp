#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <string>

#include "BAXMLDoc.h"
#include "BAXMLPackageNode.h"
#include "StatusLogTestSupport.h"
#include "TestEnvironment.h"
#include "VorkException.h"

using plimotest::testDir;
using plimotest::writeFile;
using VorkSupport::VorkException;

namespace {

std::string dumpNode(xmlNodePtr node) {
    xmlBufferPtr buffer = xmlBufferCreate();
    xmlNodeDump(buffer, node->doc, node, 0, 0);
    std::string text(reinterpret_cast<const char*>(xmlBufferContent(buffer)));
    xmlBufferFree(buffer);
    return text;
}

std::string content(xmlNodePtr node) {
    xmlChar* text = xmlNodeGetContent(node);
    std::string result = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return result;
}

// The text of the only PkgLog of the only package, after a round trip
// through the file.
std::string savedPkgLog(BAXMLDoc& doc) {
    doc.save();
    BAXMLDoc reread(doc.getFileName());
    reread.load();
    return content(reread.getFirstNode("/BundleLog/Package/PkgLog"));
}

std::string utf16le(const std::u16string& text, bool mark) {
    std::string bytes = mark ? std::string("\xFF\xFE") : std::string();
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

class PackageLog : public ::testing::Test {
protected:
    void SetUp() override {
        doc = std::make_unique<BAXMLDoc>(testDir() + "/BAUpdate.xml");
        doc->reboot(false);
        node = doc->createPackage("R1", "/p/a.exe", "/p/a.exe /s", "qpk", "", -1);
    }
    std::string logFile(const std::string& bytes) { return writeFile(testDir() + "/QPK.log", bytes); }
    std::string completeWith(const std::string& bytes) {
        node->setComplete(0, logFile(bytes), "", BAXMLPackageNode::NO_OS_ERROR_CODE);
        return savedPkgLog(*doc);
    }

    std::unique_ptr<BAXMLDoc> doc;
    std::unique_ptr<BAXMLPackageNode> node;
};

} // namespace

TEST(BAXMLPackageNode, EntriesCarryTheirAttributesAndChildrenInOrder) {
    BAXMLDoc doc;
    doc.progressPercent(0);
    auto first = doc.createPackage("R1", "/p/a.msi", "msiexec.exe /qn /i /p/a.msi", "msi", "", -1);
    EXPECT_EQ(dumpNode(first->getPackageNode()),
              "<Package releaseID=\"R1\" packageType=\"msi\" path=\"/p/a.msi\"><Status state=\"in-progress\"/>"
              "<ExeCmd>msiexec.exe /qn /i /p/a.msi</ExeCmd></Package>");
    auto all = doc.createPackage("R2", "/p/b.exe", "/p/b.exe /s", "qpk", "/x", 1);
    EXPECT_EQ(dumpNode(all->getPackageNode()),
              "<Package releaseID=\"R2\" packageType=\"qpk\" installparams=\"/x\" updateonly=\"true\" "
              "path=\"/p/b.exe\"><Status state=\"in-progress\"/><ExeCmd>/p/b.exe /s</ExeCmd></Package>");
    EXPECT_NE(dumpNode(doc.createPackage("", "/p/c", "", "", "", 0)->getPackageNode())
                  .find("<Package updateonly=\"false\" path=\"/p/c\">"),
              std::string::npos);
    EXPECT_NE(dumpNode(doc.createPackage("", "/p/d", "", "", "", 2)->getPackageNode())
                  .find("<Package updateonly=\"false\" path=\"/p/d\">"),
              std::string::npos);

    doc.createMissingPackage("R5", "/p/e.exe", "qpk", "", -1);
    doc.createSkippedPackage("R6", "/p/f.tar.gz", "gz", "", -1, "skipped & why");
    doc.createSkippedPackage("R7", "/p/g.tar.gz", "gz", "", -1, "");
    const std::string text = doc.dumpRoot();
    EXPECT_NE(text.find("<Progress value=\"0\"/><Package releaseID=\"R1\""), std::string::npos);
    EXPECT_NE(text.find("<Package releaseID=\"R5\" packageType=\"qpk\" path=\"/p/e.exe\"><Status state=\"missing\"/>"
                        "<ExeCmd></ExeCmd></Package>"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("<Package releaseID=\"R6\" packageType=\"gz\" path=\"/p/f.tar.gz\"><Status state=\"skipped\" "
                        "status=\"3\" code=\"3\"/><ExeCmd>/p/f.tar.gz</ExeCmd><PkgLog code=\"3\">skipped &amp; why"
                        "</PkgLog></Package>"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("<ExeCmd>/p/g.tar.gz</ExeCmd><PkgLog code=\"3\"></PkgLog></Package></BundleLog>"),
              std::string::npos)
        << text;

    // A handle on an existing element, as a resumed update makes it.
    BAXMLPackageNode again(&doc, doc.getFirstNode("/BundleLog/Package[@releaseID='R2']"));
    again.setMissing();
    EXPECT_NE(doc.dumpRoot().find("path=\"/p/b.exe\"><Status state=\"missing\"/>"), std::string::npos);
}

TEST(BAXMLPackageNode, StatusFollowsTheResultCode) {
    BAXMLDoc doc;
    auto node = doc.createPackage("R1", "/p/a.exe", "a", "qpk", "", -1);
    xmlNodePtr status = doc.getFirstNode("/BundleLog/Package/Status");
    // Without the reboot option, code 4 cannot decide and writes nothing.
    EXPECT_THROW(node->setStatus(4), VorkException);
    EXPECT_EQ(xmlHasProp(status, reinterpret_cast<const xmlChar*>("status")), nullptr);

    doc.reboot(true);
    const int expected[][2] = {{-1, 5}, {0, 2}, {1, 5}, {2, 3}, {3, 2}, {4, 3}, {5, 2}, {6, 1}, {-2, 1}, {3072, 1}};
    for (const auto& pair : expected) {
        node->setStatus(pair[0]);
        EXPECT_EQ(BAAnyXMLDoc::getIntAttribute(status, "status"), pair[1]) << pair[0];
    }
    doc.reboot(false);
    node->setStatus(4);
    EXPECT_EQ(BAAnyXMLDoc::getIntAttribute(status, "status"), 4);
    EXPECT_EQ(dumpNode(status), "<Status state=\"in-progress\" status=\"4\"/>");
}

TEST_F(PackageLog, CompletionWithoutLogWritesNoPkgLog) {
    node->setComplete(0, "", "", BAXMLPackageNode::NO_OS_ERROR_CODE);
    EXPECT_EQ(dumpNode(node->getPackageNode()),
              "<Package releaseID=\"R1\" packageType=\"qpk\" path=\"/p/a.exe\"><Status state=\"complete\" code=\"0\" "
              "status=\"2\"/><ExeCmd>/p/a.exe /s</ExeCmd></Package>");

    // A message alone, without a log file, has no blank lines after it.
    node->setPackageLog(1, "", "only the message", 7);
    EXPECT_NE(dumpNode(node->getPackageNode()).find("<PkgLog code=\"1\" osErrCode=\"7\">only the message</PkgLog>"),
              std::string::npos);
}

TEST_F(PackageLog, EightBitLogLosesMarkerLinesAndOuterBlanks) {
    node->setComplete(1, logFile("=== Logging started: 1/2/2026 10:00\n  body\tline \n=== Logging stopped: 1/2/2026\n"),
                      "", 5);
    const std::string entry = dumpNode(node->getPackageNode());
    EXPECT_NE(entry.find("<Status state=\"complete\" code=\"1\" status=\"5\"/>"), std::string::npos) << entry;
    EXPECT_NE(entry.find("<PkgLog code=\"1\" osErrCode=\"5\">body\tline</PkgLog></Package>"), std::string::npos)
        << entry;

    // Only the first marker of each kind goes; one without a newline stays.
    node->setPackageLog(0, logFile("a\n=== Logging started: x\nb\n=== Logging started: y\nc === Logging stopped: z"),
                        "", BAXMLPackageNode::NO_OS_ERROR_CODE);
    xmlNodePtr second = node->getPackageNode()->last;
    EXPECT_EQ(content(second), "a\n\nb\n=== Logging started: y\nc === Logging stopped: z");
    EXPECT_EQ(xmlHasProp(second, reinterpret_cast<const xmlChar*>("osErrCode")), nullptr);
}

TEST_F(PackageLog, EightBitLogKeepsCharactersAcrossBlocksAndReadsCrLfAsNewline) {
    // A two-byte character across the first block boundary, a three-byte one
    // across the second, and a CR LF pair across the third.
    std::string text(511, 'a');
    text += "\xC3\xA9"; // bytes 511 and 512
    text += std::string(1023 - text.size(), 'b');
    text += "\xE2\x82\xAC"; // bytes 1023 to 1025
    text += std::string(1535 - text.size(), 'c');
    text += "\r\nend\r\nlast\rline"; // CR at byte 1535, LF at 1536
    std::string expected = text;
    for (std::string::size_type at; (at = expected.find("\r\n")) != std::string::npos;) expected.erase(at, 1);
    EXPECT_EQ(completeWith(text), expected);
}

TEST_F(PackageLog, Utf16LogsWithMarkAreConvertedAndOthersReadAsEightBit) {
    const std::u16string wide = u"  h\u00E9llo\r\nw\u00F6rld \U0001F600\u20AC\n";
    EXPECT_EQ(completeWith(utf16le(wide, true)), "h\xC3\xA9llo\r\nw\xC3\xB6rld \xF0\x9F\x98\x80\xE2\x82\xAC");

    // An odd length drops only the last byte.
    node->setPackageLog(0, logFile(utf16le(u"odd", true) + "X"), "", BAXMLPackageNode::NO_OS_ERROR_CODE);
    EXPECT_EQ(content(node->getPackageNode()->last), "odd");

    // A big-endian mark means 8-bit text, mark bytes included (as U+FFFD).
    node->setPackageLog(0, logFile("\xFE\xFFok"), "", BAXMLPackageNode::NO_OS_ERROR_CODE);
    EXPECT_EQ(content(node->getPackageNode()->last), "\xEF\xBF\xBD\xEF\xBF\xBDok");
}

TEST_F(PackageLog, LargeLogsKeepTheirFirstAndLastHalfMebibyteOnWholeCharacters) {
    // 8-bit: the head's last character and the tail's first are split by
    // the cut; both go whole.
    std::string text(524287, 'a');
    text += "\xC3\xA9" + std::string(1048575 - 524289, 'b') + "\xE2\x82\xAC" + std::string(524286, 'c');
    const std::string file = logFile(text);
    std::string note = "\n[... 524291 bytes of the package log left out here; the whole log was |" + file + "| ...]\n";
    EXPECT_EQ(completeWith(text), std::string(524287, 'a') + note + std::string(524286, 'c'));

    // UTF-16 of odd size: the tail starts on a code unit.
    node->setPackageLog(0, logFile(utf16le(std::u16string(786432, u'x'), true) + "X"), "",
                        BAXMLPackageNode::NO_OS_ERROR_CODE);
    note = "\n[... 524292 bytes of the package log left out here; the whole log was |" + file + "| ...]\n";
    EXPECT_EQ(content(node->getPackageNode()->last), std::string(262143, 'x') + note + std::string(262143, 'x'));
}

TEST_F(PackageLog, MessagesAndUnreadableLogs) {
    // An empty log file keeps the message and its two newlines.
    node->setComplete(0, logFile(""), "Installer said no", BAXMLPackageNode::NO_OS_ERROR_CODE);
    EXPECT_EQ(savedPkgLog(*doc), "Installer said no\n\n");
    node->setPackageLog(0, logFile("  \r\n\t\n"), "", BAXMLPackageNode::NO_OS_ERROR_CODE);
    // A log of blanks alone and no message: no second PkgLog.
    int pkgLogs = 0;
    for (xmlNodePtr child = node->getPackageNode()->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && std::string(reinterpret_cast<const char*>(child->name)) == "PkgLog")
            ++pkgLogs;
    }
    EXPECT_EQ(pkgLogs, 1);

    // A log file that does not exist raises 3079 after the completion, and
    // the entry says that no output log could be read.
    BAXMLDoc other;
    auto missing = other.createPackage("R9", "/p/z.exe", "z", "", "", -1);
    try {
        missing->setComplete(2, testDir() + "/none/QPK.log", "message", 3);
        FAIL() << "no exception";
    } catch (const VorkException& e) {
        EXPECT_EQ(e.getCode(), 3079);
        EXPECT_EQ(e.getMessageNarrow(), "BAXMLPackageNode::setPackageLog: Unable to open file for unicode peek.");
    }
    EXPECT_EQ(dumpNode(missing->getPackageNode()),
              "<Package releaseID=\"R9\" path=\"/p/z.exe\"><Status state=\"complete\" code=\"2\" status=\"3\"/>"
              "<ExeCmd>z</ExeCmd><PkgLog code=\"2\" osErrCode=\"3\">message\n\nNo output log could be read from " +
                  testDir() + "/none/QPK.log.</PkgLog></Package>");
}

TEST_F(PackageLog, ControlCharactersCannotBreakTheSavedLog) {
    // Escape sequences, a NUL and a form feed in a package's output.
    const std::string text = completeWith(std::string("\x1B[32mgreen\x1B[0m\0tail\fpage", 24));
    EXPECT_EQ(text, "\xEF\xBF\xBD[32mgreen\xEF\xBF\xBD[0m\xEF\xBF\xBDtail\xEF\xBF\xBDpage");
}

TEST(BAXMLPackageNode, ConvertWideToUtf8GoesThroughTheHost) {
    EXPECT_EQ(BAXMLPackageNode::ConvertWideToUtf8(u""), "");
    EXPECT_EQ(BAXMLPackageNode::ConvertWideToUtf8(u"a\u00E9\u20AC\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(BAXMLPackageNode::ConvertWideToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
}
