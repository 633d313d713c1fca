#include "BAJournal.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <random>
#include <vector>

#include "BAJournalFormat.h"
#include "BALogChanges.h"
#include "BAXmlText.h"
#include "VorkAtomicFile.h"
#include "VorkFaultSeam.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "XmlOwnership.h"

using VorkSupport::FileHandle;
using VorkSupport::VorkAtomicFile;
using VorkSupport::VorkFaultSeam;

namespace {

std::uint64_t randomNumber() {
    std::uint64_t value = 0;
    if (::getrandom(&value, sizeof value, 0) == static_cast<ssize_t>(sizeof value)) return value;
    std::random_device device;
    return (std::uint64_t(device()) << 32) | device();
}

// At most limit bytes of the file; false when it cannot be read.
bool readFile(const std::string& fileName, std::string& bytes, std::uint64_t limit) {
    FileHandle file(fileName, O_RDONLY);
    if (!file.isOpen()) return false;
    bytes.clear();
    char block[65536];
    while (bytes.size() < limit) {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, limit - bytes.size()));
        const ssize_t count = file.read(block, wanted);
        if (count < 0) return false;
        if (count == 0) return true;
        bytes.append(block, static_cast<std::size_t>(count));
    }
    return true;
}

// Applies the journal's records to doc, the parsed snapshot, in order.
void replay(xmlDocPtr doc, const std::string& snapshot, const std::string& journal, const std::string& name) {
    BAJournalFormat::Reader reader(journal, snapshot);
    if (!reader.matches()) {
        if (!journal.empty()) VORK_LOG(4, "BAJournal::replay: no journal of this snapshot: |" << name << "|");
        return;
    }
    std::vector<xmlNodePtr> slots = BALogDiff::slotsOf(doc);
    std::string payload;
    while (reader.next(payload)) {
        if (!BALogDiff::apply(doc, payload, slots)) reader.reject();
    }
    if (reader.droppedBytes() != 0) {
        VORK_LOG(1, "BAJournal::replay: |" << name << "| ends in " << reader.reason() << ": its "
                                           << reader.droppedBytes() << " bytes from " << reader.droppedFrom()
                                           << " are ignored");
    }
}

} // namespace

std::string BAJournal::journalName(const std::string& fileName) { return fileName + ".journal"; }

xmlDocPtr BAJournal::load(const std::string& fileName) {
    VORK_TRACE("BAJournal::load");
    std::string snapshot;
    if (fileName.empty() || !readFile(fileName, snapshot, UINT64_MAX)) return nullptr;
    XmlDoc parsed(BAXmlText::parseText(snapshot));
    if (parsed == nullptr || xmlDocGetRootElement(parsed.get()) == nullptr) return nullptr;
    xmlDocPtr doc = parsed.release();
    // No journal of this snapshot is longer than its limit allows; a longer
    // one is read only that far.
    const std::uint64_t most =
        BAJournalFormat::kHeaderSize + BAJournalFormat::limitFor(snapshot.size()) + BAJournalFormat::kFrameSize;
    std::string journal;
    if (readFile(journalName(fileName), journal, most)) replay(doc, snapshot, journal, journalName(fileName));
    return doc;
}

void BAJournal::forget() {
    m_diff.reset();
    m_journal.reset();
    m_bUnflushed = false;
    m_bNamed = false;
}

void BAJournal::snapshotWritten(xmlDocPtr doc, const std::string& fileName, const std::string& text) {
    VORK_TRACE("BAJournal::snapshotWritten");
    forget();
    // A journal left beside the new snapshot names the old one: ignored by
    // every load, so its removal need not be durable.
    (void)VorkFaultSeam::unlink(journalName(fileName));
    if (!m_diff.snapshot(doc)) return;
    m_nSnapshotSize = text.size();
    m_nSnapshotCrc = BAJournalFormat::crc(text);
    m_nJournalNumber = randomNumber();
    m_nJournalBytes = 0;
}

BAJournal::Append BAJournal::append(xmlDocPtr doc, const BALogChanges& changes, const std::string& fileName,
                                    bool privateFile, bool durable) {
    VORK_TRACE("BAJournal::append");
    if (!m_diff.bound() || doc == nullptr) return Append::SnapshotDue;
    struct stat status;
    if (m_journal && (::fstat(m_journal->get(), &status) != 0 || status.st_nlink == 0)) {
        // Someone folded or removed the journal meanwhile: records written
        // to it now would be lost.
        forget();
        return Append::SnapshotDue;
    }
    BALogDiff::Pending pending;
    if (!m_diff.describe(doc, changes, pending)) return Append::SnapshotDue;
    if (pending.payload.empty()) {
        if (!durable || !m_bUnflushed) return Append::Done;
        if (!VorkAtomicFile::flush(m_journal->get(), journalName(fileName))) {
            forget();
            return Append::Failed;
        }
        m_bUnflushed = false;
        return Append::Done;
    }
    const std::string record = BAJournalFormat::record(m_nJournalNumber, pending.payload);
    if (m_nJournalBytes + record.size() > BAJournalFormat::limitFor(m_nSnapshotSize) ||
        pending.payload.size() > 0xffffffffu) {
        VORK_LOG(4, "BAJournal::append: the journal would outgrow the snapshot of |" << fileName << "|");
        return Append::SnapshotDue;
    }
    if (!writeRecord(fileName, record, privateFile, durable)) {
        forget();
        return Append::Failed;
    }
    m_diff.commit(pending);
    m_nJournalBytes += record.size();
    return Append::Done;
}

bool BAJournal::writeRecord(const std::string& fileName, const std::string& record, bool privateFile, bool durable) {
    const std::string name = journalName(fileName);
    std::string bytes = record;
    if (!m_journal) {
        m_journal.emplace(VorkFaultSeam::openAt(AT_FDCWD, name, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_NOFOLLOW,
                                                privateFile ? 0600 : 0666));
        if (!m_journal->isOpen()) {
            VORK_LOG(1, "BAJournal::writeRecord: cannot create |" << name << "|, errno " << errno);
            m_journal.reset();
            return false;
        }
        bytes = BAJournalFormat::header(m_nSnapshotSize, m_nSnapshotCrc, m_nJournalNumber) + record;
    }
    if (!VorkAtomicFile::append(m_journal->get(), bytes, name, durable)) return false;
    m_bUnflushed = !durable;
    if (!durable || m_bNamed) return true;
    // The new journal's name must outlive a power cut as its records do.
    if (!VorkAtomicFile::syncDirectory(name)) {
        VORK_LOG(1, "BAJournal::writeRecord: cannot flush the directory of |" << name << "|, errno " << errno);
        return false;
    }
    m_bNamed = true;
    return true;
}
