#include "SigningTimeRecord.h"

#include <cctype>
#include <ctime>
#include <sstream>

#include "BundleFile.h"
#include "VorkAtomicFile.h"
#include "VorkLogRecord.h"
#include "VorkPlatform.h"
#include "VorkScopeTrace.h"

namespace {

const char* const kHeading = "# signer's subject key identifier, newest signing time (seconds since 1970, UTC)\n";

bool allOf(const std::string& text, int (*kind)(int)) {
    if (text.empty()) return false;
    for (const char c : text)
        if (kind(static_cast<unsigned char>(c)) == 0) return false;
    return true;
}

} // namespace

std::string SigningTimeRecord::defaultFileName() {
    return VorkSupport::VorkPlatform::windowsDirectory() + VorkSupport::VorkPlatform::separatorText + "TEMP" +
           VorkSupport::VorkPlatform::separatorText + kFileName;
}

SigningTimeRecord::SigningTimeRecord(const std::string& fileName) : m_sFileName(fileName) {
    VORK_TRACE("SigningTimeRecord::SigningTimeRecord");
    read();
}

void SigningTimeRecord::read() {
    const BundleFile file(m_sFileName);
    if (file.state() == BundleFile::State::Missing) return;
    const std::string& text = file.content();
    bool whole = file.state() == BundleFile::State::Read && !text.empty() && text.back() == '\n';
    std::istringstream lines(text);
    std::string line;
    while (whole && std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::string::size_type blank = line.find(' ');
        const std::string keyId = line.substr(0, blank);
        const std::string seconds = blank == std::string::npos ? std::string() : line.substr(blank + 1);
        if (!allOf(keyId, isxdigit) || !allOf(seconds, isdigit) || seconds.size() > 18) {
            whole = false;
            break;
        }
        m_times[keyId] = std::stoll(seconds);
    }
    if (whole) return;
    VORK_LOG(1, "SigningTimeRecord::read: the record of signing times |"
                    << m_sFileName << "| cannot be read or is torn ("
                    << (file.problem().empty() ? "malformed" : file.problem())
                    << "): it refuses nothing and is written whole again");
    m_times.clear();
    m_bRewrite = true;
}

std::string SigningTimeRecord::timeText(long long seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    struct tm parts {};
    char text[32] = "?";
    if (::gmtime_r(&time, &parts) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string SigningTimeRecord::refusal(const std::vector<TrustStore::Signer>& signers) const {
    for (const TrustStore::Signer& signer : signers) {
        const auto known = m_times.find(signer.keyId);
        if (known == m_times.end()) continue;
        if (!signer.hasSigningTime)
            return "the signature carries no signing time, but this machine started an update with a definition "
                   "that the signer " +
                   signer.keyId + " signed at " + timeText(known->second);
        if (signer.signingTime < known->second)
            return "the definition was signed at " + timeText(signer.signingTime) +
                   ", before the newest definition of the signer " + signer.keyId +
                   " that this machine started an update with, signed at " + timeText(known->second) +
                   " (allowolder=true runs it all the same)";
    }
    return std::string();
}

void SigningTimeRecord::record(const std::vector<TrustStore::Signer>& signers) {
    VORK_TRACE("SigningTimeRecord::record");
    bool changed = m_bRewrite;
    for (const TrustStore::Signer& signer : signers) {
        if (!signer.hasSigningTime || signer.keyId.empty()) continue;
        const auto [known, added] = m_times.try_emplace(signer.keyId, signer.signingTime);
        if (!added && known->second >= signer.signingTime) continue;
        known->second = signer.signingTime;
        changed = true;
    }
    if (!changed) return;
    std::string text = kHeading;
    for (const auto& [keyId, seconds] : m_times) text += keyId + " " + std::to_string(seconds) + "\n";
    if (VorkSupport::VorkAtomicFile::write(m_sFileName, text, true) ==
        VorkSupport::VorkAtomicFile::Outcome::Unchanged) {
        VORK_LOG(1,
                 "SigningTimeRecord::record: the record of signing times |" << m_sFileName << "| could not be written");
        return;
    }
    m_bRewrite = false;
}
