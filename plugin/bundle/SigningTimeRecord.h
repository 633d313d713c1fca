#pragma once
#include <map>
#include <string>
#include <vector>

#include "TrustStore.h"

// The newest signing time, per signer (the subject key identifier of its
// certificate), of the signed definitions that this machine has started an
// update with: a small file in the state folder, always written whole
// through the atomic writer. Under the policy "signed" a definition signed
// before that time is an older bundle brought back, and is refused unless
// the caller allows older bundles.
//
// A record that cannot be read, or is torn, refuses nothing: it reads as
// empty, says so in the debug log, and is written whole again at the next
// update.
class SigningTimeRecord {
public:
    static constexpr const char* kFileName = "plimo-signing-times";

    // <windir>/TEMP/plimo-signing-times.
    static std::string defaultFileName();

    explicit SigningTimeRecord(const std::string& fileName);

    // "" when no signer signed before the newest time recorded for it (the
    // same definition again is not older), and none comes without a
    // signing time while the record holds one for it; otherwise why, with
    // both times.
    std::string refusal(const std::vector<TrustStore::Signer>& signers) const;

    // Keeps each signer's signing time where it is newer than the recorded
    // one, and writes the record whole when anything changed (or it was
    // torn). A record that cannot be written costs a debug record only.
    void record(const std::vector<TrustStore::Signer>& signers);

    // A time as the messages give it: "2026-01-02T03:04:05Z".
    static std::string timeText(long long seconds);

private:
    void read();

    std::string m_sFileName;
    std::map<std::string, long long> m_times;
    bool m_bRewrite = false;
};
