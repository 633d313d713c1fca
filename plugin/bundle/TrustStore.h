#pragma once
#include <memory>
#include <string>
#include <vector>

#include <openssl/x509_vfy.h>

// The certificates that bundle definitions are signed with: every entry of
// one directory, each a PEM file. Any certificate in it, or one it issued,
// may sign. The store fails closed: once the directory holds anything at
// all, definitions must be signed; an entry that is not a readable regular
// file holding PEM certificates (a dangling link, a folder, a pipe, a file
// of something else, a dot-file among them) makes every signature fail, and
// so does a directory that cannot be read. Signatures over MD5 or SHA-1, and
// signers with RSA keys below 2048 or EC keys below 256 bits, never verify.
// A signer's certificate may sign when its extended key usage allows code
// signing or e-mail protection, or it has none, and its key usage (if any)
// allows digital signatures.
class TrustStore {
public:
    // One signer of a verified signature: the subject key identifier of its
    // certificate (lower-case hexadecimal; the SHA-1 of its public key when
    // the certificate names none) and the signing time among the signed
    // attributes, when the signature carries one.
    struct Signer {
        std::string keyId;
        bool hasSigningTime = false;
        long long signingTime = 0; // seconds since 1970, UTC
    };

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
    // a strong enough digest and key, by a certificate fit to sign;
    // otherwise why not. A signature file that is a pipe or device raises
    // VorkException 3081. signers, when given, receives the signers of a
    // signature that verified.
    std::string verify(const std::string& content, const std::string& signatureFile,
                       std::vector<Signer>* signers = nullptr) const;

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
