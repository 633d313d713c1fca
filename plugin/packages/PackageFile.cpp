#include "PackageFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <openssl/evp.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

namespace {

constexpr std::size_t kDigestHexLength = 64;
constexpr std::size_t kReadSize = 1024 * 1024;

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

} // namespace

PackageFile::PackageFile(const std::string& path)
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
    hash();
}

void PackageFile::hash() {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        m_sProblem = "SHA-256 is not available";
        return;
    }
    std::vector<char> buffer(kReadSize);
    for (;;) {
        const ssize_t count = m_file.read(buffer.data(), buffer.size());
        if (count == 0) break;
        if (count < 0) {
            m_sProblem = std::string("the package cannot be read: ") + std::strerror(errno);
            return;
        }
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(count)) != 1) {
            m_sProblem = "SHA-256 failed";
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
