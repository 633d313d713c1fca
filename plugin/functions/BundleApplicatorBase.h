#pragma once
#include <string>

#include "FileHandle.h"
#include "StatusCode.h"
#include "VorkException.h"
#include "VorkLogging.h"
#include "VorkProperties.h"
#include "VorkService.h"

class BAXMLDoc;

// The common ground of the update functions: it turns the property list of a
// call into the settings of the status log, names the system's files, holds
// the exclusive-update lock and is the identity of the resume service.
class BundleApplicatorBase : public VorkSupport::VorkService {
public:
    BundleApplicatorBase();
    ~BundleApplicatorBase() override;

    // The service hooks: nothing to do for a plain applicator.
    bool startIt() override;
    bool pauseIt() override;

    // Debug log, update id and log target.
    void processBaseParameters(const VorkSupport::VorkProperties<std::string>& properties, BAXMLDoc& statusLog);
    // processBaseParameters, then the bundle location (directory or zipped
    // package), relocation file, installation parameters and user information;
    // raises 3081 when the bundle definition file does not exist.
    void processBundleParameters(const VorkSupport::VorkProperties<std::string>& properties, BAXMLDoc& statusLog);

    // Copies the "verify" policy into the status log's settings (after the
    // options, which come first), and "allowolder" when it is exactly
    // "true"; an unknown policy raises VorkException 3092.
    void processVerifyPolicy(const VorkSupport::VorkProperties<std::string>& properties, BAXMLDoc& statusLog);
    // "callerreboot" exactly "true": the caller restarts the machine. The
    // update then prepares its restarts as with "reboot" (which it sets too)
    // and records callerReboot, so that every resume leaves the restart to
    // the caller as well. Otherwise nothing is written.
    void processCallerReboot(const VorkSupport::VorkProperties<std::string>& properties, BAXMLDoc& statusLog);

    // The longest update id.
    static constexpr std::size_t kMaxUpdateIdBytes = 128;
    // Copies "updateid" into the status log; false when absent. An id longer
    // than kMaxUpdateIdBytes, one holding a separator or a control
    // character, and "." and ".." raise VorkException (code 0, reported as
    // 3079).
    bool getUpdateId(const VorkSupport::VorkProperties<std::string>& properties, BAXMLDoc& statusLog);
    // The absolute name of "logtarget"; false and an empty text when absent.
    bool getLogTarget(const VorkSupport::VorkProperties<std::string>& properties, std::string& logTarget);
    // The same, written to the status log when present.
    bool getLogTarget(const VorkSupport::VorkProperties<std::string>& properties, BAXMLDoc& statusLog);

    // Builds the final-log name of updateId into logName (always) and tells
    // whether that file exists.
    bool updateLogExists(const std::string& updateId, std::string& logName);
    // Whether the internal log exists.
    bool defaultUpdateLogExists();

    // Takes the exclusive-update lock: an flock on the lock file and one on
    // the folder that holds it, so deleting the file lets no second holder
    // in. False when another holder has either, or the lock file cannot be
    // made (lockFailureStatus tells which). Run as root, the folder must be
    // root's and open to nobody else (mode 0700 or stricter), else no lock
    // is taken and the reason goes to the debug log and standard error.
    [[nodiscard]] bool startExclusiveUpdate();
    // Why the last startExclusiveUpdate failed: 3077 when a live holder has
    // the lock, 3079 when the lock file could not be created or locked.
    int lockFailureStatus() const { return m_nLockFailureStatus; }
    // Releases the lock and deletes the lock file; nothing when not held.
    void endExclusiveUpdate();
    // Whether this object holds the lock.
    bool holdsExclusiveUpdate() const { return m_lockFile.isOpen(); }

    // The "<windir>/TEMP" folder that holds the system's files (the state
    // folder).
    static std::string systemTempFolder();
    // The system's file names.
    std::string internalLogName();
    std::string lockFileName();

    // What a loaded internal log records: nothing (no file), nothing readable
    // (no document, or not a status log), an update waiting for its resume
    // (its resume service is installed, whatever the log says, or it asked
    // for a restart: 3082, 3083), a run under way or cut off (stable
    // "false"), or a finished update that was not finished off (stable, its
    // status final).
    enum class InternalLogState { Absent, Unreadable, Run, Waiting, Finished };
    InternalLogState internalLogState(BAXMLDoc& log);
    // Moves an internal log that cannot be read aside, as
    // "BAUpdate.xml.unreadable-<UTC time>" and never over another file, and
    // records that at level 1. False when it stays where it is.
    [[nodiscard]] bool moveInternalLogAside();

    // The resume's flag: true once a resumed run has gone through its
    // packages without asking for another reboot.
    bool updateCompleted() const { return m_bUpdateCompleted; }
    void setUpdateCompleted(bool completed) { m_bUpdateCompleted = completed; }

    BundleApplicatorBase(const BundleApplicatorBase&) = delete;
    BundleApplicatorBase& operator=(const BundleApplicatorBase&) = delete;

    // Set and read by the resume (its dispatch and its worker thread share
    // it through the service object).
    bool m_bUpdateCompleted;

protected:
    // The debug log created by processBaseParameters, owned.
    VorkSupport::VorkLogging* m_pDebugLog;
    // The open lock file while the lock is held.
    VorkSupport::FileHandle m_lockFile;
    int m_nLockFailureStatus = StatusCode::UpdateInProgress;
    // The locked folder of the lock file while the lock is held.
    VorkSupport::FileHandle m_lockFolder;

private:
    // The two ways to a bundle: a directory, or a zipped package extracted
    // into a new private directory (extractedDirectory, set as soon as it
    // exists). Each records its settings and answers the definition file.
    static std::string readBundleDirectory(const VorkSupport::VorkProperties<std::string>& properties,
                                           BAXMLDoc& statusLog, std::string bundleRoot);
    static std::string readBundlePackage(const VorkSupport::VorkProperties<std::string>& properties,
                                         BAXMLDoc& statusLog, std::string& extractedDirectory);
    // Why the folder of a file the caller named (the log target, a bundle
    // package to delete) is not one that only root and the caller control,
    // checked as named, before its links are resolved; "" when it is.
    static std::string unsafeFolderOf(const std::string& name);
    // Deletes an extracted bundle package (key clearpackage; packageFile is
    // the absolute name of givenName) when its folder is safe from other
    // users; otherwise it stays, with a debug record.
    static void clearPackage(const std::string& givenName, const std::string& packageFile);
    void deleteDebugLog();
    // The two halves of the lock: an flock on the lock file (still the file
    // its name gives), and one on the folder that holds it.
    bool lockFile();
    bool lockFolder();
    // Whether the state folder is safe from other users (always, when not
    // running as root).
    static bool stateFolderIsPrivate();
    // A non-blocking exclusive flock; false (errno tells why) when refused.
    static bool lockExclusively(int fd);
};

// Unzips the whole bundle package into directory (created when missing).
// Entries never land outside directory; links, device entries and encrypted
// entries make the extraction fail, as do archives beyond the size bounds.
[[nodiscard]] bool extractBundlePackage(const char* packageFile, const char* directory);
