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

    // Restarts the machine at once, unless PLIMO_SKIP_REBOOT is set or the
    // process lacks the right to restart it (false). The login manager is
    // asked; only when none can be reached, the system manager. Raises
    // VorkException (code 0) when the restart is refused or cannot be asked
    // for; true when it is on its way.
    bool reboot();
    // reboot(); when the machine is not going to restart after all, the
    // reboot-required flag is raised (a refusal is raised on afterwards).
    void rebootOrFlag();
    // The restart that resumes an update: counts it in the status log, saves
    // the log (and the user log when there is a log target), then
    // rebootOrFlag(); when the caller restarts the machine (callerReboot),
    // only the flag is raised. The resume service must be installed already.
    void restartForResume(BAXMLDoc& statusLog);
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
