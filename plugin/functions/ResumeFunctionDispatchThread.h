#pragma once
#include "VorkCollaborator.h"
#include "VorkObjectBase.h"
#include "VorkThread.h"

class ResumeFunctionDispatch;

// The worker thread of the resume service: its work is
// ResumeFunctionDispatch::restart.
class ResumeFunctionDispatchThread : public VorkSupport::VorkThread,
                                     public VorkSupport::VorkCollaborator,
                                     public VorkSupport::VorkObjectBase {
public:
    explicit ResumeFunctionDispatchThread(ResumeFunctionDispatch* dispatch);
    // Waits for the work: the thread never outlives this object.
    ~ResumeFunctionDispatchThread() override;

    int work() override;

private:
    ResumeFunctionDispatch* m_pDispatch;  // not owned
};
