#pragma once
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace VorkSupport {

// The file calls of the routines that keep the system's state
// (VorkAtomicFile, the status log's journal and its file work) all pass
// through here, so that tests can do two things with them:
//
//  - Fault injection: the N-th open that creates a file, write, fsync
//    (fdatasync counts as one), rename or element allocation of the status
//    log (counted from the moment the seam is armed) fails, is cut short, or
//    kills the process on the spot.
//  - A model of what is durable (VorkFaultSeamModel): every call that creates,
//    writes, flushes, renames or removes a file tells the model, which can then
//    build the state a power cut would leave.
//
// Tests arm the faults in-process with arm(). Builds made with
// VSUPT_FAULT_SEAM (test builds) also arm them from the environment variable
// VSUPT_FAULT when the library loads, so whole programs can be driven into
// faults:
//     VSUPT_FAULT=<call>:<n>[:<action>]
//     call   open | write | fsync | rename | alloc
//     action fail (default; the call fails with EIO, ENOSPC, EIO or EXDEV;
//            an allocation answers null)
//            short (a write stores half its bytes; the next write fails)
//            kill (the process ends with SIGKILL before the call)
// Other builds ignore the variable. Disarmed and unmodelled, the seam costs
// two atomic loads a call.
class VorkFaultSeam {
public:
    enum class Call { Write, Fsync, Rename, Open, Allocate };
    enum class Action { Fail, Short, Kill };

    static void arm(Call call, long n, Action action);
    static void disarm();
    // Whether an armed fault has been set off since arm().
    static bool fired();
    // Test seam: called when a planned fault goes off, before the call it
    // aims at, and when the write after a short one fails: the files are
    // then as a kill at that moment would leave them. It is told what the
    // call acts on (the file of its descriptor, or the name it takes). Null
    // for none.
    using FireHook = void (*)(const std::string& target);
    static void setFireHook(FireHook hook);

    // The routines' own calls, with the fault applied where it is due. Names
    // are taken relative to the directory descriptor (AT_FDCWD for none);
    // openAt always adds O_CLOEXEC.
    static ssize_t write(int fd, const void* data, std::size_t size);
    static int fsync(int fd);
    static int fdatasync(int fd);
    static int openAt(int directory, const std::string& name, int flags, mode_t mode);
    // renameat2 with its flags (0 or RENAME_NOREPLACE).
    static int renameAt(int fromDirectory, const std::string& from, int toDirectory, const std::string& to,
                        unsigned flags);
    static int rename(const std::string& from, const std::string& to);
    static int unlinkAt(int directory, const std::string& name);
    static int unlink(const std::string& name);
    // Whether the allocation about to be made fails, as an allocator out of
    // memory would; the caller then takes a null result.
    static bool allocationFails();
};

} // namespace VorkSupport
