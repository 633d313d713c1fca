#pragma once
#include <sys/types.h>

#include <cstdint>

#include "FileHandle.h"

namespace VorkSupport {

// Keeps what a child appends to a regular file within a number of bytes
// while the child is watched: whatever lands past them is cut off again at
// once (the file is truncated back to the limit) and counted. The child's
// writes never fail or block for it, so a program that goes on printing is
// neither killed nor held up, and a process it leaves running keeps its
// output file. The file is watched with inotify where that can be had;
// otherwise check() must be called in short steps.
class VorkOutputCap {
public:
    // fd: the file the child appends to (not owned); limit: the bytes it may
    // add to what the file holds now, 0 for no limit.
    VorkOutputCap(int fd, std::int64_t limit);
    ~VorkOutputCap();

    VorkOutputCap(const VorkOutputCap&) = delete;
    VorkOutputCap& operator=(const VorkOutputCap&) = delete;

    bool active() const { return m_nLimitEnd >= 0; }
    // Readable when the file may have grown; -1 when nothing tells.
    int wakeFd() const { return m_nNotifier; }
    // Cuts the file back to the limit when it has grown past it.
    void check();
    // The bytes cut off so far (at least; what lands while the cut is made
    // is not counted).
    std::int64_t dropped() const { return m_nDropped; }

private:
    int m_fd;
    off_t m_nLimitEnd = -1;
    std::int64_t m_nDropped = 0;
    int m_nNotifier = -1;
    int m_nWatch = -1;
};

} // namespace VorkSupport
