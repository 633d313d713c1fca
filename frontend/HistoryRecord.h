#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "AnswerDocument.h"

// One status log file that the history lists (a final log or an entry of
// the history folder), read as a stream: whatever its size, the memory it
// takes is bounded and the time is that of one pass over its bytes. It
// holds the summary of the log and, when asked for, its packages; what lies
// beyond the bounds below is counted, never kept. A file that is not a
// whole status log (torn, foreign, with a document type declaration, or
// without a status) is unreadable.
class HistoryRecord {
public:
    // The longest message and attribute value kept, the end of a package's
    // last log that is kept, and the packages kept.
    static constexpr std::size_t kMaxText = 4096;
    static constexpr std::size_t kMaxLogText = 8192;
    static constexpr std::size_t kMaxPackages = 500;

    struct Package {
        // Its logs: the first refusal by the digest check when there was one
        // before the last log, and the last log (its end, when longer than
        // kMaxLogText; then it starts with "...").
        AnswerDocument::Package entry;
        // The runs it had: the logs of a package that ran.
        int runs = 0;
    };

    // The file name in directory (a descriptor, or AT_FDCWD), never through
    // a link, never blocking on a pipe; a file that is not regular is
    // unreadable.
    static HistoryRecord open(int directory, const std::string& name, bool withPackages);
    static HistoryRecord fromText(const char* data, std::size_t size, bool withPackages);

    bool readable = false;
    std::string updateId;
    std::string date;
    long status = 0;
    std::string message;
    int run = 0;
    int failed = 0;
    int skipped = 0;
    int missing = 0;
    int restarts = 0;
    std::vector<Package> packages;
    std::size_t packagesLeftOut = 0;

private:
    // Reads through next (bytes into buffer, 0 at the end, -1 on an error).
    using Source = int (*)(void* context, char* buffer, int size);
    static HistoryRecord parse(Source next, void* context, bool withPackages);
};
