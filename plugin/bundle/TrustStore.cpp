#include "TrustStore.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>

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

} // namespace

std::string TrustStore::defaultDirectory() {
    const char* directory = std::getenv("PLIMO_TRUST_DIR");
    return directory != nullptr && *directory != '\0' ? directory : "/etc/plimo/trust.d";
}

TrustStore::TrustStore(const std::string& directory, bool signatureDemanded)
    : m_sDirectory(directory), m_bDemanded(signatureDemanded), m_store(X509_STORE_new(), &X509_STORE_free) {
    VORK_TRACE("TrustStore::TrustStore");
    // Any certificate of the store is a trust anchor, also one that is not
    // self-signed.
    if (m_store) X509_STORE_set_flags(m_store.get(), X509_V_FLAG_PARTIAL_CHAIN);
    std::error_code error;
    std::filesystem::directory_iterator entries(directory, error);
    if (error) {
        // A store that is there but cannot be read must not pass for empty.
        m_bPopulated = error != std::errc::no_such_file_or_directory;
        if (m_bPopulated)
            VORK_LOG(1, "TrustStore::TrustStore: cannot read |" << directory << "|: " << error.message());
        return;
    }
    for (const auto& entry : entries) {
        if (entry.path().filename().string().front() == '.' || !entry.is_regular_file(error)) continue;
        m_bPopulated = true;
        addFile(entry.path().string());
    }
    VORK_LOG(4, "TrustStore::TrustStore: |" << directory << "| holds " << m_nCertificates << " certificate(s)");
}

TrustStore::~TrustStore() = default;

void TrustStore::addFile(const std::string& file) {
    const Bio input(BIO_new_file(file.c_str(), "r"), &BIO_free);
    int added = 0;
    while (input && m_store) {
        X509* certificate = PEM_read_bio_X509(input.get(), nullptr, nullptr, nullptr);
        if (certificate == nullptr) break;
        if (X509_STORE_add_cert(m_store.get(), certificate) == 1) ++added;
        X509_free(certificate);
    }
    // The end of the file leaves an error in the queue.
    ERR_clear_error();
    if (added == 0) VORK_LOG(2, "TrustStore::addFile: no certificate in |" << file << "|, skipped");
    m_nCertificates += added;
}

std::string TrustStore::verify(const std::string& content, const std::string& signatureFile) const {
    VORK_TRACE("TrustStore::verify");
    ERR_clear_error();
    if (m_nCertificates == 0) return "the trust store |" + m_sDirectory + "| holds no usable certificate";
    if (content.size() > static_cast<std::size_t>(INT_MAX)) return "the definition is too large to verify";
    const Bio signature(BIO_new_file(signatureFile.c_str(), "rb"), &BIO_free);
    if (!signature) return "no signature file |" + signatureFile + "|";
    const std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)> cms(d2i_CMS_bio(signature.get(), nullptr),
                                                                                &CMS_ContentInfo_free);
    if (!cms) return "|" + signatureFile + "| is not a CMS signature in DER form: " + openSslErrors();
    const Bio data(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())), &BIO_free);
    if (!data || CMS_verify(cms.get(), nullptr, m_store.get(), data.get(), nullptr, CMS_BINARY) != 1)
        return "the signature |" + signatureFile + "| does not verify: " + openSslErrors();
    return std::string();
}
