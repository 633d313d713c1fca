#include "BAJournalFormat.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

const char kMagic[8] = {'P', 'L', 'J', 'R', 'N', 'L', '0', '1'};
constexpr std::uint64_t kMinimumJournalBytes = 64 * 1024;

void putNumber(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

std::uint64_t getNumber(const std::string& in, std::size_t offset, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= std::uint64_t(static_cast<unsigned char>(in[offset + i])) << (8 * i);
    return value;
}

std::uint32_t crcOf(const char* data, std::size_t size, std::uint32_t crc = 0) {
    return static_cast<std::uint32_t>(crc32_z(crc, reinterpret_cast<const Bytef*>(data), size));
}

// The checksum of a record covers its journal's number, its length and its
// payload.
std::uint32_t recordCrc(std::uint64_t journalNumber, const char* length, const char* payload, std::size_t size) {
    std::string number;
    putNumber(number, journalNumber, 8);
    return crcOf(payload, size, crcOf(length, 4, crcOf(number.data(), number.size())));
}

} // namespace

std::uint64_t BAJournalFormat::limitFor(std::uint64_t snapshotSize) {
    return std::max(snapshotSize, kMinimumJournalBytes);
}

std::uint32_t BAJournalFormat::crc(const std::string& bytes) { return crcOf(bytes.data(), bytes.size()); }

std::string BAJournalFormat::header(std::uint64_t snapshotSize, std::uint32_t snapshotCrc,
                                    std::uint64_t journalNumber) {
    std::string text(kMagic, sizeof kMagic);
    putNumber(text, snapshotSize, 8);
    putNumber(text, snapshotCrc, 4);
    putNumber(text, journalNumber, 8);
    putNumber(text, crc(text), 4);
    return text;
}

std::string BAJournalFormat::record(std::uint64_t journalNumber, const std::string& payload) {
    std::string record;
    putNumber(record, payload.size(), 4);
    putNumber(record, recordCrc(journalNumber, record.data(), payload.data(), payload.size()), 4);
    return record + payload;
}

BAJournalFormat::Reader::Reader(const std::string& journal, const std::string& snapshot) : m_journal(journal) {
    m_bMatches = journal.size() >= kHeaderSize && std::memcmp(journal.data(), kMagic, sizeof kMagic) == 0 &&
                 getNumber(journal, 28, 4) == crcOf(journal.data(), 28) &&
                 getNumber(journal, 8, 8) == snapshot.size() && getNumber(journal, 16, 4) == crc(snapshot);
    if (!m_bMatches) {
        m_sReason = journal.empty() ? "" : "a journal of another snapshot";
        return;
    }
    m_nNumber = getNumber(journal, 20, 8);
    m_nLimit = limitFor(snapshot.size());
    m_nOffset = kHeaderSize;
    m_nPending = kHeaderSize;
}

bool BAJournalFormat::Reader::next(std::string& payload) {
    if (!m_bMatches || !m_sReason.empty()) return false;
    m_nOffset = m_nPending;
    const std::size_t left = m_journal.size() - m_nOffset;
    if (left == 0) return false;
    if (left < kFrameSize) {
        m_sReason = "a torn record";
        return false;
    }
    const std::size_t length = getNumber(m_journal, m_nOffset, 4);
    if (m_nOffset + kFrameSize + length - kHeaderSize > m_nLimit) {
        m_sReason = "records beyond the journal's limit";
        return false;
    }
    if (length > left - kFrameSize) {
        m_sReason = "a torn record";
        return false;
    }
    const char* start = m_journal.data() + m_nOffset;
    if (getNumber(m_journal, m_nOffset + 4, 4) != recordCrc(m_nNumber, start, start + kFrameSize, length)) {
        m_sReason = "a record that fails its checksum";
        return false;
    }
    payload.assign(m_journal, m_nOffset + kFrameSize, length);
    m_nPending = m_nOffset + kFrameSize + length;
    return true;
}

void BAJournalFormat::Reader::reject() { m_sReason = "a record that does not apply"; }
