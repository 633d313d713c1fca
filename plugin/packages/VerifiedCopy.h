#pragma once
#include <string>

// The private copy of a package that is about to start, made so that the
// bytes checked are the bytes that run, whoever else may write the package
// file: a new directory that only its owner may enter (mode 0700) in the
// state folder, holding a copy of the package under its own file name. The
// package is read once, without following a symbolic link in its place, and
// hashed as it is copied; a copy whose digest is not the expected one is
// never handed out. The copy and its directory go with the object.
class VerifiedCopy {
public:
    // The name with which every copy's directory begins.
    static constexpr const char* kDirectoryPrefix = "plimo-verified-";

    VerifiedCopy(const std::string& packagePath, const std::string& folder, const std::string& expectedDigest);
    ~VerifiedCopy();
    VerifiedCopy(const VerifiedCopy&) = delete;
    VerifiedCopy& operator=(const VerifiedCopy&) = delete;

    // Nothing lies at the package's path: there is nothing to copy.
    bool missing() const { return m_bMissing; }
    // "" when the copy holds exactly the bytes of the digest, else why not.
    const std::string& problem() const { return m_sProblem; }
    // The copy; "" unless it is good.
    const std::string& path() const { return m_sPath; }

    // Removes the copies that runs which were killed left in folder.
    static void removeStale(const std::string& folder);

private:
    void make(const std::string& packagePath, const std::string& expectedDigest);

    std::string m_sDirectory;
    std::string m_sName;
    std::string m_sPath;
    std::string m_sProblem;
    bool m_bMissing = false;
};
