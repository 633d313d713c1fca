#pragma once
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace VorkSupport {

// Fault injection for the file routines that keep the system's state
// (VorkAtomicFile): the N-th write, fsync (fdatasync counts as one) or rename
// (counted from the moment the seam is armed) fails, is cut short, or kills
// the process on the spot.
//
// Tests arm it in-process with arm(). Builds made with VSUPT_FAULT_SEAM (test
// builds) also arm it from the environment variable VSUPT_FAULT when the
// library loads, so whole programs can be driven into faults:
//     VSUPT_FAULT=<call>:<n>[:<action>]
//     call   write | fsync | rename
//     action fail (default; the call fails with ENOSPC, EIO or EXDEV)
//            short (a write stores half its bytes; the next write fails)
//            kill (the process ends with SIGKILL before the call)
// Other builds ignore the variable. Disarmed, the seam costs two atomic
// operations a call.
class VorkFaultSeam {
public:
    enum class Call { Write, Fsync, Rename };
    enum class Action { Fail, Short, Kill };

    static void arm(Call call, long n, Action action);
    static void disarm();
    // Whether an armed fault has been set off since arm().
    static bool fired();
    // Test seam: called when a planned fault goes off, before the call it
    // aims at, and when the write after a short one fails: the files are
    // then as a kill at that moment would leave them. Null for none.
    using FireHook = void (*)();
    static void setFireHook(FireHook hook);

    // The routines' own calls, with the fault applied where it is due.
    static ssize_t write(int fd, const void* data, std::size_t size);
    static int fsync(int fd);
    static int fdatasync(int fd);
    static int rename(const std::string& from, const std::string& to);
};

} // namespace VorkSupport
