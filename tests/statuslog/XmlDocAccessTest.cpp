#include <gtest/gtest.h>
#include <libxml/tree.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BAAnyXMLDoc.h"
#include "StatusLogTestSupport.h"
#include "TestEnvironment.h"
#include "VorkAtomicFile.h"
#include "VorkFaultSeam.h"
#include "VorkException.h"
#include "getAbsolutePath.h"

using plimotest::readFile;
using plimotest::testDir;
using plimotest::writeFile;
using statuslogtest::LogCapture;
using VorkSupport::VorkException;

namespace {

std::string canonical(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    std::string result = resolved != nullptr ? resolved : "";
    std::free(resolved);
    return result;
}

std::string currentDirectory() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

// Expects getAbsolutePath to refuse the path with the specified failure.
void expectInvalidPath(const std::string& path, bool directory) {
    std::string result = "untouched";
    try {
        getAbsolutePath(path, result, directory);
        FAIL() << "no exception for " << path;
    } catch (const VorkException& e) {
        EXPECT_EQ(e.getMessageNarrow(), "getAbsolutePath: Invalid path");
        EXPECT_EQ(e.getCode(), 0);
    }
    EXPECT_EQ(result, "untouched");
}

std::vector<std::string> directoryEntries(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string dumpNode(xmlNodePtr node) {
    xmlBufferPtr buffer = xmlBufferCreate();
    xmlNodeDump(buffer, node->doc, node, 0, 0);
    std::string text(reinterpret_cast<const char*>(xmlBufferContent(buffer)));
    xmlBufferFree(buffer);
    return text;
}

const char* const kSample =
    "<?xml version=\"1.0\"?>\n"
    "<r a=\"1\" b=\"2\">"
    "<x id=\"1\" t=\"True\" one=\"1\" yes=\"yes\" ok=\"true\" n=\"42abc\" w=\"abc\" m=\"-7\" e=\"\" s=\"  12\" "
    "big=\"99999999999\"/>"
    "<x id=\"2\">text</x><y/></r>\n";

} // namespace

TEST(GetAbsolutePath, ResolvesTheDirectoryAndKeepsTheFileName) {
    const std::string base = canonical(testDir());
    std::filesystem::create_directories(testDir() + "/real/sub");
    std::filesystem::create_directory_symlink(testDir() + "/real", testDir() + "/link");
    const std::string before = currentDirectory();

    std::string result;
    getAbsolutePath(testDir() + "/link/sub/../missing-file.txt", result, false);
    EXPECT_EQ(result, base + "/real/missing-file.txt");

    // Both separators split; the out-argument may be the input itself.
    std::string inOut = testDir() + "/real\\inner.txt";
    getAbsolutePath(inOut, inOut, false);
    EXPECT_EQ(inOut, base + "/real/inner.txt");

    getAbsolutePath(testDir() + "/link/sub", result, true);
    EXPECT_EQ(result, base + "/real/sub/");
    getAbsolutePath(testDir() + "/real/", result, false);
    EXPECT_EQ(result, base + "/real/");

    // A leading separator alone names the root; a bare name the current
    // directory, which the call never changes.
    getAbsolutePath("/just-a-name", result, false);
    EXPECT_EQ(result, "/just-a-name");
    getAbsolutePath("\\other-name", result, false);
    EXPECT_EQ(result, "/other-name");
    getAbsolutePath("bare.xml", result, false);
    EXPECT_EQ(result, canonical(before) + "/bare.xml");
    EXPECT_EQ(currentDirectory(), before);
}

TEST(GetAbsolutePath, RefusesDirectoriesThatDoNotExist) {
    writeFile(testDir() + "/plain.txt", "x");
    const std::string before = currentDirectory();
    expectInvalidPath(testDir() + "/nowhere/file.xml", false);
    expectInvalidPath(testDir() + "/nowhere", true);
    // A regular file is no directory.
    expectInvalidPath(testDir() + "/plain.txt/file.xml", false);
    expectInvalidPath(testDir() + "/plain.txt", true);
    EXPECT_EQ(currentDirectory(), before);
}

TEST(BAAnyXMLDoc, ReplacesAttributesInPlaceAndAppendsNewOnes) {
    const std::string file = writeFile(testDir() + "/doc.xml", kSample);
    BAAnyXMLDoc doc(file, true);
    ASSERT_NE(doc.getDocument(), nullptr);

    doc.setStringAttribute("/r", "a", "first");
    doc.setIntAttribute("/r", "c", -12);
    doc.setBoolAttribute("/r", "b", false);
    xmlNodePtr y = doc.getFirstNode("/r/y");
    BAAnyXMLDoc::setStringAttribute(y, "q", "<&\">");
    BAAnyXMLDoc::setBoolAttribute(y, "p", true);
    BAAnyXMLDoc::setStringAttribute(y, "q", "again");
    EXPECT_EQ(dumpNode(doc.getFirstNode("/r/y")), "<y q=\"again\" p=\"true\"/>");

    doc.save();
    const std::string saved = readFile(file);
    EXPECT_EQ(saved.rfind("<?xml version=\"1.0\"?>\n<r a=\"first\" b=\"false\" c=\"-12\"><x id=\"1\"", 0), 0u) << saved;

    // Values survive the file unchanged, markup characters included.
    BAAnyXMLDoc::setStringAttribute(y, "q", "<&\">");
    doc.save();
    BAAnyXMLDoc reread(file, true);
    EXPECT_EQ(reread.getStringAttribute("/r/y", "q"), "<&\">");
}

TEST(BAAnyXMLDoc, ReadsBooleansAndIntegersAsSpecifiedTexts) {
    BAAnyXMLDoc doc(writeFile(testDir() + "/doc.xml", kSample), true);
    xmlNodePtr x = doc.getFirstNode("/r/x");
    EXPECT_FALSE(BAAnyXMLDoc::getBoolAttribute(x, "t"));
    EXPECT_FALSE(BAAnyXMLDoc::getBoolAttribute(x, "one"));
    EXPECT_FALSE(BAAnyXMLDoc::getBoolAttribute(x, "yes"));
    EXPECT_FALSE(BAAnyXMLDoc::getBoolAttribute(x, "e"));
    EXPECT_TRUE(BAAnyXMLDoc::getBoolAttribute(x, "ok"));
    EXPECT_EQ(BAAnyXMLDoc::getIntAttribute(x, "n"), 42);
    EXPECT_EQ(BAAnyXMLDoc::getIntAttribute(x, "w"), 0);
    EXPECT_EQ(BAAnyXMLDoc::getIntAttribute(x, "m"), -7);
    EXPECT_EQ(BAAnyXMLDoc::getIntAttribute(x, "e"), 0);
    EXPECT_EQ(BAAnyXMLDoc::getIntAttribute(x, "s"), 12);
    EXPECT_EQ(BAAnyXMLDoc::getIntAttribute(x, "big"), INT_MAX);
    EXPECT_EQ(doc.getStringAttribute("/r/x", "e"), "");
    EXPECT_EQ(doc.getIntAttribute("/r/x", "one"), 1);

    LogCapture log;
    try {
        doc.getBoolAttribute("/r/x", "absent");
        FAIL() << "no exception";
    } catch (const VorkException& e) {
        EXPECT_EQ(e.getMessageNarrow(), "BAAnyXMLDoc::getStringAttribute: attribute not present: absent");
        EXPECT_EQ(e.getCode(), 0);
        EXPECT_EQ(e.kind(), VorkSupport::VorkFailureKind::NotFound);
    }
    EXPECT_TRUE(log.contains("BAAnyXMLDoc::getStringAttribute: attribute not found: absent"));
    EXPECT_THROW(doc.getIntAttribute("/r/y", "id"), VorkException);

    // The forms that may miss read the same texts and answer nothing, silently.
    const std::string before = log.text();
    EXPECT_EQ(BAAnyXMLDoc::findStringAttribute(x, "e"), std::optional<std::string>(""));
    EXPECT_EQ(BAAnyXMLDoc::findBoolAttribute(x, "ok"), std::optional<bool>(true));
    EXPECT_EQ(BAAnyXMLDoc::findBoolAttribute(x, "one"), std::optional<bool>(false));
    EXPECT_EQ(BAAnyXMLDoc::findIntAttribute(x, "big"), std::optional<int>(INT_MAX));
    EXPECT_EQ(BAAnyXMLDoc::findIntAttribute(x, "m"), std::optional<int>(-7));
    EXPECT_FALSE(BAAnyXMLDoc::findStringAttribute(x, "absent"));
    EXPECT_FALSE(BAAnyXMLDoc::findBoolAttribute(x, "absent"));
    EXPECT_FALSE(BAAnyXMLDoc::findIntAttribute(nullptr, "n"));
    EXPECT_EQ(log.text(), before);
}

TEST(BAAnyXMLDoc, FindsTheFirstElementOfAnAbsoluteExpression) {
    BAAnyXMLDoc doc(writeFile(testDir() + "/doc.xml", kSample), true);
    EXPECT_EQ(doc.getStringAttribute("/r/x", "id"), "1");
    EXPECT_EQ(doc.getStringAttribute("//x[text()='text']", "id"), "2");
    EXPECT_EQ(doc.getStringAttribute("/r/x/@id/..", "id"), "1");

    for (const char* nothing : {"/r/x/@id", "/r/x/text()", "r/x", "x", "/r/z", "/r/x[@id='3']"}) {
        try {
            doc.getFirstNode(nothing);
            ADD_FAILURE() << "found something for " << nothing;
        } catch (const VorkException& e) {
            EXPECT_EQ(e.getMessageNarrow(), "BAAnyXMLDoc::getFirstNode: Node does not exist") << nothing;
            EXPECT_EQ(e.getCode(), 0);
        }
        EXPECT_EQ(doc.findFirstNode(nothing), nullptr) << nothing;
    }
    EXPECT_EQ(doc.findFirstNode("//x[text()='text']"), doc.getFirstNode("//x[text()='text']"));
    EXPECT_EQ(BAAnyXMLDoc().findFirstNode("/r"), nullptr);
    // A malformed expression is no VorkException.
    EXPECT_THROW(doc.getFirstNode("/r/["), std::exception);
}

TEST(BAAnyXMLDoc, MissingOrMalformedFilesLeaveNoDocument) {
    EXPECT_THROW(BAAnyXMLDoc(testDir() + "/no-such-dir/doc.xml", false), VorkException);

    LogCapture log;
    const std::string missing = testDir() + "/missing.xml";
    BAAnyXMLDoc doc(missing, true);
    EXPECT_EQ(doc.getFileName(), canonical(testDir()) + "/missing.xml");
    EXPECT_EQ(doc.getDocument(), nullptr);
    EXPECT_THROW(doc.getFirstNode("/r"), VorkException);
    EXPECT_THROW(doc.save(), VorkException);
    EXPECT_FALSE(plimotest::fileExists(missing));
    EXPECT_TRUE(log.contains("Error:Could not save XML log file!"));

    // A document that was loaded goes when a later load fails.
    const std::string file = writeFile(testDir() + "/doc.xml", kSample);
    BAAnyXMLDoc reloaded(file, true);
    ASSERT_NE(reloaded.getDocument(), nullptr);
    writeFile(file, "<r><unclosed></r>");
    reloaded.load();
    EXPECT_EQ(reloaded.getDocument(), nullptr);
    writeFile(file, "");
    reloaded.load();
    EXPECT_EQ(reloaded.getDocument(), nullptr);
}

TEST(BAAnyXMLDoc, HostileDocumentsNeitherReadOtherFilesNorExpand) {
    writeFile(testDir() + "/secret.txt", "TOPSECRET");
    writeFile(testDir() + "/evil.dtd", "<!ENTITY leak SYSTEM \"file://" + testDir() + "/secret.txt\">\n");
    const std::vector<std::string> hostile = {
        // External general entity pointing at a local file.
        "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY xxe SYSTEM \"file://" + testDir() +
            "/secret.txt\">]>\n<r a=\"&xxe;\">&xxe;</r>\n",
        // External parameter entity and an external DTD.
        "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY % p SYSTEM \"file://" + testDir() +
            "/evil.dtd\"> %p;]>\n"
            "<r>&leak;</r>\n",
        "<?xml version=\"1.0\"?>\n<!DOCTYPE r SYSTEM \"file://" + testDir() + "/evil.dtd\">\n<r a=\"x\">&leak;</r>\n",
        // A network DTD.
        "<?xml version=\"1.0\"?>\n<!DOCTYPE r SYSTEM \"http://192.0.2.1/evil.dtd\">\n<r a=\"x\"/>\n",
    };
    for (const std::string& content : hostile) {
        const std::string file = writeFile(testDir() + "/hostile.xml", content);
        BAAnyXMLDoc doc(file, true);
        if (doc.getDocument() == nullptr) continue;
        xmlChar* text = nullptr;
        int size = 0;
        xmlDocDumpMemory(doc.getDocument(), &text, &size);
        const std::string dumped(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
        xmlFree(text);
        EXPECT_EQ(dumped.find("TOPSECRET"), std::string::npos) << content;
        try {
            EXPECT_EQ(doc.getStringAttribute("/r", "a").find("TOPSECRET"), std::string::npos);
        } catch (const VorkException&) {}
    }

    std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol0 \"lol\">\n";
    for (int level = 1; level <= 9; ++level) {
        laughs += "<!ENTITY lol" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i) laughs += "&lol" + std::to_string(level - 1) + ";";
        laughs += "\">\n";
    }
    laughs += "]>\n<lolz a=\"&lol9;\">&lol9;</lolz>\n";
    BAAnyXMLDoc bomb(writeFile(testDir() + "/laughs.xml", laughs), true);
    if (bomb.getDocument() != nullptr) {
        xmlChar* text = nullptr;
        int size = 0;
        xmlDocDumpMemory(bomb.getDocument(), &text, &size);
        xmlFree(text);
        EXPECT_LT(size, 100000);
        EXPECT_LT(bomb.getStringAttribute("/lolz", "a").size(), 100000u);
    }

    // Any declaration is refused; a bare document type is not.
    for (const char* subset :
         {"<!ELEMENT r ANY>", "<!ATTLIST r a CDATA \"d\">", "<!NOTATION n SYSTEM \"x\">", "<!ENTITY e \"x\">"}) {
        BAAnyXMLDoc declared(writeFile(testDir() + "/declared.xml", std::string("<!DOCTYPE r [") + subset + "]><r/>"),
                             true);
        EXPECT_EQ(declared.getDocument(), nullptr) << subset;
    }
    BAAnyXMLDoc bare(writeFile(testDir() + "/bare.xml", "<!DOCTYPE r><r a=\"1\"/>"), true);
    EXPECT_EQ(bare.getIntAttribute("/r", "a"), 1);
}

namespace {

std::string g_target;
bool g_sawBothFiles = false;

bool stopBeforeReplace(const std::string& tempFileName, const std::string& fileName) {
    // The new file is complete while the old one is still the target.
    g_sawBothFiles = fileName == g_target && readFile(tempFileName).find("v=\"new\"") != std::string::npos &&
                     readFile(fileName).find("v=\"old\"") != std::string::npos;
    BAAnyXMLDoc reader(fileName, true);
    g_sawBothFiles = g_sawBothFiles && reader.getStringAttribute("/r", "v") == "old";
    return false;
}

struct HookReset {
    ~HookReset() { VorkSupport::VorkAtomicFile::setReplaceHook(nullptr); }
};

} // namespace

TEST(BAAnyXMLDoc, SaveReplacesTheFileAtomicallyAndPrivately) {
    const std::string directory = testDir() + "/state";
    std::filesystem::create_directory(directory);
    const std::string file = writeFile(directory + "/BAUpdate.xml", "<r v=\"old\"/>\n");
    chmod(file.c_str(), 0644);
    BAAnyXMLDoc doc(file, true);
    doc.setStringAttribute("/r", "v", "new");

    {
        LogCapture log;
        HookReset reset;
        g_target = doc.getFileName();
        VorkSupport::VorkAtomicFile::setReplaceHook(stopBeforeReplace);
        EXPECT_THROW(doc.save(), VorkException);
        EXPECT_TRUE(doc.saveFailed());
        EXPECT_TRUE(g_sawBothFiles);
        EXPECT_TRUE(log.contains("Error:Could not save XML log file!"));
    }
    EXPECT_EQ(readFile(file), "<r v=\"old\"/>\n");
    EXPECT_EQ(directoryEntries(directory), std::vector<std::string>{"BAUpdate.xml"});

    // A temporary file left by a killed save goes with the next save; one of
    // another file stays.
    writeFile(directory + "/BAUpdate.xml.tmp0badf00d", "<r v=\"half");
    writeFile(directory + "/Other.xml.tmp0badf00d", "<r v=\"half");
    doc.save();
    EXPECT_EQ(readFile(file), "<?xml version=\"1.0\"?>\n<r v=\"new\"/>\n");
    EXPECT_EQ(directoryEntries(directory), (std::vector<std::string>{"BAUpdate.xml", "Other.xml.tmp0badf00d"}));
    struct stat status;
    ASSERT_EQ(stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    // The directory cannot be flushed after the rename: the save fails and
    // says that the new file may already be in place, as it is.
    {
        LogCapture log;
        doc.setStringAttribute("/r", "v", "newer");
        VorkSupport::VorkFaultSeam::arm(VorkSupport::VorkFaultSeam::Call::Fsync, 2,
                                        VorkSupport::VorkFaultSeam::Action::Fail);
        EXPECT_THROW(doc.save(), VorkException);
        VorkSupport::VorkFaultSeam::disarm();
        EXPECT_TRUE(log.contains("may already hold the new version"));
        EXPECT_EQ(readFile(file), "<?xml version=\"1.0\"?>\n<r v=\"newer\"/>\n");
        // A failure before the rename leaves the old file and no leftover.
        doc.setStringAttribute("/r", "v", "new");
        VorkSupport::VorkFaultSeam::arm(VorkSupport::VorkFaultSeam::Call::Fsync, 1,
                                        VorkSupport::VorkFaultSeam::Action::Fail);
        EXPECT_THROW(doc.save(), VorkException);
        VorkSupport::VorkFaultSeam::disarm();
        EXPECT_EQ(readFile(file), "<?xml version=\"1.0\"?>\n<r v=\"newer\"/>\n");
        EXPECT_EQ(directoryEntries(directory), (std::vector<std::string>{"BAUpdate.xml", "Other.xml.tmp0badf00d"}));
        doc.save();
    }

    // A file that is not private follows the umask.
    const mode_t oldMask = umask(027);
    doc.setPrivateFile(false);
    doc.save();
    umask(oldMask);
    ASSERT_EQ(stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);

    // A target that cannot be replaced stays as it is, without leftovers.
    std::filesystem::create_directories(directory + "/busy.xml/inner");
    LogCapture log;
    doc.setFileName(directory + "/busy.xml");
    EXPECT_THROW(doc.save(), VorkException);
    EXPECT_TRUE(log.contains("Error:Could not save XML log file!"));
    EXPECT_TRUE(std::filesystem::is_directory(directory + "/busy.xml/inner"));
    EXPECT_EQ(directoryEntries(directory).size(), 3u);

    // A file read in another encoding is written in UTF-8, and says so: it
    // reads back as it was.
    const std::string latin =
        writeFile(directory + "/latin.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r v=\"\xe9\"/>\n");
    BAAnyXMLDoc foreign(latin, true);
    foreign.save();
    BAAnyXMLDoc again(latin, true);
    ASSERT_NE(again.getDocument(), nullptr);
    EXPECT_EQ(again.getStringAttribute("/r", "v"), "\xc3\xa9");
}

TEST(BAAnyXMLDoc, SaveKeepsLinksAndWritesPipesInPlace) {
    const std::string real = writeFile(testDir() + "/real.xml", "<r v=\"old\"/>");
    std::filesystem::create_symlink(real, testDir() + "/link.xml");
    BAAnyXMLDoc doc(testDir() + "/link.xml", true);
    doc.setStringAttribute("/r", "v", "new");
    doc.save();
    EXPECT_TRUE(std::filesystem::is_symlink(testDir() + "/link.xml"));
    EXPECT_EQ(readFile(real), "<?xml version=\"1.0\"?>\n<r v=\"new\"/>\n");

    const std::string pipe = testDir() + "/pipe.xml";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = readFile(pipe); });
    doc.setFileName(pipe);
    doc.save();
    reader.join();
    EXPECT_EQ(received, "<?xml version=\"1.0\"?>\n<r v=\"new\"/>\n");
    struct stat status;
    ASSERT_EQ(lstat(pipe.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    for (const std::string& name : directoryEntries(testDir())) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}
