#pragma once
#include <string>
#include <vector>

namespace VorkSupport {

// Finds the files that match a pattern: a path whose last component may hold
// the wildcards '*' and '?' (fnmatch rules; hidden files match only an
// explicit leading dot). Without wildcards, it matches that one path when it
// exists (a file or a directory).
class VorkFindFile {
public:
    explicit VorkFindFile(const std::string& pattern);

    // True while a match is left to read.
    bool hasMore() const { return m_next < m_matches.size(); }
    // The next match (full path) and advance; empty when none is left.
    std::string next();

private:
    std::vector<std::string> m_matches;
    std::size_t m_next = 0;
};

} // namespace VorkSupport
