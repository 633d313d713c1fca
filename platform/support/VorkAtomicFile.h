#pragma once
#include <sys/types.h>

#include <string>

namespace VorkSupport {

// The one way the system replaces a file that must never be seen half
// written. It works through a descriptor of the file's directory, so the
// directory cannot be swapped under it: the new content goes to a new file
// beside the target, every byte through checked writes, is flushed to disk
// and its size checked, and only then renamed over the target; the directory
// is flushed last. Every file call passes through the fault seam.
//
// The outcome says honestly where the target stands:
//   Written     the new file is in place and durable;
//   Unchanged   the target is exactly as it was (the new file is removed);
//   NotDurable  the new file is in place, but the directory could not be
//               flushed: after a power cut the old file may be back.
class VorkAtomicFile {
public:
    enum class Outcome { Written, Unchanged, NotDurable };

    // What may stand at the target's name.
    enum class Existing {
        // A symbolic link is followed and the file it names replaced (the
        // link stays); a device or pipe is written in place.
        Follow,
        // Only a regular file that the caller owns is replaced: a symbolic
        // link, any other kind of file, or one owned by someone else is
        // refused (Unchanged; errno ELOOP, EINVAL or EPERM).
        OwnedOnly,
        // Nothing: a file of that name, even one that appears meanwhile, is
        // never replaced (Unchanged; errno EEXIST).
        Never
    };

    // Replaces fileName with content. mode is given to the new file (it is
    // not cut by the umask when exact is true). The temporary files that
    // killed writes of fileName left behind go first when cleanTemporaries
    // is true. Failures are logged at level 1.
    [[nodiscard]] static Outcome replace(const std::string& fileName, const std::string& content, mode_t mode,
                                         bool exact, Existing existing, bool cleanTemporaries);

    // replace() for the system's files: mode 0600, links followed and
    // leftovers removed when privateFile; else (a file a user named) what the
    // umask leaves, never through a link in the last component, replacing
    // only the caller's own file (a device or pipe of the caller's is written
    // in place).
    [[nodiscard]] static Outcome write(const std::string& fileName, const std::string& content, bool privateFile);

    // replace() of a file that must not exist yet; it gets exactly the mode.
    // True only when Written.
    [[nodiscard]] static bool create(const std::string& fileName, const std::string& content, mode_t mode);

    // Renames a file and makes the rename durable. False on any failure.
    [[nodiscard]] static bool rename(const std::string& from, const std::string& to);

    // Removes a file and makes its removal durable. False when it could not
    // be removed (errno tells why) or the removal could not be flushed.
    [[nodiscard]] static bool remove(const std::string& fileName);

    // Appends data to the open file fd (named fileName) through checked
    // writes; with durable, makes it durable with one fdatasync. False on any
    // failure (logged at level 1); how much of data reached the file is then
    // unknown.
    [[nodiscard]] static bool append(int fd, const std::string& data, const std::string& fileName, bool durable);
    // Makes what was appended to fd durable (one fdatasync).
    [[nodiscard]] static bool flush(int fd, const std::string& fileName);

    // Makes the entries of fileName's directory durable: a file created or
    // renamed there survives a power cut. False on any failure.
    [[nodiscard]] static bool syncDirectory(const std::string& fileName);

    // Removes the temporary files that killed writes of fileName left behind.
    static void removeStaleTemporaries(const std::string& fileName);

    // Test seam: called after the new file is complete and before it replaces
    // the target; answering false abandons the write there (as a crash would,
    // except that the new file is removed). Null restores normal writing.
    using ReplaceHook = bool (*)(const std::string& tempFileName, const std::string& fileName);
    static void setReplaceHook(ReplaceHook hook);

    // Test seam: called by append() once every byte is written and before
    // they are made durable; answering false abandons the append there.
    using AppendHook = bool (*)(const std::string& fileName);
    static void setAppendHook(AppendHook hook);
};

} // namespace VorkSupport
