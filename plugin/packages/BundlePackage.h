#pragma once
#include <memory>
#include <string>

#include <libxml/tree.h>

#include "VorkExecuteProgram.h"

class BAXMLDoc;
class BAXMLPackageNode;
class VerifiedCopy;

// Abstract base of the package kinds. It identifies one package of a bundle,
// holds the package's execution state and status as the status log records
// them, and decides through the execution state machine in execute() whether
// the package runs, runs again, is skipped, or reports an earlier failure.
// Objects rebuilt from the status log after a reboot take the same decisions
// as the object that first ran.
class BundlePackage {
public:
    // Execution states (m_nState).
    enum State { STATE_NOT_RUN = 0, STATE_COMPLETE = 1, STATE_IN_PROGRESS = 2, STATE_MISSING = 3, STATE_SKIPPED = 4 };
    // The statuses a run maps to (m_nStatus, which may also hold a program's
    // exit code that maps to none of them).
    enum Status {
        STATUS_SUCCESS = 0,
        STATUS_FAILED = 1,
        STATUS_REBOOT_REQUIRED = 2,
        STATUS_SKIPPED = 3,
        STATUS_RESUME_REQUIRED = 4,
        STATUS_NOT_APPLICABLE = 5
    };
    // The OS error code that means "no code".
    static constexpr int NO_OS_ERROR_CODE = -31415;

    // Fresh package from the bundle definition. The status log is borrowed and
    // must outlive the package.
    BundlePackage(BAXMLDoc* statusLog, const std::string& releaseID, const std::string& packageAbsFileName,
                  const std::string& packageType, const std::string& installParams, int updateOnly);
    // Package rebuilt from its Package element of the status log. Raises
    // VorkException when the element lacks path, state, or code on a
    // complete entry.
    BundlePackage(BAXMLDoc* statusLog, xmlNodePtr logNode);
    BundlePackage(const BundlePackage& other);
    BundlePackage& operator=(const BundlePackage&) = delete;
    virtual ~BundlePackage();

    // 0, or 3075 (after recording the package as missing) when the package
    // file does not exist.
    virtual int validate();
    // The state machine; answers a status code (0, 3072, 3073, 3074, 3086,
    // 3087, 3088). notRun is set when the package is not run because its
    // recorded state says it is done, missing or skipped.
    virtual int execute(bool& notRun);
    virtual State getState() const;
    virtual int getStatus() const;
    virtual const std::string& getReleaseID() const;
    virtual const std::string& getPackageAbsFileName() const;
    // The package's own time limit in seconds; 0 leaves it to the status
    // log's packageTimeout (0 there too: no limit).
    void setTimeout(int seconds) { m_nTimeout = seconds; }
    int getTimeout() const { return m_nTimeout; }

    // The package's SHA-256 digest as the bundle definition gives it (the
    // text of its sha256 attribute, checked when used), or as the status
    // log's entry recorded it. A package with a digest runs only from a
    // private copy that was checked against it, made just before each
    // program start; its log entries record the digest.
    void setExpectedDigest(const std::string& digestText);
    bool hasExpectedDigest() const { return m_bHasDigest; }
    const std::string& expectedDigest() const { return m_sDigest; }
    // The check that opens a bundle run: "" when the package file matches
    // its digest, or carries none and digestRequired is false, or is missing
    // (which validate() reports). Otherwise the package is recorded in a
    // missing-package entry whose log says what is wrong, and that text is
    // answered.
    std::string validateIntegrity(bool digestRequired);
    // A package rebuilt from an entry of the status log that no package of
    // the bundle definition matches: under a verify policy it is refused.
    void markUnmatched() { m_bUnmatched = true; }

    // Case-insensitive text equality: both texts up to their first NUL,
    // lower-cased under the default locale, compared byte for byte.
    static bool equalsNoCase(const std::string& left, const std::string& right);
    // The update-only setting of a text: -1 for "", 1 for "true" in any case,
    // 0 otherwise.
    static int readUpdateOnly(const std::string& text);

protected:
    // The hooks of the base's execute, which runs no program: a kind that
    // uses it is skipped on a fresh run (shouldBeSkipped) and may count as
    // complete once the reboot it asked for is over (completeAfterReboot).
    virtual bool shouldBeSkipped();
    virtual bool completeAfterReboot();

    // How a program start relates to the package file.
    enum class PackageRole {
        Program,  // the program is the package itself
        Argument, // the program (an installer) opens the package
        Unrelated // the program is not the package (the engine upgrade)
    };

    // Shared pieces of the kinds' execute operations.
    // Starts one program of this package and waits for its end: its standard
    // output and error go to the package console log, it leads a process
    // group of its own. False when it could not be started. Unless role is
    // Unrelated, a package with a digest is first copied into a private
    // directory of the state folder, hashed as it is copied, and the copy is
    // what starts (or what the installer is given); the copy goes when the
    // program has ended. A package whose copy fails the check does not start
    // (false), and refusedAtStart() then records it. A program still running
    // when the package's time limit has passed is ended with its group and
    // gives exit code -1; the next recordRun says so.
    [[nodiscard]] bool runProgram(VorkSupport::VorkProgramCall call, int& exitCode, PackageRole role);
    // The fixed texts of a kind's run end (kept word for word): the record
    // before the package path of a run that returned, the one before the
    // path of a package that did not start, the text of the exception a
    // missing package raises, and the level it is logged at.
    struct RunTexts {
        const char* returned;
        const char* packageMissing;
        const char* missing;
        int missingLevel;
    };
    // How the run of an installer-like kind ended, as finishRun records it.
    struct RunEnd {
        explicit RunEnd(const RunTexts& kindTexts) : texts(kindTexts) {}
        const RunTexts& texts;
        // The kind's program (or programs) started and ended; m_nStatus then
        // holds the kind's status of the run.
        bool started = false;
        // The message and OS error code of the entry's log.
        std::string message;
        int osErrorCode = NO_OS_ERROR_CODE;
        // Logged instead of the package-missing record when set.
        const char* missingNote = nullptr;
        // A package that did not start leaves its entry as it is.
        bool keepEntryWhenMissing = false;
    };
    // The one end of the installer-like kinds' runs, on the entry the run
    // started on. A run that started: the package is complete, the run is
    // recorded with the output log (recordRun), its return is logged, and
    // the answer is true; the kind then maps m_nStatus to its result. One
    // that did not: a refused package is a failed run (result 3072);
    // otherwise the output log goes and the package is missing
    // (recordMissing, which raises 3075 unless the ignore setting is set);
    // the answer is false.
    bool finishRun(BAXMLPackageNode& entry, const RunEnd& end, int& result);
    // After runProgram answered false: true when the package failed its
    // check, which then counts as a failed run (status 1, the reason in the
    // entry's log, result 3072); false when it simply did not start.
    bool refusedAtStart(BAXMLPackageNode& entry, int& result);
    // The copy of runProgram: false when the package is not to start (it is
    // missing, or its copy failed the check and m_sRefusal says why);
    // otherwise call names the copy where it named the package.
    bool prepareStart(PackageRole role, VorkSupport::VorkProgramCall& call, std::unique_ptr<VerifiedCopy>& copy);
    // The folder of the system's files, which holds the package output log.
    std::string stateFolder() const;
    // Deletes the package output log file (qpkLogName); a failure is ignored.
    void removeOutputLog() const;
    // The status log's boolean settings; an absent setting reads as false.
    bool ignoreSetting() const;
    bool forceSetting() const;
    bool preInstallEnvSetting() const;
    // The entry a run of this package starts on: one entry per package. A
    // package rebuilt from its entry (a run cut off, or one that asked to
    // run again after a restart) starts again on it, marked in progress with
    // the new command line, or, asRecorded, with only its command line new (a
    // program that asked for a reboot to finish its work goes on on its
    // entry, which still says so); any other
    // gets a new in-progress entry. The status log is saved durably before
    // the answer, and with it every record written before it: no package
    // starts unless its start is durable.
    std::unique_ptr<BAXMLPackageNode> startEntry(const std::string& commandLine, bool asRecorded);
    // Records the package's digest in its log entry, when it has one.
    void recordDigest(BAXMLPackageNode& entry) const;
    // Records a finished run (m_nStatus as state complete and code, the
    // output log, message, osErrorCode) in its entry, which may be one
    // carried over from before a reboot. Then writes the status log (durable
    // with the next save: the start of the next package or the end of the
    // run) and deletes the package output log file. An output log that
    // cannot be read raises VorkException 3079 after the rest is recorded and
    // written, unless the run was ended for its time limit: that run is
    // recorded as timed out, a failure of its own.
    void recordRun(BAXMLPackageNode& entry, const std::string& outputLog, const std::string& message, int osErrorCode);
    // After the reboot that a package asked for: the package counts as
    // complete with status 0, in memory and in its log entry.
    void markCompleteAfterReboot();
    // The reading of the recorded state that opens every execute: an
    // interrupted run starts over; a complete package that failed sets result
    // to 3072; one that asked for a reboot (status 2) sets
    // m_bRestartAfterReboot and is then either marked complete after the
    // reboot (rebootCompletes) or made ready to run again; one that asked to
    // resume after a reboot (status 4) runs again. className prefixes the log
    // records. Returns true for the status 2 case.
    bool settleRecordedState(const char* className, bool rebootCompletes, int& result);
    // For the kinds with their own run: true when the package is to run now
    // (state not run). A complete or missing package sets notRun; any other
    // state is logged as an invalid code path. className prefixes the log
    // records.
    bool readyForOwnRun(const char* className, bool& notRun);
    // A package that failed to start counts as missing with status 0; entry,
    // when given, is marked missing and the status log written. Unless the
    // ignore setting is set, "<what>, generating exception" is logged at
    // logLevel and VorkException <what> with code 3075 raised.
    void recordMissing(BAXMLPackageNode* entry, const std::string& what, int logLevel);

    BAXMLDoc* m_pStatusLog;
    xmlNodePtr m_pLogNode;
    std::string m_sReleaseID;
    std::string m_sPackageAbsFileName;
    State m_nState;
    int m_nStatus;
    std::string m_sPrependMessage;
    bool m_bRestartAfterReboot;
    std::string m_sPackageType;
    std::string m_sInstallParams;
    int m_nUpdateOnly;
    bool m_bHasDigest = false;
    std::string m_sDigest;
    bool m_bUnmatched = false;
    // Why the last runProgram refused to start the package; "" when it did
    // not refuse.
    std::string m_sRefusal;
    int m_nTimeout = 0;
    // The limit that ended the last program run, 0 when it ended by itself.
    int m_nTimedOutAfter = 0;

private:
    // Records the package as skipped (state, status and log entry).
    void recordSkipped();
    // The time limit of this package's programs in seconds, 0 for none.
    int timeLimit() const;
};
