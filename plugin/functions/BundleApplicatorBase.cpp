#include "BundleApplicatorBase.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include <libxml/xmlerror.h>

#include "BAStatusLogFiles.h"
#include "BAXMLDoc.h"
#include "Bundle.h"
#include "BundleArchive.h"
#include "FileHandle.h"
#include "FixedLogTexts.h"
#include "PackageFile.h"
#include "StatusCode.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkPlatform.h"
#include "VorkPropertyNotFound.h"
#include "VorkRemoveDirectory.h"
#include "VorkSafeFolder.h"
#include "VorkScopeTrace.h"
#include "VorkStringUtilities.h"
#include "getAbsolutePath.h"
#include "requireProperty.h"

using VorkSupport::FileHandle;
using VorkSupport::VorkException;
using VorkSupport::VorkPlatform;
using VorkSupport::VorkProperties;

namespace {

// The XML library must never print parse errors of the system's files.
void silentGenericError(void*, const char*, ...) {}
void silentStructuredError(void*, xmlErrorPtr) {}

} // namespace

bool extractBundlePackage(const char* packageFile, const char* directory) {
    VORK_TRACE("extractBundlePackage");
    if (packageFile == nullptr || directory == nullptr || *packageFile == '\0' || *directory == '\0') return false;
    return BundleArchive(packageFile).extractTo(directory);
}

BundleApplicatorBase::BundleApplicatorBase()
    : VorkService(true, std::string()), m_bUpdateCompleted(false), m_pDebugLog(nullptr) {
    VORK_TRACE("BundleApplicatorBase::BundleApplicatorBase");
    xmlSetGenericErrorFunc(nullptr, silentGenericError);
    xmlSetStructuredErrorFunc(nullptr, silentStructuredError);
    setServiceName("plimo");
    setSecondName("plimo");
    setDisplayName("Bundle Applicator");
    setCommandLine("plimo zuacmd=resume");
}

BundleApplicatorBase::~BundleApplicatorBase() { deleteDebugLog(); }

void BundleApplicatorBase::deleteDebugLog() {
    if (m_pDebugLog == nullptr) return;
    // No record may reach the log once it is gone.
    if (VorkSupport::VorkLogging::getInstance() == m_pDebugLog) VorkSupport::VorkLogging::setInstance(nullptr);
    delete m_pDebugLog;
    m_pDebugLog = nullptr;
}

bool BundleApplicatorBase::startIt() { return false; }

bool BundleApplicatorBase::pauseIt() { return false; }

std::string BundleApplicatorBase::systemTempFolder() {
    return VorkPlatform::windowsDirectory() + VorkPlatform::separatorText + "TEMP";
}

std::string BundleApplicatorBase::internalLogName() { return systemTempFolder() + "/" + "BAUpdate" + ".xml"; }

std::string BundleApplicatorBase::lockFileName() {
    return systemTempFolder() + VorkPlatform::separatorText + "plimo.tmp";
}

void BundleApplicatorBase::processBaseParameters(const VorkProperties<std::string>& properties, BAXMLDoc& statusLog) {
    VORK_TRACE("BundleApplicatorBase::processBaseParameters");
    int level = 0;
    int target = 0;
    std::string value;
    if (properties.getPropertyValue("dbglevel", value)) {
        level = std::atoi(value.c_str());
        target = 1;
    } else if (const char* env = std::getenv("PLIMO_LOGLEVEL")) {
        level = std::atoi(env);
    }
    if (properties.getPropertyValue("dbgtarget", value)) {
        target = std::atoi(value.c_str());
    } else if (const char* env = std::getenv("PLIMO_LOGTARGET")) {
        target = std::atoi(env);
    }
    if ((target & 15) != 0) {
        // A second call replaces the log this object made before.
        deleteDebugLog();
        m_pDebugLog = new VorkSupport::VorkLogging("./plimo.log", target, level);
        VorkSupport::VorkLogging::setInstance(m_pDebugLog);
    }
    getUpdateId(properties, statusLog);
    getLogTarget(properties, statusLog);
}

bool BundleApplicatorBase::getUpdateId(const VorkProperties<std::string>& properties, BAXMLDoc& statusLog) {
    VORK_TRACE("BundleApplicatorBase::getUpdateId");
    std::string value;
    if (!properties.getPropertyValue("updateid", value)) {
        VORK_LOG(9, "BundleApplicatorBase::getUpdateId: No updateid parameter specified");
        return false;
    }
    // The id names a file beside the internal log and goes into the resume
    // service's command line: it may neither leave that folder, nor break a
    // line, nor be too long to name a file.
    if (VorkSupport::VorkStringUtilities::hasControlCharacter(value) || value.find('/') != std::string::npos ||
        value.find('\\') != std::string::npos || value.size() > kMaxUpdateIdBytes || value == "." || value == "..") {
        VORK_LOG(1, "BundleApplicatorBase::getUpdateId: refusing updateid of "
                        << value.size() << " bytes: an id is at most " << kMaxUpdateIdBytes
                        << " bytes, holds no separator and no control character, and is not . or ..");
        throw VorkException("BundleApplicatorBase::getUpdateId: invalid updateid: it is at most " +
                            std::to_string(kMaxUpdateIdBytes) +
                            " bytes, holds no separator and no control character, and is not . or ..");
    }
    statusLog.updateId(value);
    VORK_LOG(9, "BundleApplicatorBase::getUpdateId: updateid=|" << value << "|");
    return true;
}

bool BundleApplicatorBase::getLogTarget(const VorkProperties<std::string>& properties, std::string& logTarget) {
    VORK_TRACE("BundleApplicatorBase::getLogTarget");
    logTarget.clear();
    std::string value;
    if (!properties.getPropertyValue("logtarget", value)) {
        VORK_LOG(9, "BundleApplicatorBase::getLogTarget (string): No logtarget parameter specified");
        return false;
    }
    getAbsolutePath(value, logTarget, false);
    VORK_LOG(9, "BundleApplicatorBase::getLogTarget (string): logtarget=|" << logTarget << "|");
    // Refused before any work: a link planted in the target's place, or a
    // file someone else owns there, would redirect the user log.
    struct stat status {};
    if (::lstat(logTarget.c_str(), &status) == 0 && (S_ISLNK(status.st_mode) || status.st_uid != ::geteuid())) {
        const std::string what = S_ISLNK(status.st_mode) ? "is a symbolic link" : "belongs to another user";
        VORK_LOG(1, "BundleApplicatorBase::getLogTarget: the log target |" << logTarget << "| " << what);
        throw VorkException("BundleApplicatorBase::getLogTarget: the log target " + logTarget + " " + what,
                            StatusCode::UnknownException);
    }
    // Nor may anyone else be able to put a link to elsewhere on its way.
    const std::string unsafe = unsafeFolderOf(value);
    if (!unsafe.empty()) {
        VORK_LOG(1, "BundleApplicatorBase::getLogTarget: the folder of the log target |"
                        << logTarget << "| is not safe: " << unsafe);
        throw VorkException("BundleApplicatorBase::getLogTarget: the folder of the log target " + logTarget +
                                " is not safe: " + unsafe,
                            StatusCode::UnknownException);
    }
    return true;
}

bool BundleApplicatorBase::getLogTarget(const VorkProperties<std::string>& properties, BAXMLDoc& statusLog) {
    VORK_TRACE("BundleApplicatorBase::getLogTarget");
    std::string name;
    if (!getLogTarget(properties, name)) return false;
    statusLog.logTarget(name);
    return true;
}

void BundleApplicatorBase::processBundleParameters(const VorkProperties<std::string>& properties, BAXMLDoc& statusLog) {
    VORK_TRACE("BundleApplicatorBase::processBundleParameters");
    processBaseParameters(properties, statusLog);

    const std::string bundleRoot = properties.getProperty("bundlepath", "");
    // A directory this call extracted into; it goes again when the call fails,
    // since nothing would ever record or remove it.
    std::string extractedDirectory;
    try {
        const std::string definitionPath = bundleRoot.empty()
                                               ? readBundlePackage(properties, statusLog, extractedDirectory)
                                               : readBundleDirectory(properties, statusLog, bundleRoot);
        const std::string userInfo = requireProperty(properties, "zuausrinfo");
        VORK_LOG(9, FixedLogText::Bundle::kBundleParameter << "userinfo=" << userInfo);
        statusLog.UserInfo(userInfo);

        if (!VorkPlatform::fileExists(definitionPath))
            throw VorkException("BundleApplicatorBase::processBaseParameters: no bundle.xml exception\n",
                                StatusCode::DefinitionMissing);
    } catch (...) {
        if (!extractedDirectory.empty()) {
            try {
                VorkSupport::VorkRemoveDirectory(extractedDirectory, true);
            } catch (const VorkException&) {
                VORK_LOG(1, FixedLogText::Bundle::kBundleParameter << "could not remove " << extractedDirectory);
            }
        }
        throw;
    }
}

std::string BundleApplicatorBase::readBundleDirectory(const VorkProperties<std::string>& properties,
                                                      BAXMLDoc& statusLog, std::string bundleRoot) {
    VORK_LOG(9, FixedLogText::Bundle::kBundleParameter << "bundlepath=" << bundleRoot);
    getAbsolutePath(bundleRoot, bundleRoot, true);
    statusLog.bundlePath(bundleRoot);
    VORK_LOG(9, FixedLogText::Bundle::kBundleParameter << "derived bundlepath=" << bundleRoot);

    const std::string bundleName = requireProperty(properties, "bundle");
    VORK_LOG(9, FixedLogText::Bundle::kBundleParameter << "bundle=" << bundleName);
    statusLog.bundleName(bundleName);
    std::string definitionPath;
    getAbsolutePath(bundleRoot + bundleName, definitionPath, false);
    VORK_LOG(9, FixedLogText::Bundle::kBundleParameter << "derived bundle=" << definitionPath);

    std::string relocation;
    std::string relocationPath = bundleRoot + "relocation.xml";
    if (properties.getPropertyValue("relocation", relocation)) {
        VORK_LOG(9, FixedLogText::Bundle::kBundleParameter << "relocation=" << relocation);
        relocationPath = VorkPlatform::fileExists(relocation) ? relocation : bundleRoot + relocation;
    }
    if (!VorkPlatform::fileExists(relocationPath)) {
        relocationPath.clear();
    } else {
        getAbsolutePath(relocationPath, relocationPath, false);
        statusLog.relocationFile(relocationPath);
    }
    VORK_LOG(9, FixedLogText::Bundle::kBundleParameter << "derived relocation=" << relocationPath);
    return definitionPath;
}

std::string BundleApplicatorBase::readBundlePackage(const VorkProperties<std::string>& properties, BAXMLDoc& statusLog,
                                                    std::string& extractedDirectory) {
    VORK_LOG(9, FixedLogText::Bundle::kNoBundlePath);
    const std::string givenName = requireProperty(properties, "bundlepackage");
    std::string packageFile = givenName;
    VORK_LOG(9, FixedLogText::Bundle::kBundleParameter << "bundlepackage=" << packageFile);
    getAbsolutePath(packageFile, packageFile, false);
    statusLog.bundlePackage(packageFile);

    const std::string installParams = properties.getProperty("installparams", "");
    if (!installParams.empty()) {
        VORK_LOG(9, FixedLogText::Bundle::kBundleParameter << "installparams=" << installParams);
        statusLog.installParams(installParams);
    }

    // A new private directory: a predictable name could be planted first by
    // another local user.
    std::string pattern = VorkPlatform::tempDirectory() + VorkPlatform::separatorText + "plimoXXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw VorkException("BundleApplicatorBase::processBaseParameters: extraction failed: " + packageFile);
    extractedDirectory = pattern;
    std::string bundleRoot;
    getAbsolutePath(extractedDirectory, bundleRoot, false);
    statusLog.bundlePath(bundleRoot);
    VORK_LOG(9, FixedLogText::Bundle::kBundleParameter << "derived bundlepath=" << bundleRoot);

    const bool extracted = extractBundlePackage(packageFile.c_str(), bundleRoot.c_str());
    if (extracted && properties.getProperty("clearpackage", "") == "true") clearPackage(givenName, packageFile);
    if (!extracted)
        throw VorkException("BundleApplicatorBase::processBaseParameters: extraction failed: " + packageFile);

    const std::string definitionPath = bundleRoot + "/bundle.xml";
    std::string relocationPath = bundleRoot + "/relocation.xml";
    if (!VorkPlatform::fileExists(relocationPath)) relocationPath.clear();
    VORK_LOG(9, FixedLogText::Bundle::kBundleParameter << "derived bundle=" << definitionPath);
    VORK_LOG(9, FixedLogText::Bundle::kBundleParameter << "derived relocation=" << relocationPath);
    return definitionPath;
}

std::string BundleApplicatorBase::unsafeFolderOf(const std::string& name) {
    // As the caller gave it: the absolute name has its links resolved.
    std::string path = name;
    if (!VorkPlatform::isAbsolutePath(path)) {
        char here[PATH_MAX];
        if (::getcwd(here, sizeof here) == nullptr) return "the current directory cannot be named";
        path = std::string(here) + VorkPlatform::separatorText + name;
    }
    const std::string::size_type separator = path.find_last_of("\\/");
    return VorkSupport::VorkSafeFolder::problem(separator == 0 ? std::string("/") : path.substr(0, separator), true);
}

void BundleApplicatorBase::clearPackage(const std::string& givenName, const std::string& packageFile) {
    // Deleted only where nobody else can have swapped a folder of the way
    // for a link to one of root's files of the same name.
    const std::string unsafe = unsafeFolderOf(givenName);
    if (!unsafe.empty()) {
        VORK_LOG(2, "BundleApplicatorBase::clearPackage: the package |" << packageFile << "| stays: " << unsafe);
        return;
    }
    if (::unlink(packageFile.c_str()) != 0)
        VORK_LOG(2, "BundleApplicatorBase::clearPackage: the package |" << packageFile
                                                                        << "| stays: " << std::strerror(errno));
}

void BundleApplicatorBase::processVerifyPolicy(const VorkProperties<std::string>& properties, BAXMLDoc& statusLog) {
    VORK_TRACE("BundleApplicatorBase::processVerifyPolicy");
    std::string policy;
    if (properties.getPropertyValue("verify", policy)) Bundle::setVerifyPolicy(statusLog, policy);
    if (properties.getProperty("allowolder", "") == "true") Bundle::setAllowOlder(statusLog);
}

void BundleApplicatorBase::processCallerReboot(const VorkProperties<std::string>& properties, BAXMLDoc& statusLog) {
    VORK_TRACE("BundleApplicatorBase::processCallerReboot");
    if (properties.getProperty("callerreboot", "") != "true") return;
    VORK_LOG(3, "BundleApplicatorBase::processCallerReboot: the caller restarts the machine");
    statusLog.reboot(true);
    statusLog.callerReboot(true);
}

bool BundleApplicatorBase::updateLogExists(const std::string& updateId, std::string& logName) {
    VORK_TRACE("BundleApplicatorBase::updateLogExists");
    logName = systemTempFolder() + "/" + updateId + ".xml";
    VORK_LOG(3, "BundleApplicatorBase::updateLogExists: checking for log file: " << logName);
    return VorkPlatform::fileExists(logName);
}

bool BundleApplicatorBase::defaultUpdateLogExists() {
    VORK_TRACE("BundleApplicatorBase::defaultUpdateLogExists");
    std::string logName;
    return updateLogExists("BAUpdate", logName);
}

bool BundleApplicatorBase::startExclusiveUpdate() {
    VORK_TRACE("BundleApplicatorBase::startExclusiveUpdate");
    m_nLockFailureStatus = StatusCode::UpdateInProgress;
    if (!m_lockFile.isOpen() && !stateFolderIsPrivate()) {
        m_nLockFailureStatus = StatusCode::UnknownException;
        return false;
    }
    // A lock cannot be taken twice, not even by its holder.
    if (!m_lockFile.isOpen() && lockFile()) {
        if (lockFolder()) return true;
        endExclusiveUpdate();
    }
    if (m_nLockFailureStatus == StatusCode::UpdateInProgress)
        VORK_LOG(1, "UpdateFunctionBase::startExclusiveUpdate: update already in progress");
    return false;
}

bool BundleApplicatorBase::stateFolderIsPrivate() {
    if (::geteuid() != 0) return true;
    // Root's update must not be one that anybody else can block (a lock on a
    // folder they may open) or feed (a file planted in it).
    const std::string folder = systemTempFolder();
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) return true; // the lock file reports it
    std::string reason;
    if (status.st_uid != 0 || (status.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        reason = "the state folder |" + folder +
                 "| must be owned by root and open to nobody else (mode 0700 or "
                 "stricter), but it is owned by uid " +
                 std::to_string(status.st_uid) + " with mode " + mode;
    } else {
        // Nor may anyone else be able to put another folder in its place.
        const std::string place = PackageFile::unsafePlace(folder);
        if (place.empty()) return true;
        reason = "the state folder |" + folder + "| is not safe from other users: " + place;
    }
    VORK_LOG(1, "BundleApplicatorBase::stateFolderIsPrivate: " << reason);
    // The administrator who started the call is told at once.
    std::fprintf(stderr, "plimo: %s\n", reason.c_str());
    return false;
}

bool BundleApplicatorBase::lockFile() {
    const std::string name = lockFileName();
    // O_NONBLOCK: a pipe in the lock file's place must not hang the call.
    FileHandle file(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat opened {};
    if (file.isOpen() && (::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode))) {
        file.reset();
        errno = EINVAL;
    }
    if (!file.isOpen()) {
        // Nobody holds a lock that cannot even be created: the state folder
        // is unusable (read-only, full, missing or not ours).
        m_nLockFailureStatus = StatusCode::UnknownException;
        VORK_LOG(1, "BundleApplicatorBase::lockFile: cannot create the lock file |" << name
                                                                                    << "|: " << std::strerror(errno));
        return false;
    }
    if (!lockExclusively(file.get())) {
        if (errno == EWOULDBLOCK) return false;
        m_nLockFailureStatus = StatusCode::UnknownException;
        VORK_LOG(1, "BundleApplicatorBase::lockFile: cannot lock |" << name << "|: " << std::strerror(errno));
        return false;
    }
    // The holder before us may have removed the file between our open and
    // our lock: then the lock we hold guards nothing.
    struct stat held {};
    struct stat named {};
    if (::fstat(file.get(), &held) != 0 || ::stat(name.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino)
        return false;
    m_lockFile = std::move(file);
    return true;
}

bool BundleApplicatorBase::lockFolder() {
    FileHandle folder(systemTempFolder(), O_RDONLY | O_DIRECTORY);
    if (!folder.isOpen() || !lockExclusively(folder.get())) return false;
    m_lockFolder = std::move(folder);
    return true;
}

bool BundleApplicatorBase::lockExclusively(int fd) {
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

void BundleApplicatorBase::endExclusiveUpdate() {
    VORK_TRACE("BundleApplicatorBase::endExclusiveUpdate");
    if (!m_lockFile.isOpen()) return;
    // Whoever reads the internal log while no update holds the lock finds
    // the whole log in the one file.
    if (m_lockFolder.isOpen()) {
        try {
            BAXMLDoc::foldJournal(internalLogName());
        } catch (const VorkException& e) {
            VORK_LOG(1, "BundleApplicatorBase::endExclusiveUpdate: the internal log keeps its journal: "
                            << e.getMessageNarrow());
        }
    }
    // Unlink while still holding the lock, so no one locks a file about to go.
    ::unlink(lockFileName().c_str());
    m_lockFile.reset();
    m_lockFolder.reset();
}

BundleApplicatorBase::InternalLogState BundleApplicatorBase::internalLogState(BAXMLDoc& log) {
    xmlDocPtr document = log.getDocument();
    if (document == nullptr)
        return VorkPlatform::fileExists(log.getFileName()) ? InternalLogState::Unreadable : InternalLogState::Absent;
    int status = 0;
    try {
        status = log.SMStatus();
    } catch (const VorkException&) {
        return InternalLogState::Unreadable;
    }
    // While its resume service is installed the update waits for the resume,
    // whatever its log says: the service runs it after the next restart
    // (also a resumed run that a power cut ended).
    if (VorkPlatform::fileExists(unitFileName())) return InternalLogState::Waiting;
    if (!log.stable()) return InternalLogState::Run;
    // 3082 and 3083 wait for the restart that was asked for.
    if (status == StatusCode::Rebooting || status == StatusCode::RebootingToResume) return InternalLogState::Waiting;
    return InternalLogState::Finished;
}

bool BundleApplicatorBase::moveInternalLogAside() {
    VORK_TRACE("BundleApplicatorBase::moveInternalLogAside");
    const std::string name = internalLogName();
    const std::string target = BAStatusLogFiles::moveAside(name, "unreadable");
    if (!target.empty()) {
        VORK_LOG(1, "BundleApplicatorBase::moveInternalLogAside: the internal log cannot be read; kept as |" << target
                                                                                                             << "|");
        return true;
    }
    VORK_LOG(1, "BundleApplicatorBase::moveInternalLogAside: the internal log cannot be read nor moved aside: |"
                    << name << "|, errno " << errno);
    return false;
}
