#include "BAJournal.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <random>

#include "BAAnyXMLDoc.h"
#include "VorkAtomicFile.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

using VorkSupport::FileHandle;
using VorkSupport::VorkAtomicFile;

static_assert(sizeof(void*) >= 8, "an element's slot key needs 64 bits");

namespace {

const char kMagic[8] = {'P', 'L', 'J', 'R', 'N', 'L', '0', '1'};
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kFrameSize = 8;
// Below this size the journal is never folded into the snapshot: a small
// log would otherwise be rewritten after nearly every save.
constexpr std::uint64_t kMinimumJournalBytes = 64 * 1024;

// Every snapshot gets a generation of its own; an element's key names the
// generation and its slot, so a key of another snapshot is never mistaken for
// one of this.
std::atomic<std::uint32_t> g_lastGeneration{0};

const xmlChar* toXml(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

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

std::uint32_t crcOf(const std::string& text, std::uint32_t crc = 0) {
    return crcOf(text.data(), text.size(), crc);
}

// The checksum of a record covers its journal's number, its length and its
// payload, so a record left over from another journal never passes.
std::uint32_t recordCrc(std::uint64_t journalNumber, const char* length, const std::string& payload) {
    std::string number;
    putNumber(number, journalNumber, 8);
    return crcOf(payload, crcOf(length, 4, crcOf(number)));
}

std::string framedRecord(std::uint64_t journalNumber, const std::string& payload) {
    std::string record;
    putNumber(record, payload.size(), 4);
    putNumber(record, recordCrc(journalNumber, record.data(), payload), 4);
    return record + payload;
}

// The payload of the record at offset; false when it is torn or fails its
// checksum.
bool readRecord(const std::string& journal, std::size_t offset, std::uint64_t journalNumber, std::string& payload) {
    if (journal.size() - offset < kFrameSize) return false;
    const std::size_t length = getNumber(journal, offset, 4);
    if (length > journal.size() - offset - kFrameSize) return false;
    payload.assign(journal, offset + kFrameSize, length);
    return getNumber(journal, offset + 4, 4) == recordCrc(journalNumber, journal.data() + offset, payload);
}

// Header: the magic, the snapshot's size (8 bytes) and CRC-32 (4), the
// journal's number (8), the CRC-32 of the 28 bytes before (4).
std::string header(std::uint64_t snapshotSize, std::uint32_t snapshotCrc, std::uint64_t journalNumber) {
    std::string text(kMagic, sizeof kMagic);
    putNumber(text, snapshotSize, 8);
    putNumber(text, snapshotCrc, 4);
    putNumber(text, journalNumber, 8);
    putNumber(text, crcOf(text), 4);
    return text;
}

// Whether the journal was written for this snapshot.
bool journalOf(const std::string& journal, const std::string& snapshot) {
    return journal.size() >= kHeaderSize && std::memcmp(journal.data(), kMagic, sizeof kMagic) == 0 &&
           getNumber(journal, 28, 4) == crcOf(journal.data(), 28) && getNumber(journal, 8, 8) == snapshot.size() &&
           getNumber(journal, 16, 4) == crcOf(snapshot);
}

std::uint64_t randomNumber() {
    std::uint64_t value = 0;
    if (::getrandom(&value, sizeof value, 0) == static_cast<ssize_t>(sizeof value)) return value;
    std::random_device device;
    return (std::uint64_t(device()) << 32) | device();
}

bool readWhole(const std::string& fileName, std::string& bytes) {
    FileHandle file(fileName, O_RDONLY);
    if (!file.isOpen()) return false;
    bytes.clear();
    char block[65536];
    for (;;) {
        const ssize_t count = file.read(block, sizeof block);
        if (count < 0) return false;
        if (count == 0) return true;
        bytes.append(block, static_cast<std::size_t>(count));
    }
}

bool isPackage(xmlNodePtr element) {
    return xmlStrEqual(element->name, toXml("Package"));
}

std::vector<xmlNodePtr> elementChildren(xmlNodePtr parent) {
    std::vector<xmlNodePtr> elements;
    for (xmlNodePtr child = parent != nullptr ? parent->children : nullptr; child != nullptr; child = child->next)
        if (child->type == XML_ELEMENT_NODE) elements.push_back(child);
    return elements;
}

// The root element alone with its attributes, as "<BundleLog .../>".
bool attributesText(xmlDocPtr doc, xmlNodePtr root, std::string& text) {
    const std::unique_ptr<xmlNode, decltype(&xmlFreeNode)> shallow(xmlDocCopyNode(root, doc, 2), &xmlFreeNode);
    return shallow && BAAnyXMLDoc::serialiseElement(doc, shallow.get(), text);
}

// A slot number: decimal digits only, within the slots a record may name.
bool readSlot(xmlNodePtr element, std::size_t& slot) {
    xmlChar* value = xmlGetProp(element, toXml("slot"));
    if (value == nullptr) return false;
    const std::string text(reinterpret_cast<const char*>(value));
    xmlFree(value);
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    slot = std::stoul(text);
    return true;
}

xmlNodePtr onlyElement(xmlNodePtr parent) {
    const std::vector<xmlNodePtr> elements = elementChildren(parent);
    return elements.size() == 1 ? elements.front() : nullptr;
}

// Whether every operation of a record fits the slots, so that a record is
// applied whole or not at all.
bool recordFits(xmlNodePtr save, const std::vector<xmlNodePtr>& slots) {
    std::vector<bool> alive(slots.size());
    for (std::size_t i = 0; i < slots.size(); ++i) alive[i] = slots[i] != nullptr;
    for (xmlNodePtr op : elementChildren(save)) {
        std::size_t slot = 0;
        if (xmlStrEqual(op->name, toXml("BundleLog"))) continue;
        if (!readSlot(op, slot)) return false;
        if (xmlStrEqual(op->name, toXml("Put")) && onlyElement(op) != nullptr) {
            if (slot == alive.size()) alive.push_back(true);
            else if (slot > alive.size() || !alive[slot]) return false;
        } else if (xmlStrEqual(op->name, toXml("Drop")) && slot < alive.size() && alive[slot]) {
            alive[slot] = false;
        } else {
            return false;
        }
    }
    return true;
}

void applyRecord(xmlDocPtr doc, xmlNodePtr save, std::vector<xmlNodePtr>& slots) {
    xmlNodePtr root = xmlDocGetRootElement(doc);
    for (xmlNodePtr op : elementChildren(save)) {
        std::size_t slot = 0;
        if (xmlStrEqual(op->name, toXml("BundleLog"))) {
            xmlFreePropList(root->properties);
            root->properties = xmlCopyPropList(root, op->properties);
            continue;
        }
        readSlot(op, slot);
        if (xmlStrEqual(op->name, toXml("Drop"))) {
            xmlUnlinkNode(slots[slot]);
            xmlFreeNode(slots[slot]);
            slots[slot] = nullptr;
            continue;
        }
        xmlNodePtr copy = xmlDocCopyNode(onlyElement(op), doc, 1);
        if (slot < slots.size()) {
            xmlFreeNode(xmlReplaceNode(slots[slot], copy));
            slots[slot] = copy;
        } else {
            xmlAddChild(root, copy);
            slots.push_back(copy);
        }
    }
}

// Applies the journal's records to doc, the parsed snapshot, in order, up
// to the first that is torn, fails its checksum or does not fit.
void replay(xmlDocPtr doc, const std::string& snapshot, const std::string& journal, const std::string& name) {
    if (!journalOf(journal, snapshot)) {
        VORK_LOG(4, "BAJournal::load: no journal of this snapshot: |" << name << "|");
        return;
    }
    const std::uint64_t number = getNumber(journal, 20, 8);
    std::vector<xmlNodePtr> slots = elementChildren(xmlDocGetRootElement(doc));
    std::size_t offset = kHeaderSize;
    std::string payload;
    while (readRecord(journal, offset, number, payload)) {
        const std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> record(BAAnyXMLDoc::parseText(payload), &xmlFreeDoc);
        xmlNodePtr save = record ? xmlDocGetRootElement(record.get()) : nullptr;
        if (save == nullptr || !xmlStrEqual(save->name, toXml("Save")) || !recordFits(save, slots)) break;
        applyRecord(doc, save, slots);
        offset += kFrameSize + payload.size();
    }
    if (offset != journal.size()) {
        VORK_LOG(1, "BAJournal::load: |" << name << "| ends in a save that was not completed or is damaged: its "
                                         << journal.size() - offset << " bytes from " << offset << " are ignored");
    }
}

} // namespace

std::string BAJournal::journalName(const std::string& fileName) {
    return fileName + ".journal";
}

bool BAJournal::exists(const std::string& fileName) {
    struct stat status;
    return ::lstat(journalName(fileName).c_str(), &status) == 0;
}

void BAJournal::remove(const std::string& fileName) {
    ::unlink(journalName(fileName).c_str());
}

xmlDocPtr BAJournal::load(const std::string& fileName) {
    VORK_TRACE("BAJournal::load");
    forget();
    std::string snapshot;
    if (fileName.empty() || !readWhole(fileName, snapshot)) return nullptr;
    xmlDocPtr doc = BAAnyXMLDoc::parseText(snapshot);
    if (doc == nullptr || xmlDocGetRootElement(doc) == nullptr) {
        if (doc != nullptr) xmlFreeDoc(doc);
        return nullptr;
    }
    std::string journal;
    if (readWhole(journalName(fileName), journal)) replay(doc, snapshot, journal, journalName(fileName));
    doc->_private = this;
    return doc;
}

void BAJournal::forget() {
    m_bBound = false;
    m_journal.reset();
}

void BAJournal::noteChange(xmlNodePtr node) {
    if (node == nullptr || node->doc == nullptr || node->doc->_private == nullptr) return;
    xmlNodePtr root = xmlDocGetRootElement(node->doc);
    xmlNodePtr top = node;
    while (top->parent != nullptr && top->parent != root) top = top->parent;
    if (top->parent == root && root != nullptr) static_cast<BAJournal*>(node->doc->_private)->markChanged(top);
}

void BAJournal::markChanged(xmlNodePtr top) {
    std::size_t index = 0;
    if (slotOf(top, index)) m_slots[index].changed = true;
}

bool BAJournal::slotOf(xmlNodePtr element, std::size_t& index) const {
    const auto key = reinterpret_cast<std::uintptr_t>(element->_private);
    if (key == 0 || (key >> 32) != m_nGeneration) return false;
    index = (key & 0xffffffffu) - 1;
    return index < m_slots.size();
}

void BAJournal::assignSlot(xmlNodePtr element, std::string text) {
    const std::uintptr_t key = (std::uintptr_t(m_nGeneration) << 32) | (m_slots.size() + 1);
    element->_private = reinterpret_cast<void*>(key);
    Slot slot;
    slot.marked = isPackage(element);
    if (!slot.marked) slot.text = std::move(text);
    m_slots.push_back(std::move(slot));
}

void BAJournal::snapshotWritten(xmlDocPtr doc, const std::string& fileName, const std::string& text) {
    VORK_TRACE("BAJournal::snapshotWritten");
    forget();
    remove(fileName);
    xmlNodePtr root = doc != nullptr ? xmlDocGetRootElement(doc) : nullptr;
    if (root == nullptr || !attributesText(doc, root, m_sRootText)) return;
    m_nGeneration = ++g_lastGeneration;
    m_slots.clear();
    for (xmlNodePtr element : elementChildren(root)) {
        std::string elementText;
        if (!isPackage(element) && !BAAnyXMLDoc::serialiseElement(doc, element, elementText)) return;
        assignSlot(element, std::move(elementText));
    }
    m_nSnapshotSize = text.size();
    m_nSnapshotCrc = crcOf(text);
    m_nJournalNumber = randomNumber();
    m_nJournalBytes = 0;
    doc->_private = this;
    m_bBound = true;
}

bool BAJournal::describeElement(xmlDocPtr doc, xmlNodePtr element, std::size_t index, Changes& changes) {
    Slot& slot = m_slots[index];
    if (slot.marked && !slot.changed) return true;
    std::string text;
    if (!BAAnyXMLDoc::serialiseElement(doc, element, text)) return false;
    if (!slot.marked && text == slot.text) return true;
    changes.payload += "<Put slot=\"" + std::to_string(index) + "\">" + text + "</Put>";
    changes.rewritten.emplace_back(index, slot.marked ? std::string() : std::move(text));
    return true;
}

// What changed since the last save, as a record's payload (empty when
// nothing did). False when a record cannot say it: an element put anywhere
// but at the end, or one this journal does not know.
bool BAJournal::describeChanges(xmlDocPtr doc, Changes& changes) {
    xmlNodePtr root = xmlDocGetRootElement(doc);
    if (root == nullptr || !attributesText(doc, root, changes.rootText)) return false;
    if (changes.rootText != m_sRootText) changes.payload += changes.rootText;
    std::vector<bool> present(m_slots.size(), false);
    std::size_t next = m_slots.size();
    bool appending = false;
    std::size_t index = 0;
    std::size_t following = 0;  // the least slot the next known element may have
    for (xmlNodePtr element = root->children; element != nullptr; element = element->next) {
        if (element->type != XML_ELEMENT_NODE) continue;
        if (!slotOf(element, index)) {
            std::string text;
            if (!BAAnyXMLDoc::serialiseElement(doc, element, text)) return false;
            changes.payload += "<Put slot=\"" + std::to_string(next++) + "\">" + text + "</Put>";
            changes.added.emplace_back(element, isPackage(element) ? std::string() : std::move(text));
            appending = true;
            continue;
        }
        if (appending || index < following || !m_slots[index].alive) return false;
        present[index] = true;
        following = index + 1;
        if (!describeElement(doc, element, index, changes)) return false;
    }
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        if (!m_slots[i].alive || present[i]) continue;
        changes.payload += "<Drop slot=\"" + std::to_string(i) + "\"/>";
        changes.dropped.push_back(i);
    }
    if (!changes.payload.empty()) changes.payload = "<Save>" + changes.payload + "</Save>";
    return true;
}

void BAJournal::commit(Changes& changes, std::size_t recordSize) {
    m_sRootText = std::move(changes.rootText);
    for (auto& [element, text] : changes.added) assignSlot(element, std::move(text));
    for (auto& [index, text] : changes.rewritten) {
        m_slots[index].changed = false;
        m_slots[index].text = std::move(text);
    }
    for (std::size_t index : changes.dropped) {
        m_slots[index].alive = false;
        m_slots[index].text.clear();
    }
    m_nJournalBytes += recordSize;
}

BAJournal::Append BAJournal::append(xmlDocPtr doc, const std::string& fileName, bool privateFile) {
    VORK_TRACE("BAJournal::append");
    if (!m_bBound || doc == nullptr || doc->_private != this) return Append::SnapshotDue;
    struct stat status;
    if (m_journal && (::fstat(m_journal->get(), &status) != 0 || status.st_nlink == 0)) {
        // Someone folded or removed the journal meanwhile: records written
        // to it now would be lost.
        forget();
        return Append::SnapshotDue;
    }
    Changes changes;
    if (!describeChanges(doc, changes)) return Append::SnapshotDue;
    if (changes.payload.empty()) return Append::Done;

    const std::string record = framedRecord(m_nJournalNumber, changes.payload);
    if (m_nJournalBytes + record.size() > std::max(m_nSnapshotSize, kMinimumJournalBytes) ||
        changes.payload.size() > 0xffffffffu) {
        VORK_LOG(4, "BAJournal::append: the journal outgrew the snapshot of |" << fileName << "|");
        return Append::SnapshotDue;
    }
    if (!writeRecord(fileName, record, privateFile)) {
        forget();
        return Append::Failed;
    }
    commit(changes, record.size());
    return Append::Done;
}

bool BAJournal::openJournal(const std::string& fileName, bool privateFile) {
    m_journal.emplace(journalName(fileName), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_NOFOLLOW,
                      privateFile ? 0600 : 0666);
    return m_journal->isOpen();
}

bool BAJournal::writeRecord(const std::string& fileName, const std::string& record, bool privateFile) {
    const std::string name = journalName(fileName);
    if (m_journal) return VorkAtomicFile::append(m_journal->get(), record, name);
    if (!openJournal(fileName, privateFile)) {
        VORK_LOG(1, "BAJournal::append: cannot create |" << name << "|, errno " << errno);
        return false;
    }
    // The new journal's name must outlive a power cut as its records do.
    const std::string first = header(m_nSnapshotSize, m_nSnapshotCrc, m_nJournalNumber) + record;
    return VorkAtomicFile::append(m_journal->get(), first, name) && VorkAtomicFile::syncDirectory(name);
}
