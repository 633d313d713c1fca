#pragma once
#include <string>

#include "FileHandle.h"

// The mark of a holder that has the exclusive-update lock only for a moment:
// "progress" holds it while it looks at an update whose process may have
// died. It holds this probe (an flock on "<lock file>.probe") from before
// it tries the lock until after it has released it, so that an update,
// resume or clean that finds the lock held can tell a moment's holder, worth
// waiting for, from a running update, which it reports at once.
class LockProbe {
public:
    static std::string fileName(const std::string& lockFileName);

    // Takes the probe, waiting for another moment's holder to let it go. A
    // probe that cannot be made is logged and marks nothing.
    explicit LockProbe(const std::string& lockFileName);
    // Removes the probe, then lets it go.
    ~LockProbe();
    LockProbe(const LockProbe&) = delete;
    LockProbe& operator=(const LockProbe&) = delete;

    // Whether a moment's holder has the probe now.
    static bool held(const std::string& lockFileName);

private:
    std::string m_sFileName;
    VorkSupport::FileHandle m_file;
};
