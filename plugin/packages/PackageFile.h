#pragma once
#include <string>

#include "FileHandle.h"

// A package file opened to be checked against its SHA-256 digest. The file
// is opened once, without following a symbolic link in its place, and hashed
// from that descriptor (OpenSSL's EVP SHA-256), so that the same descriptor
// can start exactly the bytes that were checked.
class PackageFile {
public:
    explicit PackageFile(const std::string& path);
    PackageFile(const PackageFile&) = delete;
    PackageFile& operator=(const PackageFile&) = delete;

    // Nothing lies at the path: there is nothing to check, the package is
    // missing.
    bool missing() const;
    // The open file, or -1.
    int fd() const { return m_file.get(); }
    // The file's digest in lower-case hexadecimal; "" when it could not be
    // read, and problem() then says why.
    const std::string& sha256() const { return m_sha256; }
    const std::string& problem() const { return m_sProblem; }
    // "" when the file's digest is expectedText (64 hexadecimal digits in
    // any case); otherwise what is wrong, as the package's log entry tells
    // it.
    std::string mismatch(const std::string& expectedText) const;

    // expectedText in lower case when it is 64 hexadecimal digits, else "".
    static std::string normalDigest(const std::string& expectedText);

private:
    void hash();

    VorkSupport::FileHandle m_file;
    int m_openError = 0;
    std::string m_sha256;
    std::string m_sProblem;
};
