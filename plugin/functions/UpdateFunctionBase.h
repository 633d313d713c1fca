#pragma once
#include <string>

#include "BundleApplicatorBase.h"
#include "VorkShutdownInhibitor.h"

class BAXMLDoc;

// The applicator of the update and of the resume: adds the system restart,
// the shutdown inhibitor of a run and the name of the QPK package log.
class UpdateFunctionBase : public BundleApplicatorBase {
public:
    UpdateFunctionBase();
    // Releases the lock first: the lock never outlives the applicator.
    ~UpdateFunctionBase() override;

    bool startIt() override;
    bool pauseIt() override;

    // Asks for the restart of the machine, unless PLIMO_SKIP_REBOOT is set or
    // the process lacks the right to restart it (false). The login manager is
    // asked to restart it restartDelaySeconds() from now, so that the caller
    // gets the answer first; only when none can be reached, the system
    // manager, at once. Sets the restart mark before it asks. Raises
    // VorkException (code 0) when the restart is refused or cannot be asked
    // for; true when it is on its way.
    bool reboot();
    // reboot(); when the machine is not going to restart after all, the
    // reboot-required flag is raised (a refusal is raised on afterwards).
    void rebootOrFlag();
    // Whether reboot() would ask for anything: PLIMO_SKIP_REBOOT is not set
    // and the process may restart the machine.
    static bool restartMayBeAsked();
    // The seconds between the request and the restart: PLIMO_RESTART_DELAY
    // when it is a whole number from 0 to 300, else 5.
    static unsigned restartDelaySeconds();
    // Prepares the restart that resumes an update (the resume service must
    // be installed already): counts it in the status log, records this boot's
    // id when the machine really restarts for it (or the caller is told to),
    // and saves the log whole (and the user log when there is a log target).
    // The call then ends with requestRestart, once its answer is complete.
    void prepareRestart(BAXMLDoc& statusLog);
    // The last act of a call that prepared a restart: asks for it
    // (rebootOrFlag), or, when the caller restarts the machine, raises the
    // reboot-required flag that tells it to.
    void requestRestart(BAXMLDoc& statusLog);
    // Raises the reboot-required flag. A flag that cannot be raised is logged
    // where it fails and changes nothing about the update.
    static void flagRebootRequired();

    // A shutdown inhibitor for a run of packages, on behalf of the update
    // updateId (may be empty). Holds nothing with PLIMO_SKIP_INHIBIT set, or
    // when the login manager cannot give one (logged at level 3): no update
    // fails for want of it.
    VorkSupport::VorkShutdownInhibitor inhibitShutdown(const std::string& updateId);

    // Sets the status log's QPK log name: QPK.log beside the internal log.
    void setQpkLog(BAXMLDoc& statusLog);

    // A run during which a save of the status log failed is never a success:
    // its result becomes 3079 unless it already reports failed packages
    // (3072, 3084, 3085).
    static int checkedRunResult(const BAXMLDoc& statusLog, int result);
    // Writes the record of the update: the internal log, then the user log
    // when there is a log target. Both are tried; one that cannot be written
    // sets status 3079. True when both were written.
    [[nodiscard]] static bool saveRecords(BAXMLDoc& statusLog);
};
