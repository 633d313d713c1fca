#pragma once
#include <memory>
#include <string>

#include <openssl/x509_vfy.h>

// The certificates that bundle definitions are signed with: every entry of
// one directory, each a PEM file. Any certificate in it, or one it issued,
// may sign. The store fails closed: once the directory holds anything at
// all, definitions must be signed; an entry that is not a readable regular
// file holding PEM certificates (a dangling link, a folder, a pipe, a file
// of something else, a dot-file among them) makes every signature fail, and
// so does a directory that cannot be read. Signatures over MD5 or SHA-1, and
// signers with RSA keys below 2048 or EC keys below 256 bits, never verify.
class TrustStore {
public:
    // PLIMO_TRUST_DIR when set, else /etc/plimo/trust.d.
    static std::string defaultDirectory();

    // Reads the directory; signatureDemanded makes signatures required
    // whatever the directory holds.
    TrustStore(const std::string& directory, bool signatureDemanded);
    ~TrustStore();
    TrustStore(const TrustStore&) = delete;
    TrustStore& operator=(const TrustStore&) = delete;

    const std::string& directory() const { return m_sDirectory; }
    // Whether a definition must come with a valid signature.
    bool signatureRequired() const { return m_bDemanded || m_bPopulated; }

    // "" when signatureFile holds a detached CMS signature (DER) over
    // exactly content, made by a trusted certificate or one it issued, with
    // a strong enough digest and key; otherwise why not. A signature file
    // that is a pipe or device raises VorkException 3081.
    std::string verify(const std::string& content, const std::string& signatureFile) const;

private:
    void addEntry(const std::string& entry);

    std::string m_sDirectory;
    bool m_bDemanded;
    bool m_bPopulated = false;
    int m_nCertificates = 0;
    // Why the store cannot vouch for anything; "" when it can.
    std::string m_sBroken;
    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> m_store;
};
