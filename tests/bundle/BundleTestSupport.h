#pragma once
// Shared pieces of the bundle tests: a sandboxed fixture (no physical memory
// is ever read), stand-in QPK programs, bundle definition files and status
// logs set up as the update function leaves them.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BAXMLDoc.h"
#include "MemoryFactory.h"
#include "TestEnvironment.h"
#include "VorkLogging.h"

namespace bundletest {

// One package of a generated bundle.
struct PackageSpec {
    PackageSpec(std::string id, std::string file, int code = 0, std::string type = "", bool create = true)
        : releaseID(std::move(id)), path(std::move(file)), exitCode(code), packageType(std::move(type)),
          createFile(create) {}
    std::string releaseID;   // "" writes no releaseID attribute
    std::string path;        // file name inside the bundle directory
    int exitCode;            // exit code of the stand-in program
    std::string packageType; // "" writes no packageType attribute
    bool createFile;         // false leaves the package missing
};

class BundleTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Never read the machine's physical memory: a missing memory image
        // gives the system identifier 0.
        useMemoryImage(plimotest::testDir() + "/no-memory-image");
        m_bundleDir = plimotest::testDir() + "/bundle";
        m_runRecord = plimotest::testDir() + "/runs.txt";
        std::filesystem::create_directories(m_bundleDir);
    }
    void TearDown() override {
        VorkSupport::VorkLogging::setInstance(nullptr);
        m_logging.reset();
        ::unsetenv("PLIMO_MEMFILE");
        memory::MemoryFactory::resetForTesting();
    }

    static void useMemoryImage(const std::string& path) {
        ::setenv("PLIMO_MEMFILE", path.c_str(), 1);
        memory::MemoryFactory::resetForTesting();
    }

    // A memory image in which the firmware signature block names the given
    // system identifier (below 0xFE, so it is byte 5 of the block).
    void useSystemId(unsigned char id) {
        const std::string path = plimotest::testDir() + "/memory.img";
        std::string image(0xFE840 + 13, '\0');
        const std::string signature = "Vork System";
        image.replace(0xFE076, signature.size(), signature);
        image[0xFE840 + 5] = static_cast<char>(id);
        plimotest::writeFile(path, image);
        useMemoryImage(path);
    }

    // Debug log at level 9 into a file of the test directory.
    void captureLog() {
        m_logFile = plimotest::testDir() + "/debug.log";
        m_logging = std::make_unique<VorkSupport::VorkLogging>(m_logFile, 1, 9);
        VorkSupport::VorkLogging::setInstance(m_logging.get());
    }
    std::string logText() const { return plimotest::readFile(m_logFile); }

    // A stand-in QPK program: records its name in the run record, writes the
    // log file it is told with /l=, and exits with the given code.
    std::string writeQpk(const std::string& path, const std::string& name, int exitCode) const {
        std::ostringstream script;
        script << "#!/bin/sh\n"
               << "for a in \"$@\"; do case \"$a\" in /l=*) log=\"${a#/l=}\";; esac; done\n"
               << "echo '" << name << "' >> '" << m_runRecord << "'\n"
               << "[ -n \"$log\" ] && echo 'log of " << name << "' > \"$log\"\n"
               << "exit " << exitCode << "\n";
        return plimotest::writeFile(path, script.str(), true);
    }

    // Writes bundle.xml (and the package programs) into the bundle directory.
    void writeBundle(const std::vector<PackageSpec>& packages, const std::string& targets = "") const {
        std::ostringstream xml;
        xml << "<?xml version=\"1.0\"?>\n<SoftwareBundle>" << targets << "<Contents>";
        for (const PackageSpec& p : packages) {
            xml << "<Package";
            if (!p.releaseID.empty()) xml << " releaseID=\"" << p.releaseID << "\"";
            xml << " path=\"" << p.path << "\"";
            if (!p.packageType.empty()) xml << " packageType=\"" << p.packageType << "\"";
            xml << "/>";
            if (p.createFile)
                writeQpk(m_bundleDir + "/" + p.path, p.releaseID.empty() ? p.path : p.releaseID, p.exitCode);
        }
        xml << "</Contents></SoftwareBundle>\n";
        plimotest::writeFile(m_bundleDir + "/bundle.xml", xml.str());
    }

    // A status log as the update function prepares it before the run.
    std::unique_ptr<BAXMLDoc> makeStatusLog(bool continueOnFailure = false, bool ignore = false, bool notify = false,
                                            const std::string& relocation = "") const {
        auto log = std::make_unique<BAXMLDoc>(plimotest::testDir() + "/win/TEMP/BAUpdate.xml");
        log->updateId("U1");
        log->bundlePath(m_bundleDir + "/");
        log->reboot(false);
        log->force(false);
        log->clearPackage(false);
        log->notify(notify);
        log->ignore(ignore);
        log->continueOnFailure(continueOnFailure);
        log->preInstallEnv(false);
        log->updateOnly(false);
        log->bundleName("bundle.xml");
        if (!relocation.empty()) log->relocationFile(relocation);
        log->UserInfo("tester");
        log->qpkLogName = plimotest::testDir() + "/win/TEMP/QPK.log";
        log->save();
        return log;
    }

    // The names of the stand-in programs that ran, in order.
    std::vector<std::string> runs() const {
        std::vector<std::string> names;
        std::istringstream in(plimotest::readFile(m_runRecord));
        for (std::string line; std::getline(in, line);) names.push_back(line);
        return names;
    }

    std::string m_bundleDir;
    std::string m_runRecord;
    std::string m_logFile;
    std::unique_ptr<VorkSupport::VorkLogging> m_logging;
};

} // namespace bundletest
