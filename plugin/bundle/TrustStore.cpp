#include "TrustStore.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <climits>
#include <cstdint>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "BundleFile.h"
#include "StatusCode.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

namespace {

using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;

// OpenSSL's queued errors as one text, oldest first; the queue is emptied.
std::string openSslErrors() {
    std::string text;
    const char* data = nullptr;
    int flags = 0;
    while (const unsigned long code = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) {
        char reason[256];
        ERR_error_string_n(code, reason, sizeof reason);
        if (!text.empty()) text += "; ";
        text += reason;
        if ((flags & ERR_TXT_STRING) != 0 && data != nullptr && *data != '\0') text += std::string(" (") + data + ")";
    }
    return text.empty() ? "no reason given" : text;
}

// Why a valid CMS signature is still too weak; "" when it is not.
std::string weakness(CMS_ContentInfo* cms) {
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms);
    for (int i = 0; i < sk_CMS_SignerInfo_num(signers); ++i) {
        EVP_PKEY* key = nullptr;
        X509* certificate = nullptr;
        X509_ALGOR* digest = nullptr;
        X509_ALGOR* signature = nullptr;
        CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(signers, i), &key, &certificate, &digest, &signature);
        int digestNid = NID_undef;
        if (digest != nullptr) {
            const ASN1_OBJECT* object = nullptr;
            X509_ALGOR_get0(&object, nullptr, nullptr, digest);
            digestNid = OBJ_obj2nid(object);
        }
        int signatureDigestNid = NID_undef;
        if (signature != nullptr) {
            const ASN1_OBJECT* object = nullptr;
            X509_ALGOR_get0(&object, nullptr, nullptr, signature);
            int keyNid = NID_undef;
            if (OBJ_find_sigid_algs(OBJ_obj2nid(object), &signatureDigestNid, &keyNid) != 1)
                signatureDigestNid = NID_undef;
        }
        for (const int nid : {digestNid, signatureDigestNid}) {
            if (nid == NID_md5 || nid == NID_md4 || nid == NID_md5_sha1 || nid == NID_sha1)
                return std::string("its message digest ") + OBJ_nid2sn(nid) + " is too weak";
        }
        if (key == nullptr && certificate != nullptr) key = X509_get0_pubkey(certificate);
        if (key == nullptr) return "its signer's key cannot be examined";
        const int bits = EVP_PKEY_get_bits(key);
        switch (EVP_PKEY_get_base_id(key)) {
            case EVP_PKEY_RSA:
            case EVP_PKEY_RSA_PSS:
            case EVP_PKEY_DSA:
                if (bits < 2048) return "its signer's key of " + std::to_string(bits) + " bits is too weak";
                break;
            case EVP_PKEY_EC:
                if (bits < 256) return "its signer's key of " + std::to_string(bits) + " bits is too weak";
                break;
            default: break;
        }
    }
    return std::string();
}

// Why a signer's certificate may not sign bundles; "" when it may. Code
// signing certificates of public authorities allow code signing only.
std::string unfitSigner(X509* certificate) {
    const uint32_t extended = X509_get_extended_key_usage(certificate);
    if (extended != UINT32_MAX && (extended & (XKU_CODE_SIGN | XKU_SMIME)) == 0)
        return "its signer's certificate allows neither code signing nor e-mail protection";
    const uint32_t usage = X509_get_key_usage(certificate);
    if (usage != UINT32_MAX && (usage & (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION)) == 0)
        return "its signer's key may not make digital signatures";
    return std::string();
}

std::string hexText(const unsigned char* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) text += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return text;
}

// The signer as the signing-time rule knows it.
TrustStore::Signer signerOf(CMS_SignerInfo* info, X509* certificate) {
    TrustStore::Signer signer;
    if (const ASN1_OCTET_STRING* id = X509_get0_subject_key_id(certificate)) {
        signer.keyId = hexText(ASN1_STRING_get0_data(id), static_cast<std::size_t>(ASN1_STRING_length(id)));
    } else {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (X509_pubkey_digest(certificate, EVP_sha1(), digest, &size) == 1) signer.keyId = hexText(digest, size);
    }
    const int index = CMS_signed_get_attr_by_NID(info, NID_pkcs9_signingTime, -1);
    const ASN1_TYPE* value = index >= 0 ? X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(info, index), 0) : nullptr;
    if (value != nullptr && (value->type == V_ASN1_UTCTIME || value->type == V_ASN1_GENERALIZEDTIME)) {
        struct tm time {};
        if (ASN1_TIME_to_tm(value->value.utctime, &time) == 1) {
            signer.hasSigningTime = true;
            signer.signingTime = static_cast<long long>(::timegm(&time));
        }
    }
    return signer;
}

} // namespace

std::string TrustStore::defaultDirectory() {
    const char* directory = std::getenv("PLIMO_TRUST_DIR");
    return directory != nullptr && *directory != '\0' ? directory : "/etc/plimo/trust.d";
}

TrustStore::TrustStore(const std::string& directory, bool signatureDemanded)
    : m_sDirectory(directory), m_bDemanded(signatureDemanded), m_store(X509_STORE_new(), &X509_STORE_free) {
    VORK_TRACE("TrustStore::TrustStore");
    if (m_store) {
        // Any certificate of the store is a trust anchor, also one that is
        // not self-signed; no key or certificate signature of the chain may
        // be weaker than 112 bits (RSA 2048, no SHA-1).
        X509_STORE_set_flags(m_store.get(), X509_V_FLAG_PARTIAL_CHAIN);
        X509_VERIFY_PARAM_set_auth_level(X509_STORE_get0_param(m_store.get()), 2);
        // The chain is checked for any purpose (the S/MIME rule that CMS
        // applies by default refuses code signing certificates); what the
        // signer's certificate allows is checked after.
        X509_VERIFY_PARAM_set_purpose(X509_STORE_get0_param(m_store.get()), X509_PURPOSE_ANY);
    }
    std::error_code error;
    std::filesystem::directory_iterator entries(directory, error);
    if (error) {
        // A store that is there but cannot be read must not pass for empty.
        m_bPopulated = error != std::errc::no_such_file_or_directory;
        if (m_bPopulated) {
            m_sBroken = "the trust store |" + directory + "| cannot be read: " + error.message();
            VORK_LOG(1, "TrustStore::TrustStore: " << m_sBroken);
        }
        return;
    }
    for (const auto& entry : entries) {
        m_bPopulated = true;
        addEntry(entry.path().string());
    }
    VORK_LOG(4, "TrustStore::TrustStore: |" << directory << "| holds " << m_nCertificates << " certificate(s)");
}

TrustStore::~TrustStore() = default;

void TrustStore::addEntry(const std::string& entry) {
    const BundleFile file(entry);
    int added = 0;
    if (file.state() == BundleFile::State::Read && file.content().size() <= static_cast<std::size_t>(INT_MAX)) {
        const Bio input(BIO_new_mem_buf(file.content().data(), static_cast<int>(file.content().size())), &BIO_free);
        while (input && m_store) {
            X509* certificate = PEM_read_bio_X509(input.get(), nullptr, nullptr, nullptr);
            if (certificate == nullptr) break;
            if (X509_STORE_add_cert(m_store.get(), certificate) == 1) ++added;
            X509_free(certificate);
        }
        // The end of the file leaves an error in the queue.
        ERR_clear_error();
    }
    if (added > 0) {
        m_nCertificates += added;
        return;
    }
    const std::string why = file.state() == BundleFile::State::Read ? "holds no PEM certificate" : file.problem();
    VORK_LOG(1, "TrustStore::addEntry: the entry |" << entry << "| of the trust store is not a readable PEM "
                                                    << "certificate (" << why << "): every bundle is refused");
    if (m_sBroken.empty()) m_sBroken = "the trust store entry |" + entry + "| is not a readable PEM certificate";
}

std::string TrustStore::verify(const std::string& content, const std::string& signatureFile,
                               std::vector<Signer>* signers) const {
    VORK_TRACE("TrustStore::verify");
    ERR_clear_error();
    if (!m_sBroken.empty()) return m_sBroken;
    if (m_nCertificates == 0) return "the trust store |" + m_sDirectory + "| holds no usable certificate";
    if (content.size() > static_cast<std::size_t>(INT_MAX)) return "the definition is too large to verify";
    const BundleFile signatureBytes(signatureFile);
    if (signatureBytes.state() == BundleFile::State::NotRegular) {
        VORK_LOG(1, "TrustStore::verify: " << signatureBytes.problem());
        throw VorkSupport::VorkException("TrustStore::verify: " + signatureBytes.problem(),
                                         StatusCode::DefinitionMissing);
    }
    if (signatureBytes.state() != BundleFile::State::Read) return "no signature file |" + signatureFile + "|";
    const std::string& der = signatureBytes.content();
    const Bio signature(BIO_new_mem_buf(der.data(), static_cast<int>(der.size())), &BIO_free);
    const std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)> cms(
        signature ? d2i_CMS_bio(signature.get(), nullptr) : nullptr, &CMS_ContentInfo_free);
    if (!cms) return "|" + signatureFile + "| is not a CMS signature in DER form: " + openSslErrors();
    // The content reaches CMS_verify through a filter: the library copies a
    // memory BIO into one of its own, which it leaks when the signature names
    // a digest that it cannot set up.
    const Bio data(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())), &BIO_free);
    const Bio filter(BIO_new(BIO_f_null()), &BIO_free);
    const bool verified =
        data && filter &&
        CMS_verify(cms.get(), nullptr, m_store.get(), BIO_push(filter.get(), data.get()), nullptr, CMS_BINARY) == 1;
    if (filter) BIO_pop(filter.get());
    if (!verified) return "the signature |" + signatureFile + "| does not verify: " + openSslErrors();
    const std::string weak = weakness(cms.get());
    if (!weak.empty()) return "the signature |" + signatureFile + "| is refused: " + weak;
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms.get());
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
        CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, i);
        X509* certificate = nullptr;
        CMS_SignerInfo_get0_algs(info, nullptr, &certificate, nullptr, nullptr);
        const std::string unfit =
            certificate != nullptr ? unfitSigner(certificate) : "its signer's certificate cannot be examined";
        if (!unfit.empty()) return "the signature |" + signatureFile + "| is refused: " + unfit;
        if (signers != nullptr) signers->push_back(signerOf(info, certificate));
    }
    return std::string();
}
