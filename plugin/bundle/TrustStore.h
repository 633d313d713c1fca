#pragma once
#include <memory>
#include <string>

#include <openssl/x509_vfy.h>

// The certificates that bundle definitions are signed with: every PEM file
// of one directory. Any certificate in it, or one it issued, may sign. Once
// the directory holds a file, definitions must be signed: a file that holds
// no certificate is skipped, but it does not let unsigned definitions
// through, and neither does a directory that cannot be read.
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
    // exactly content, made by a trusted certificate or one it issued;
    // otherwise why not.
    std::string verify(const std::string& content, const std::string& signatureFile) const;

private:
    void addFile(const std::string& file);

    std::string m_sDirectory;
    bool m_bDemanded;
    bool m_bPopulated = false;
    int m_nCertificates = 0;
    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> m_store;
};
