#pragma once
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace VorkSupport {

// What the file calls of the fault seam (VorkFaultSeam) have made durable in
// a set of directories, and the states a power cut would leave there.
// Tests only: nothing is recorded until start(), and the seam asks
// modelling() first, so other processes pay one atomic load a call.
//
// The model keeps, per file, its content at the last fsync or fdatasync of
// it, and, per directory, its names (which file each stands for) at the last
// fsync of the directory. Files that were there at start() count as durable.
// Files that appear without passing through the seam (a package's own log,
// the lock file) are not part of any state it builds.
//
// A state is built from one of two sets of names and one of four ways to
// treat data that was written and not flushed:
//   names  Current  every create, rename and removal kept
//          Synced   as of each directory's last flush: renames and removals
//                   since undone, files created since gone
//   data   Current  everything written kept (what a kill leaves)
//          Synced   unflushed data dropped
//          Torn     the unflushed part cut at a 512-byte sector: the last
//                   sector written is lost
//          Zeroed   the unflushed part reads as zero bytes
class VorkFaultSeamModel {
public:
    enum class Names { Current, Synced };
    enum class Data { Current, Synced, Torn, Zeroed };

    // The files of the modelled directories: directory, then name, then the
    // bytes the file holds.
    using State = std::map<std::string, std::map<std::string, std::string>>;

    // Starts recording for these directories (absolute, existing); their
    // present files count as durable.
    static void start(const std::vector<std::string>& directories);
    static void stop();
    static bool modelling();
    // The state a power cut at this moment would leave.
    static State cut(Names names, Data data);

    // Called before every modelled call (what names the call, fd the file it
    // acts on or -1), outside the model's lock, while recording: a test takes
    // its cut states there. Null for none.
    using StepHook = void (*)(const char* what, int fd);
    static void setStepHook(StepHook hook);

    // From the seam.
    struct Replaced {
        bool present = false;
        std::string content;
    };
    static void step(const char* what, int fd);
    static void created(int fd, int directory, const std::string& name, int flags);
    static void synced(int fd);
    // What a rename or removal is about to make disappear, kept for the
    // states in which that is undone.
    static Replaced beforeReplace(int directory, const std::string& name);
    static void renamed(int fromDirectory, const std::string& from, int toDirectory, const std::string& to,
                        const Replaced& replaced);
    static void removed(int directory, const std::string& name, const Replaced& content);
};

} // namespace VorkSupport
