#include "BundlePackage.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <stdexcept>

#include "BAXMLDoc.h"
#include "BAXMLPackageNode.h"
#include "FixedLogTexts.h"
#include "PackageConsoleLog.h"
#include "PackageFile.h"
#include "VerifiedCopy.h"
#include "StatusCode.h"
#include "VorkException.h"
#include "VorkLocaleFactory.h"
#include "VorkLogRecord.h"
#include "VorkPlatform.h"
#include "VorkScopeTrace.h"
#include "VorkStringUtilities.h"

using VorkSupport::VorkException;

namespace {

// The Status child of a Package element, which carries state and code.
xmlNodePtr statusElement(xmlNodePtr package) {
    for (xmlNodePtr child = package ? package->children : nullptr; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && xmlStrcmp(child->name, BAD_CAST "Status") == 0) return child;
    }
    throw VorkException("BundlePackage::BundlePackage (resume): no Status element for package");
}

} // namespace

BundlePackage::BundlePackage(BAXMLDoc* statusLog, const std::string& releaseID, const std::string& packageAbsFileName,
                             const std::string& packageType, const std::string& installParams, int updateOnly)
    : m_pStatusLog(statusLog), m_pLogNode(nullptr), m_sReleaseID(releaseID), m_sPackageAbsFileName(packageAbsFileName),
      m_nState(STATE_NOT_RUN), m_nStatus(0), m_bRestartAfterReboot(false), m_sPackageType(packageType),
      m_sInstallParams(installParams), m_nUpdateOnly(updateOnly) {
    VORK_TRACE("BundlePackage::BundlePackage");
    VORK_LOG(3, "BundlePackage::BundlePackage (start): m_sReleaseID="
                    << "|" << m_sReleaseID << "|, m_sPackageAbsFileName="
                    << "|" << m_sPackageAbsFileName << "|");
}

BundlePackage::BundlePackage(BAXMLDoc* statusLog, xmlNodePtr logNode)
    : m_pStatusLog(statusLog), m_pLogNode(logNode), m_nState(STATE_NOT_RUN), m_nStatus(0), m_bRestartAfterReboot(false),
      m_nUpdateOnly(-1) {
    VORK_TRACE("BundlePackage::BundlePackage");
    try {
        m_sReleaseID = BAAnyXMLDoc::getStringAttribute(logNode, "releaseID");
    } catch (...) {
        VORK_LOG(4, "BundlePackage::BundlePackage (resume): no releaseID for package");
        m_sReleaseID.clear();
    }
    m_sPackageAbsFileName = BAAnyXMLDoc::getStringAttribute(logNode, "path");
    try {
        m_sPackageType = BAAnyXMLDoc::getStringAttribute(logNode, "packageType");
    } catch (const VorkException&) {
        VORK_LOG(4, "BundlePackage::BundlePackage (resume): no packageType attribute for package");
    }
    try {
        m_sInstallParams = BAAnyXMLDoc::getStringAttribute(logNode, "installparams");
    } catch (const VorkException&) {
        VORK_LOG(4, "BundlePackage::BundlePackage (resume): no installparams attribute for package");
    }
    try {
        m_nUpdateOnly = readUpdateOnly(BAAnyXMLDoc::getStringAttribute(logNode, "updateonly"));
    } catch (const VorkException&) {
        VORK_LOG(4, "BundlePackage::BundlePackage (resume): no updateonly attribute for package");
        m_nUpdateOnly = -1;
    }
    VORK_LOG(3, "BundlePackage::BundlePackage (resume): m_sReleaseID=|"
                    << m_sReleaseID << "|, m_sPackageAbsFileName=|" << m_sPackageAbsFileName << "|, packageType = |"
                    << m_sPackageType << "|, installparams = |" << m_sInstallParams << "|, updateonly = |"
                    << m_nUpdateOnly << "|");

    m_nStatus = STATUS_SUCCESS;
    const xmlNodePtr status = statusElement(m_pLogNode);
    const std::string state = BAAnyXMLDoc::getStringAttribute(status, "state");
    VORK_LOG(3, "BundlePackage::BundlePackage (resume): sState="
                    << "|" << state << "|");
    if (state == "complete") {
        m_nState = STATE_COMPLETE;
        m_nStatus = std::atoi(BAAnyXMLDoc::getStringAttribute(status, "code").c_str());
        VORK_LOG(3, "BundlePackage::BundlePackage (resume): m_nStatus=" << m_nStatus);
    } else if (state == "in-progress") {
        m_nState = STATE_IN_PROGRESS;
    } else if (state == "missing") {
        m_nState = STATE_MISSING;
    } else if (state == "skipped") {
        m_nState = STATE_SKIPPED;
    } else {
        m_nState = STATE_NOT_RUN;
    }
}

BundlePackage::BundlePackage(const BundlePackage& other) = default;

BundlePackage::~BundlePackage() = default;

BundlePackage::State BundlePackage::getState() const { return m_nState; }
int BundlePackage::getStatus() const { return m_nStatus; }
const std::string& BundlePackage::getReleaseID() const { return m_sReleaseID; }
const std::string& BundlePackage::getPackageAbsFileName() const { return m_sPackageAbsFileName; }

bool BundlePackage::equalsNoCase(const std::string& left, const std::string& right) {
    VORK_TRACE("BundlePackage::equalsNoCase");
    // Texts end at their first NUL, as C strings would.
    const std::locale& locale = VorkSupport::VorkLocaleFactory::getDefaultLocale(true);
    return VorkSupport::VorkStringUtilities::tolower(std::string(left.c_str()), locale) ==
           VorkSupport::VorkStringUtilities::tolower(std::string(right.c_str()), locale);
}

int BundlePackage::readUpdateOnly(const std::string& text) {
    VORK_TRACE("BundlePackage::readUpdateOnly");
    if (text.empty()) return -1;
    return equalsNoCase(text, "true") ? 1 : 0;
}

int BundlePackage::validate() {
    VORK_TRACE("BundlePackage::validate");
    if (!VorkSupport::VorkPlatform::fileExists(m_sPackageAbsFileName)) {
        VORK_LOG(1, "BundlePackage::validate: package is missing: "
                        << "|" << m_sPackageAbsFileName << "|");
        // A package rebuilt from its entry is recorded there: one entry per
        // package. A completed run keeps its record.
        if (m_pLogNode == nullptr) {
            m_pStatusLog->createMissingPackage(m_sReleaseID, m_sPackageAbsFileName, m_sPackageType, m_sInstallParams,
                                               m_nUpdateOnly);
        } else if (m_nState != STATE_COMPLETE) {
            BAXMLPackageNode(m_pStatusLog, m_pLogNode).setMissing();
        }
        return StatusCode::MissingPackage;
    }
    return 0;
}

int BundlePackage::execute(bool& notRun) {
    VORK_TRACE("BundlePackage::execute");
    notRun = false;
    int result = 0;
    VORK_LOG(3, "BundlePackage::execute: starting package: releaseId = |"
                    << m_sReleaseID << "|, path = |" << m_sPackageAbsFileName << "|, packageType = |" << m_sPackageType
                    << "|, state = |" << m_nState << "|, status = |" << m_nStatus << "|, ");

    const State entryState = m_nState;
    settleRecordedState("BundlePackage", false, result);

    if (entryState == STATE_NOT_RUN && shouldBeSkipped()) recordSkipped();

    if (completeAfterReboot()) markCompleteAfterReboot();

    switch (m_nState) {
        case STATE_COMPLETE:
        case STATE_MISSING:
            VORK_LOG(4, "BundlePackage::execute: package already executed or missing, skipping");
            notRun = true;
            return result;
        case STATE_SKIPPED:
            VORK_LOG(4, "BundlePackage::execute: skipping package");
            notRun = true;
            return StatusCode::PackagesSkipped;
        case STATE_NOT_RUN:
            // This execute starts no program: a fresh package is skipped above,
            // and one to run again (interrupted, or asking to resume) cannot be.
            throw VorkException("BundlePackage::execute: invalid code path encountered");
        default:
            VORK_LOG(1, "BundlePackage::execute: invalid code path encountered");
            throw VorkException("BundlePackage::execute: invalid code path encountered");
    }
}

void BundlePackage::recordSkipped() {
    VORK_LOG(2, FixedLogText::Packages::kSkippedBySubclass);
    m_nState = STATE_SKIPPED;
    m_nStatus = STATUS_SKIPPED;
    // One entry per package: one rebuilt from its entry is recorded there.
    if (m_pLogNode != nullptr) {
        BAXMLPackageNode(m_pStatusLog, m_pLogNode).setSkipped(m_sPrependMessage);
    } else {
        m_pStatusLog->createSkippedPackage(m_sReleaseID, m_sPackageAbsFileName, m_sPackageType, m_sInstallParams,
                                           m_nUpdateOnly, m_sPrependMessage);
    }
    m_pStatusLog->saveWithNext();
}

bool BundlePackage::shouldBeSkipped() { return false; }

bool BundlePackage::completeAfterReboot() { return false; }

void BundlePackage::setExpectedDigest(const std::string& digestText) {
    m_bHasDigest = true;
    m_sDigest = digestText;
}

std::string BundlePackage::validateIntegrity(bool digestRequired) {
    VORK_TRACE("BundlePackage::validateIntegrity");
    std::string problem;
    if (m_bUnmatched && digestRequired) {
        problem = "no package of the bundle definition has this entry's release id and path, and the verify "
                  "policy requires one";
    } else if (!m_bHasDigest) {
        if (digestRequired) problem = "no SHA-256 digest, and the verify policy requires one";
    } else {
        // A missing package is validate()'s to report; a malformed digest is
        // refused all the same. What a verified script starts must be as
        // safe from others as the script itself.
        const PackageFile file(m_sPackageAbsFileName);
        if (!file.missing() || PackageFile::normalDigest(m_sDigest).empty()) problem = file.mismatch(m_sDigest);
        if (problem.empty()) problem = PackageFile::unsafeInterpreter(file.scriptLine());
    }
    if (problem.empty()) return problem;
    VORK_LOG(1, "BundlePackage::validateIntegrity: package refused: |" << m_sPackageAbsFileName << "|: " << problem);
    // One entry per package: a package rebuilt from its entry is recorded
    // there, and a completed run keeps its state.
    const std::unique_ptr<BAXMLPackageNode> entry =
        m_pLogNode != nullptr ? std::make_unique<BAXMLPackageNode>(m_pStatusLog, m_pLogNode)
                              : m_pStatusLog->createPackage(m_sReleaseID, m_sPackageAbsFileName, "", m_sPackageType,
                                                            m_sInstallParams, m_nUpdateOnly);
    if (m_pLogNode == nullptr || m_nState != STATE_COMPLETE) entry->setMissing();
    entry->setPackageLog(StatusCode::IntegrityFailed, "", problem, NO_OS_ERROR_CODE);
    return problem;
}

std::string BundlePackage::stateFolder() const {
    const std::string& outputLog = m_pStatusLog->qpkLogName;
    const std::string::size_type slash = outputLog.find_last_of('/');
    return slash != std::string::npos ? outputLog.substr(0, slash)
                                      : VorkSupport::VorkPlatform::windowsDirectory() + "/TEMP";
}

bool BundlePackage::prepareStart(PackageRole role, VorkSupport::VorkProgramCall& call,
                                 std::unique_ptr<VerifiedCopy>& copy) {
    m_sRefusal.clear();
    if (!m_bHasDigest || role == PackageRole::Unrelated) return true;
    copy = std::make_unique<VerifiedCopy>(m_sPackageAbsFileName, stateFolder(), m_sDigest);
    if (copy->missing()) return false;
    m_sRefusal = copy->problem();
    if (!m_sRefusal.empty()) {
        VORK_LOG(1,
                 "BundlePackage::prepareStart: package not started: |" << m_sPackageAbsFileName << "|: " << m_sRefusal);
        return false;
    }
    // The program, or the installer's package argument, is the private
    // copy; the command line that is recorded stays as it was built.
    if (role == PackageRole::Program) {
        call.programPath = copy->path();
    } else {
        for (std::string& argument : call.arguments)
            if (argument == m_sPackageAbsFileName) argument = copy->path();
    }
    return true;
}

bool BundlePackage::runProgram(VorkSupport::VorkProgramCall call, int& exitCode, PackageRole role) {
    // The copy is made last before the start and goes when the program has
    // ended.
    std::unique_ptr<VerifiedCopy> copy;
    if (!prepareStart(role, call, copy)) return false;
    // The console log lives beside the package output log, in the state
    // folder.
    const PackageConsoleLog console(stateFolder(), m_sReleaseID, call.displayText());
    call.outputFd = console.fd();
    call.ownProcessGroup = true;
    call.timeoutSeconds = timeLimit();
    call.outputLimit = PackageConsoleLog::kOutputLimit;
    const VorkSupport::VorkProgramResult run = VorkSupport::VorkExecuteProgram(call);
    if (run.started) exitCode = run.exitCode;
    console.noteDropped(run.droppedOutput);
    m_nTimedOutAfter = run.timedOut ? call.timeoutSeconds : 0;
    return run.started;
}

int BundlePackage::timeLimit() const {
    if (m_nTimeout > 0) return m_nTimeout;
    try {
        return std::max(m_pStatusLog->packageTimeout(), 0);
    } catch (const VorkException&) {
        return 0;
    }
}

bool BundlePackage::finishRun(BAXMLPackageNode& entry, const RunEnd& end, int& result) {
    if (end.started) {
        m_nState = STATE_COMPLETE;
        recordRun(entry, m_pStatusLog->qpkLogName, end.message, end.osErrorCode);
        VORK_LOG(4, end.texts.returned << m_sPackageAbsFileName << " releaseID " << m_sReleaseID
                                       << " returned: " << m_nStatus << ".");
        return true;
    }
    if (refusedAtStart(entry, result)) return false;
    removeOutputLog();
    if (end.missingNote != nullptr) {
        VORK_LOG(4, end.missingNote);
    } else {
        VORK_LOG(4, end.texts.packageMissing << m_sPackageAbsFileName << " - " << m_sReleaseID << ".");
    }
    recordMissing(end.keepEntryWhenMissing ? nullptr : &entry, end.texts.missing, end.texts.missingLevel);
    return false;
}

bool BundlePackage::refusedAtStart(BAXMLPackageNode& entry, int& result) {
    if (m_sRefusal.empty()) return false;
    removeOutputLog();
    m_nState = STATE_COMPLETE;
    m_nStatus = STATUS_FAILED;
    entry.setComplete(m_nStatus, "", m_sRefusal, NO_OS_ERROR_CODE);
    m_pStatusLog->saveWithNext();
    result = StatusCode::PackageFailed;
    return true;
}

void BundlePackage::removeOutputLog() const {
    // The output log belongs to one run only; a failure to delete it matters
    // to nobody.
    if (!m_pStatusLog->qpkLogName.empty()) ::unlink(m_pStatusLog->qpkLogName.c_str());
}

namespace {

// A boolean setting of the status log; absent (or unreadable) reads as false.
template <typename Getter>
bool settingOrFalse(Getter getter) {
    try {
        return getter();
    } catch (const VorkException&) {
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

bool BundlePackage::ignoreSetting() const {
    return settingOrFalse([this] { return m_pStatusLog->ignore(); });
}

bool BundlePackage::forceSetting() const {
    return settingOrFalse([this] { return m_pStatusLog->force(); });
}

bool BundlePackage::preInstallEnvSetting() const {
    return settingOrFalse([this] { return m_pStatusLog->preInstallEnv(); });
}

void BundlePackage::recordDigest(BAXMLPackageNode& entry) const {
    if (!m_bHasDigest) return;
    const std::string digest = PackageFile::normalDigest(m_sDigest);
    entry.setSha256(digest.empty() ? m_sDigest : digest);
}

std::unique_ptr<BAXMLPackageNode> BundlePackage::startEntry(const std::string& commandLine, bool asRecorded) {
    std::unique_ptr<BAXMLPackageNode> entry;
    if (m_pLogNode != nullptr) {
        // The package's one entry carries every run of it.
        entry = std::make_unique<BAXMLPackageNode>(m_pStatusLog, m_pLogNode);
        if (asRecorded) entry->setCommand(commandLine);
        else entry->restart(commandLine);
    } else {
        entry = m_pStatusLog->createPackage(m_sReleaseID, m_sPackageAbsFileName, commandLine, m_sPackageType,
                                            m_sInstallParams, m_nUpdateOnly);
        m_pLogNode = entry->getPackageNode();
    }
    recordDigest(*entry);
    // Durable before the program starts, and with it whatever the packages
    // before this one recorded.
    m_pStatusLog->save();
    return entry;
}

void BundlePackage::recordRun(BAXMLPackageNode& entry, const std::string& outputLog, const std::string& message,
                              int osErrorCode) {
    std::string text = message;
    if (m_nTimedOutAfter > 0) {
        text = "Timed out after " + std::to_string(m_nTimedOutAfter) + " seconds." +
               (message.empty() ? "" : "\n" + message);
    }
    // A run after a reboot records its own exit code too: left at the code
    // of the run that asked for the reboot, it would make every later resume
    // run the package again.
    // The record becomes durable with the start of the next package, or with
    // the save that ends the run.
    try {
        entry.setComplete(m_nStatus, outputLog, text, osErrorCode);
    } catch (const VorkException& e) {
        // The run is over and its exit code recorded, whatever became of its
        // output log. A program ended for its time limit may never have
        // written one: it failed for that reason alone.
        m_pStatusLog->saveWithNext();
        removeOutputLog();
        if (m_nTimedOutAfter == 0 || e.getCode() != StatusCode::UnknownException) throw;
        return;
    }
    m_pStatusLog->saveWithNext();
    removeOutputLog();
}

void BundlePackage::markCompleteAfterReboot() {
    m_nState = STATE_COMPLETE;
    m_nStatus = STATUS_SUCCESS;
    if (m_pLogNode != nullptr) {
        BAXMLPackageNode entry(m_pStatusLog, m_pLogNode);
        entry.setStatus(STATUS_SUCCESS);
    }
    m_pStatusLog->saveWithNext();
}

bool BundlePackage::settleRecordedState(const char* className, bool rebootCompletes, int& result) {
    if (m_nState == STATE_IN_PROGRESS) {
        VORK_LOG(2, className << "::execute: package already started, restarting");
        m_nState = STATE_NOT_RUN;
        m_nStatus = STATUS_SUCCESS;
        return false;
    }
    if (m_nState != STATE_COMPLETE) return false;
    switch (m_nStatus) {
        case STATUS_FAILED:
            VORK_LOG(4, className << "::execute: package failed previously; report failed");
            result = StatusCode::PackageFailed;
            return false;
        case STATUS_REBOOT_REQUIRED:
            m_bRestartAfterReboot = true;
            VORK_LOG(4, className << "::execute: package already executed, with hard dependency error, restarting");
            if (rebootCompletes) {
                markCompleteAfterReboot();
            } else {
                m_nState = STATE_NOT_RUN;
            }
            return true;
        case STATUS_RESUME_REQUIRED:
            VORK_LOG(4, className << "::execute: package already executed, with hard dependency error, restarting");
            m_nState = STATE_NOT_RUN;
            return false;
        default: return false;
    }
}

bool BundlePackage::readyForOwnRun(const char* className, bool& notRun) {
    if (m_nState == STATE_COMPLETE || m_nState == STATE_MISSING) {
        VORK_LOG(4, className << "::execute: package already executed, skipping");
        notRun = true;
        return false;
    }
    if (m_nState != STATE_NOT_RUN) {
        VORK_LOG(1, className << "::execute: invalid code path encountered");
        return false;
    }
    return true;
}

void BundlePackage::recordMissing(BAXMLPackageNode* entry, const std::string& what, int logLevel) {
    m_nState = STATE_MISSING;
    m_nStatus = STATUS_SUCCESS;
    if (entry != nullptr) {
        entry->setMissing();
        m_pStatusLog->saveWithNext();
    }
    if (!ignoreSetting()) {
        VORK_LOG(logLevel, what << ", generating exception");
        throw VorkException(what, StatusCode::MissingPackage);
    }
}
