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
};
