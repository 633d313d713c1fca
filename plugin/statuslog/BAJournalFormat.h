#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The record format of a status log's journal: its header, the framing of its
// records, and a reader that says what it dropped. A leaf: bytes in, bytes
// out; what a record means is the document diff's (BALogDiff).
//
// Layout (integers little-endian):
//   header  "PLJRNL01", the snapshot's size (8 bytes) and CRC-32 (4), a random
//           journal number (8), the CRC-32 of the 28 bytes before (4)
//   records payload length (4), CRC-32 of the journal number, the length and
//           the payload (4), the payload
// The header names the snapshot (the log file written whole) that the records
// build on; a record's checksum names its journal, so that a record left over
// from another journal never passes. The records of one journal never hold
// more than limitFor(snapshot size) bytes: the writer writes the log whole
// instead.
class BAJournalFormat {
public:
    static constexpr std::size_t kHeaderSize = 32;
    static constexpr std::size_t kFrameSize = 8;

    // How many bytes of records a journal of a snapshot of this size may hold:
    // the snapshot's size, and never less than 64 KiB, so that a small log is
    // not rewritten after nearly every save.
    static std::uint64_t limitFor(std::uint64_t snapshotSize);

    static std::uint32_t crc(const std::string& bytes);
    static std::string header(std::uint64_t snapshotSize, std::uint32_t snapshotCrc, std::uint64_t journalNumber);
    // One framed record.
    static std::string record(std::uint64_t journalNumber, const std::string& payload);

    // Reads the records of a journal in order, up to the first that is torn,
    // fails its checksum, lies beyond the journal's limit or is rejected by
    // the caller (since each builds on the ones before, everything after it
    // is dropped too).
    class Reader {
    public:
        Reader(const std::string& journal, const std::string& snapshot);

        // Whether the journal was written for this snapshot. A journal of
        // another snapshot (the log was written whole and a crash kept the
        // old journal) holds nothing for it.
        bool matches() const { return m_bMatches; }
        // The next record's payload; false when there is none left to apply.
        bool next(std::string& payload);
        // The record that next() answered last cannot be applied.
        void reject();

        // What the reader did not apply: from this offset, so many bytes,
        // and why ("" when nothing was dropped).
        std::size_t droppedFrom() const { return m_nOffset; }
        std::size_t droppedBytes() const { return m_journal.size() - m_nOffset; }
        const std::string& reason() const { return m_sReason; }

    private:
        const std::string& m_journal;
        bool m_bMatches = false;
        std::uint64_t m_nNumber = 0;
        std::uint64_t m_nLimit = 0;
        std::size_t m_nOffset = 0;
        std::size_t m_nPending = 0;
        std::string m_sReason;
    };
};
