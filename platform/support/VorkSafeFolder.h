#pragma once
#include <string>

namespace VorkSupport {

// Whether a folder that the system writes into or deletes from is one that
// nobody but root and the caller can change: otherwise another user could
// swap a folder of the way for a link to where root's file should not go.
class VorkSafeFolder {
public:
    // "" when every element of the absolute path folder (each directory on
    // the way, each link, and the folder itself) belongs to root or to the
    // caller and nobody else may write it; a directory on the way with its
    // sticky bit may be writable (nobody can replace what root has put
    // there), and so may the folder itself when stickyFolder is true. A path
    // through links is checked again as the links resolve. Otherwise which
    // element and why.
    static std::string problem(const std::string& folder, bool stickyFolder);
};

} // namespace VorkSupport
