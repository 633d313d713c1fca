#pragma once
#include <sys/types.h>

#include <string>

namespace VorkSupport {

// The one way the system replaces a file that must never be seen half
// written: the new content goes to a new file beside the target, every byte
// through checked writes, is flushed to disk and its size checked, and only
// then renamed over the target; the directory is flushed last. Any failure
// leaves the target exactly as it was and removes the new file.
class VorkAtomicFile {
public:
    // Replaces fileName with content; mode 0600 when privateFile, else what
    // the umask leaves. For a private file a symbolic link stays and the
    // file it names is replaced; a file that is not private (one a user
    // named) is never written through a link in its last component and
    // replaced only when the caller owns it. A device or pipe is written in
    // place. A private file's
    // temporary files left by an earlier save that was killed go first.
    // False on any failure (logged at level 1).
    [[nodiscard]] static bool write(const std::string& fileName, const std::string& content, bool privateFile);

    // The same way to a file that must not exist yet: it gets the mode, and
    // a file of that name, even one that appears meanwhile, is never
    // replaced (false, the file as it was).
    [[nodiscard]] static bool create(const std::string& fileName, const std::string& content, mode_t mode);

    // Renames a file and makes the rename durable. False on any failure.
    [[nodiscard]] static bool rename(const std::string& from, const std::string& to);

    // Appends data to the open file fd (named fileName) through checked
    // writes and makes it durable with one fdatasync. False on any failure
    // (logged at level 1); how much of data reached the file is then unknown.
    static bool append(int fd, const std::string& data, const std::string& fileName);

    // Makes the entries of fileName's directory durable: a file created or
    // renamed there survives a power cut. False on any failure.
    static bool syncDirectory(const std::string& fileName);

    // Removes the temporary files that killed saves of fileName left behind.
    static void removeStaleTemporaries(const std::string& fileName);

    // Test seam: called after the new file is complete and before it replaces
    // the target; answering false abandons the save there (as a crash would,
    // except that the new file is removed). Null restores normal saving.
    using ReplaceHook = bool (*)(const std::string& tempFileName, const std::string& fileName);
    static void setReplaceHook(ReplaceHook hook);

    // Test seam: called by append() once every byte is written and before
    // they are made durable; answering false abandons the append there.
    using AppendHook = bool (*)(const std::string& fileName);
    static void setAppendHook(AppendHook hook);
};

} // namespace VorkSupport
