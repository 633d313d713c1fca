#pragma once
// Shared pieces of the package tests: a status log in the test directory,
// XPath look-ups into it, a scripted program runner, and stand-in programs.
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BAXMLDoc.h"
#include "TestEnvironment.h"
#include "VorkException.h"
#include "VorkExecuteProgram.h"

namespace packagetest {

// All elements an XPath expression finds in a document.
inline std::vector<xmlNodePtr> findAll(xmlDocPtr doc, const std::string& xpath) {
    std::vector<xmlNodePtr> nodes;
    xmlXPathContextPtr context = xmlXPathNewContext(doc);
    xmlXPathObjectPtr result = xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(xpath.c_str()), context);
    if (result != nullptr && result->nodesetval != nullptr) {
        for (int i = 0; i < result->nodesetval->nodeNr; ++i) nodes.push_back(result->nodesetval->nodeTab[i]);
    }
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(context);
    return nodes;
}

// An attribute's text, or "<absent>".
inline std::string attr(xmlNodePtr node, const char* name) {
    if (node == nullptr) return "<no node>";
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (value == nullptr) return "<absent>";
    std::string text(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

inline std::string content(xmlNodePtr node) {
    if (node == nullptr) return "<no node>";
    xmlChar* value = xmlNodeGetContent(node);
    std::string text = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

// The n-th (from 1) Package element's parts.
inline xmlNodePtr packageNode(xmlDocPtr doc, int n) {
    auto nodes = findAll(doc, "/BundleLog/Package[" + std::to_string(n) + "]");
    return nodes.empty() ? nullptr : nodes.front();
}
inline xmlNodePtr statusNode(xmlDocPtr doc, int n) {
    auto nodes = findAll(doc, "/BundleLog/Package[" + std::to_string(n) + "]/Status");
    return nodes.empty() ? nullptr : nodes.front();
}
inline std::string exeCmd(xmlDocPtr doc, int n) {
    auto nodes = findAll(doc, "/BundleLog/Package[" + std::to_string(n) + "]/ExeCmd");
    return nodes.empty() ? "<no node>" : content(nodes.front());
}
inline std::vector<xmlNodePtr> pkgLogs(xmlDocPtr doc, int n) {
    return findAll(doc, "/BundleLog/Package[" + std::to_string(n) + "]/PkgLog");
}
inline std::size_t packageCount(xmlDocPtr doc) { return findAll(doc, "/BundleLog/Package").size(); }

// A program runner for unit tests: records every start and answers the
// scripted codes in order (0 when the script is used up). kNotStarted makes
// the start fail. A run that starts writes the output log file, as the real
// programs do.
class ScriptedRunner {
public:
    static constexpr int kNotStarted = -99999;
    struct Call {
        std::string commandLine;
        std::string workingDirectory;
    };

    explicit ScriptedRunner(std::string outputLog) : m_outputLog(std::move(outputLog)) {
        VorkSupport::VorkSetProgramRunner(
            [this](const std::string& commandLine, bool, const std::string& workingDirectory) {
                calls.push_back({commandLine, workingDirectory});
                int code = 0;
                if (!codes.empty()) {
                    code = codes.front();
                    codes.pop_front();
                }
                VorkSupport::VorkProgramResult result;
                if (code == kNotStarted) return result;
                if (writeLog && !m_outputLog.empty()) {
                    plimotest::writeFile(m_outputLog, "run " + std::to_string(calls.size()) + " output\n");
                }
                result.started = true;
                result.exitCode = code;
                return result;
            });
    }
    ~ScriptedRunner() { VorkSupport::VorkSetProgramRunner(nullptr); }
    ScriptedRunner(const ScriptedRunner&) = delete;
    ScriptedRunner& operator=(const ScriptedRunner&) = delete;

    std::deque<int> codes;
    std::vector<Call> calls;
    bool writeLog = true;

private:
    std::string m_outputLog;
};

// A status log in the test directory with the options an update sets.
class PackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_logFile = plimotest::testDir() + "/win/TEMP/BAUpdate.xml";
        m_doc = std::make_unique<BAXMLDoc>(m_logFile);
        m_doc->qpkLogName = plimotest::testDir() + "/win/TEMP/QPK.log";
        m_doc->bundlePath(plimotest::testDir() + "/bundle/");
        m_doc->reboot(false);
        m_doc->force(false);
        m_doc->clearPackage(false);
        m_doc->notify(false);
        m_doc->ignore(false);
        m_doc->continueOnFailure(false);
        m_doc->preInstallEnv(false);
        m_doc->updateOnly(false);
        if (const char* path = std::getenv("PATH")) m_savedPath = path;
    }
    void TearDown() override { ::setenv("PATH", m_savedPath.c_str(), 1); }

    // Loads a status log whose BundleLog holds the given Package elements
    // (XML text) after the usual settings; answers the first Package.
    xmlNodePtr loadWithPackages(const std::string& packagesXml,
                                const std::string& settings = "reboot=\"false\" force=\"false\" "
                                                              "ignore=\"false\" preInstallEnv=\"false\"") {
        // A log written by hand has no journal: one left by the case before
        // would name a snapshot of the same bytes.
        BAXMLDoc::removeFile(m_logFile);
        plimotest::writeFile(m_logFile, "<?xml version=\"1.0\"?>\n<BundleLog update-id=\"U1\"><SMStatus "
                                        "result=\"0\">Success</SMStatus><BundleSettings bundle-path=\"/b/\" " +
                                            settings + "/>" + packagesXml + "</BundleLog>\n");
        m_doc->load();
        auto nodes = findAll(doc(), "/BundleLog/Package");
        return nodes.empty() ? nullptr : nodes.front();
    }

    // A Package element in a given state (code only when not empty).
    static std::string packageXml(const std::string& path, const std::string& state, const std::string& code,
                                  const std::string& exe = "old command") {
        std::string status = "<Status state=\"" + state + "\"";
        if (!code.empty()) status += " code=\"" + code + "\" status=\"9\"";
        status += "/>";
        return "<Package releaseID=\"R1\" packageType=\"t\" path=\"" + path + "\">" + status + "<ExeCmd>" + exe +
               "</ExeCmd></Package>";
    }

    xmlDocPtr doc() const { return m_doc->getDocument(); }
    // The document as saved on disk (the file with its journal replayed).
    xmlDocPtr savedDoc() {
        m_saved = std::make_unique<BAXMLDoc>(m_logFile);
        m_saved->load();
        return m_saved->getDocument();
    }
    const std::string& outputLog() const { return m_doc->qpkLogName; }

    // Puts a directory first on PATH (restored after the test).
    void prependPath(const std::string& directory) { ::setenv("PATH", (directory + ":" + m_savedPath).c_str(), 1); }

    std::string m_logFile;
    std::unique_ptr<BAXMLDoc> m_doc;
    std::string m_savedPath;

private:
    std::unique_ptr<BAXMLDoc> m_saved;
};

// The code of a VorkException that a call raises, or -1 when it raises none.
template <typename F>
int exceptionCode(F&& f) {
    try {
        f();
    } catch (const VorkSupport::VorkException& e) {
        return e.getCode();
    }
    return -1;
}

} // namespace packagetest
