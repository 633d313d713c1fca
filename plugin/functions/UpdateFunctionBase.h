#pragma once
#include "BundleApplicatorBase.h"

class BAXMLDoc;

// The applicator of the update and of the resume: adds the system restart and
// the name of the QPK package log.
class UpdateFunctionBase : public BundleApplicatorBase {
public:
    UpdateFunctionBase();
    // Releases the lock first: the lock never outlives the applicator.
    ~UpdateFunctionBase() override;

    bool startIt() override;
    bool pauseIt() override;

    // Restarts the machine at once, unless PLIMO_SKIP_REBOOT is set or the
    // process lacks the right to restart it; raises VorkException (code 0)
    // when the restart cannot be asked for.
    void reboot();

    // Sets the status log's QPK log name: QPK.log beside the internal log.
    void setQpkLog(BAXMLDoc& statusLog);

    // A run during which a save of the status log failed is never a success:
    // its result becomes 3079 unless it already reports failed packages
    // (3072, 3084, 3085).
    static int checkedRunResult(const BAXMLDoc& statusLog, int result);
    // Writes the record of the update: the internal log, then the user log
    // when there is a log target. Both are tried; one that cannot be written
    // sets status 3079. True when both were written.
    static bool saveRecords(BAXMLDoc& statusLog);
};
