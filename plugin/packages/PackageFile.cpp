#include "PackageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "VorkWriteAll.h"

namespace {

constexpr std::size_t kDigestHexLength = 64;
constexpr std::size_t kReadSize = 1024 * 1024;
// The kernel reads this much of a script to find its interpreter.
constexpr std::size_t kScriptLineBytes = 256;

std::string hexText(const unsigned char* bytes, unsigned int size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (unsigned int i = 0; i < size; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0f]);
    }
    return text;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The words of a script line, split at blanks.
std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> result;
    std::string word;
    for (const char c : line + " ") {
        if (!isBlank(c)) {
            word.push_back(c);
        } else if (!word.empty()) {
            result.push_back(word);
            word.clear();
        }
    }
    return result;
}

// Whether nobody but root can change what lies at this place: it belongs to
// root, and no one else may write it (a directory with its sticky bit may
// be written: nobody can replace what root has put there).
bool heldByRoot(const struct stat& status) {
    if (status.st_uid != 0) return false;
    if (S_ISLNK(status.st_mode)) return true;
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) == 0) return true;
    return S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0;
}

// "" when every element of the absolute path (each directory on the way,
// each link and what lies at its end, which must be a file when file is
// true) can be changed by root only; a path through links is then checked
// again as the links resolve.
std::string unsafePath(const std::string& path, bool file) {
    if (path.empty() || path[0] != '/') return "|" + path + "| is not an absolute path";
    struct stat status {};
    if (::lstat("/", &status) != 0 || !heldByRoot(status)) return "|/| may be changed by others than root";
    bool linked = false;
    for (std::string::size_type end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/') continue;
        const std::string element = path.substr(0, end);
        if (element.back() == '/') continue;
        if (::lstat(element.c_str(), &status) != 0)
            return "|" + element + "| cannot be examined: " + std::strerror(errno);
        if (!heldByRoot(status)) return "|" + element + "| may be changed by others than root";
        if (S_ISLNK(status.st_mode)) linked = true;
        if (file && end == path.size() && !S_ISLNK(status.st_mode) && !S_ISREG(status.st_mode))
            return "|" + element + "| is not a file";
    }
    if (!linked) return std::string();
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return "|" + path + "| cannot be resolved: " + std::strerror(errno);
    return unsafePath(resolved.get(), file);
}

// The program that env looks up on PATH, as an exec would find it; "" when
// it finds none (the start then fails by itself).
std::string onPath(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* value = std::getenv("PATH");
    const std::string path = value != nullptr ? value : "/usr/local/bin:/usr/bin:/bin";
    std::string::size_type start = 0;
    while (start <= path.size()) {
        std::string::size_type end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        const std::string directory = end > start ? path.substr(start, end - start) : ".";
        const std::string candidate = directory + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return std::string();
}

} // namespace

std::string PackageFile::unsafePlace(const std::string& path) { return unsafePath(path, false); }

std::string PackageFile::unsafeInterpreter(const std::string& scriptLine) {
    if (scriptLine.empty()) return std::string();
    const std::vector<std::string> parts = words(scriptLine);
    if (parts.empty()) return "the script names no interpreter";
    std::string problem = unsafePath(parts[0], true);
    if (!problem.empty()) return "the interpreter |" + parts[0] + "| of the script is not safe: " + problem;
    const std::string::size_type slash = parts[0].find_last_of('/');
    if (parts[0].substr(slash + 1) != "env") return std::string();
    // env runs the first word that is neither an option nor a setting.
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (parts[i][0] == '-' || parts[i].find('=') != std::string::npos) continue;
        const std::string program = onPath(parts[i]);
        if (program.empty()) return std::string();
        problem = unsafePath(program, true);
        if (!problem.empty()) return "the interpreter |" + program + "| of the script is not safe: " + problem;
        return std::string();
    }
    return std::string();
}

PackageFile::PackageFile(const std::string& path, int copyFd)
    // O_NONBLOCK: a pipe planted in the package's place must not hang the
    // open; it is refused below as not a regular file.
    : m_file(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY), m_openError(m_file.isOpen() ? 0 : errno) {
    VORK_TRACE("PackageFile::PackageFile");
    if (!m_file.isOpen()) {
        m_sProblem = m_openError == ELOOP ? "the package is a symbolic link" : std::strerror(m_openError);
        return;
    }
    struct stat status {};
    if (::fstat(m_file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        m_sProblem = "the package is not a regular file";
        return;
    }
    m_mode = status.st_mode;
    hash(copyFd);
}

void PackageFile::hash(int copyFd) {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        m_sProblem = "SHA-256 is not available";
        return;
    }
    std::vector<char> buffer(kReadSize);
    bool first = true;
    for (;;) {
        const ssize_t count = m_file.read(buffer.data(), buffer.size());
        if (count == 0) break;
        if (count < 0) {
            m_sProblem = std::string("the package cannot be read: ") + std::strerror(errno);
            return;
        }
        const auto size = static_cast<std::size_t>(count);
        if (first) noteScriptLine(buffer.data(), size);
        first = false;
        if (EVP_DigestUpdate(context.get(), buffer.data(), size) != 1) {
            m_sProblem = "SHA-256 failed";
            return;
        }
        if (copyFd >= 0 && !VorkSupport::VorkWriteAll(copyFd, buffer.data(), size)) {
            m_sProblem = std::string("the private copy cannot be written: ") + std::strerror(errno);
            return;
        }
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &size) != 1) {
        m_sProblem = "SHA-256 failed";
        return;
    }
    m_sha256 = hexText(digest, size);
}

void PackageFile::noteScriptLine(const char* bytes, std::size_t count) {
    if (count < 2 || bytes[0] != '#' || bytes[1] != '!') return;
    const std::string head(bytes + 2, std::min(count, kScriptLineBytes) - 2);
    m_sScriptLine = head.substr(0, head.find('\n'));
    // A script line that is just "#!" still names its interpreter: none.
    if (m_sScriptLine.empty()) m_sScriptLine = " ";
}

bool PackageFile::missing() const { return m_openError == ENOENT || m_openError == ENOTDIR; }

std::string PackageFile::mismatch(const std::string& expectedText) const {
    const std::string expected = normalDigest(expectedText);
    if (expected.empty()) return "malformed SHA-256 digest: |" + expectedText + "|";
    if (m_sha256.empty()) return "SHA-256 digest cannot be checked: " + m_sProblem;
    if (m_sha256 == expected) return std::string();
    return "SHA-256 mismatch: expected " + expected + ", found " + m_sha256;
}

std::string PackageFile::normalDigest(const std::string& expectedText) {
    if (expectedText.size() != kDigestHexLength) return std::string();
    std::string digest;
    digest.reserve(kDigestHexLength);
    for (const char c : expectedText) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::string();
        digest.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    return digest;
}
