#pragma once
#include <string>

// One file of a bundle (a definition, a relocation file, a signature, an
// entry of the trust store) read whole through one descriptor: opened
// without blocking, so that a pipe planted in its place cannot hang the
// update, and read only when it is a regular file of at most kMaxBytes. The
// bytes read are the bytes every later step (a signature check, the parse)
// sees.
class BundleFile {
public:
    static constexpr long long kMaxBytes = 64LL * 1024 * 1024;

    enum class State {
        Read,       // content() holds the whole file
        Missing,    // nothing lies at the path
        NotRegular, // a pipe, device, socket or directory lies there
        Unreadable  // it cannot be opened or read, or it is too large
    };

    explicit BundleFile(const std::string& path);

    State state() const { return m_state; }
    const std::string& content() const { return m_sContent; }
    const std::string& path() const { return m_sPath; }
    // What kept the file from being read, as a log tells it; "" when read.
    const std::string& problem() const { return m_sProblem; }

private:
    std::string m_sPath;
    State m_state = State::Unreadable;
    std::string m_sContent;
    std::string m_sProblem;
};
