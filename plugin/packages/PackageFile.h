#pragma once
#include <sys/types.h>

#include <string>

#include "FileHandle.h"

// A package file opened to be checked against its SHA-256 digest. The file
// is opened once, without following a symbolic link in its place and without
// blocking, checked to be a regular file and hashed from that descriptor
// (OpenSSL's EVP SHA-256). Given a copy descriptor, every byte that is hashed
// is written there too, so that the copy holds exactly the bytes the digest
// was computed over, whatever happens to the file meanwhile.
class PackageFile {
public:
    explicit PackageFile(const std::string& path, int copyFd = -1);
    PackageFile(const PackageFile&) = delete;
    PackageFile& operator=(const PackageFile&) = delete;

    // Nothing lies at the path: there is nothing to check, the package is
    // missing.
    bool missing() const;
    // The file's digest in lower-case hexadecimal; "" when it could not be
    // read, and problem() then says why.
    const std::string& sha256() const { return m_sha256; }
    const std::string& problem() const { return m_sProblem; }
    // "" when the file's digest is expectedText (64 hexadecimal digits in
    // any case); otherwise what is wrong, as the package's log entry tells
    // it.
    std::string mismatch(const std::string& expectedText) const;
    // Whether anyone may execute the file.
    bool executable() const { return (m_mode & 0111) != 0; }
    // What follows "#!" on the first line of a script (at most the 255
    // bytes the kernel reads), "" when the file is no script.
    const std::string& scriptLine() const { return m_sScriptLine; }

    // expectedText in lower case when it is 64 hexadecimal digits, else "".
    static std::string normalDigest(const std::string& expectedText);
    // "" when the interpreter that a "#!" line names (and, for env, the
    // program env looks up on PATH) is a file owned by root that nobody else
    // may write, reached through directories nobody else may change;
    // otherwise why not, naming it. An empty line needs nothing.
    static std::string unsafeInterpreter(const std::string& scriptLine);
    // "" when nobody but root can change any element of the absolute path:
    // each directory on the way (one with its sticky bit may be writable),
    // each link, and what lies at its end; otherwise which one and why.
    static std::string unsafePlace(const std::string& path);

private:
    void hash(int copyFd);
    void noteScriptLine(const char* bytes, std::size_t count);

    VorkSupport::FileHandle m_file;
    int m_openError = 0;
    mode_t m_mode = 0;
    std::string m_sha256;
    std::string m_sProblem;
    std::string m_sScriptLine;
};
