#include "BALogDiff.h"

#include <memory>

#include "BALogChanges.h"
#include "BAXmlText.h"
#include "XmlOwnership.h"

namespace {

const xmlChar* toXml(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

std::uintptr_t keyOf(xmlNodePtr element) { return reinterpret_cast<std::uintptr_t>(element); }

bool isEntry(xmlNodePtr element) { return xmlStrEqual(element->name, toXml("Package")); }

std::vector<xmlNodePtr> elementChildren(xmlNodePtr parent) {
    std::vector<xmlNodePtr> elements;
    for (xmlNodePtr child = parent != nullptr ? parent->children : nullptr; child != nullptr; child = child->next)
        if (child->type == XML_ELEMENT_NODE) elements.push_back(child);
    return elements;
}

// The root element alone with its attributes, as "<BundleLog .../>".
bool attributesText(xmlDocPtr doc, xmlNodePtr root, std::string& text) {
    const XmlNode shallow(xmlDocCopyNode(root, doc, 2));
    return shallow && BAXmlText::serialiseElement(doc, shallow.get(), text);
}

void putElement(std::string& payload, std::size_t slot, const std::string& text) {
    payload += "<Put slot=\"" + std::to_string(slot) + "\">" + text + "</Put>";
}

// A slot number: decimal digits only, within the slots a record may name.
bool readSlot(xmlNodePtr element, std::size_t& slot) {
    const XmlString value(xmlGetProp(element, toXml("slot")));
    if (value == nullptr) return false;
    const std::string text(reinterpret_cast<const char*>(value.get()));
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

} // namespace

void BALogDiff::reset() {
    m_bBound = false;
    m_slots.clear();
    m_sectionSlots.clear();
    m_slotOf.clear();
    m_sRootText.clear();
}

void BALogDiff::addSlot(xmlNodePtr element, std::string text) {
    Slot slot;
    slot.entry = isEntry(element);
    slot.element = element;
    if (!slot.entry) {
        slot.text = std::move(text);
        m_sectionSlots.push_back(m_slots.size());
    }
    m_slotOf[keyOf(element)] = m_slots.size();
    m_slots.push_back(std::move(slot));
}

bool BALogDiff::snapshot(xmlDocPtr doc) {
    reset();
    xmlNodePtr root = doc != nullptr ? xmlDocGetRootElement(doc) : nullptr;
    if (root == nullptr || !attributesText(doc, root, m_sRootText)) return false;
    for (xmlNodePtr element : elementChildren(root)) {
        std::string text;
        if (!isEntry(element) && !BAXmlText::serialiseElement(doc, element, text)) {
            reset();
            return false;
        }
        addSlot(element, std::move(text));
    }
    m_bBound = true;
    return true;
}

// The root's last element must be the last one appended, or the last slot
// still there: anything else was put where no record can say.
bool BALogDiff::lastElementIsKnown(xmlNodePtr root, const BALogChanges& changes,
                                   const std::vector<bool>& droppedNow) const {
    xmlNodePtr last = xmlLastElementChild(root);
    if (!changes.appendedElements().empty()) return last == changes.appendedElements().back();
    for (std::size_t i = m_slots.size(); i-- > 0;) {
        if (m_slots[i].alive && !droppedNow[i]) return last == m_slots[i].element;
    }
    return last == nullptr;
}

bool BALogDiff::describe(xmlDocPtr doc, const BALogChanges& changes, Pending& pending) const {
    if (!m_bBound) return false;
    xmlNodePtr root = doc != nullptr ? xmlDocGetRootElement(doc) : nullptr;
    if (root == nullptr || !attributesText(doc, root, pending.rootText)) return false;
    if (pending.rootText != m_sRootText) pending.payload += pending.rootText;

    std::vector<bool> droppedNow(m_slots.size(), false);
    for (std::uintptr_t key : changes.removedElements()) {
        const auto known = m_slotOf.find(key);
        if (known == m_slotOf.end() || !m_slots[known->second].alive || droppedNow[known->second]) continue;
        droppedNow[known->second] = true;
        pending.payload += "<Drop slot=\"" + std::to_string(known->second) + "\"/>";
        pending.dropped.push_back(known->second);
    }
    if (!lastElementIsKnown(root, changes, droppedNow)) return false;
    std::string text;
    for (std::size_t index : m_sectionSlots) {
        const Slot& slot = m_slots[index];
        if (!slot.alive || droppedNow[index]) continue;
        if (!BAXmlText::serialiseElement(doc, slot.element, text)) return false;
        if (text == slot.text) continue;
        putElement(pending.payload, index, text);
        pending.rewritten.emplace_back(index, text);
    }
    for (xmlNodePtr entry : changes.changedEntries()) {
        const auto known = m_slotOf.find(keyOf(entry));
        if (known == m_slotOf.end()) {
            // Only an entry appended since the last save may be unknown.
            bool appended = false;
            for (xmlNodePtr element : changes.appendedElements()) appended = appended || element == entry;
            if (!appended) return false;
            continue;
        }
        const Slot& slot = m_slots[known->second];
        if (!slot.alive || droppedNow[known->second] || !slot.entry) return false;
        if (!BAXmlText::serialiseElement(doc, entry, text)) return false;
        putElement(pending.payload, known->second, text);
        pending.rewritten.emplace_back(known->second, std::string());
    }
    std::size_t next = m_slots.size();
    for (xmlNodePtr element : changes.appendedElements()) {
        if (!BAXmlText::serialiseElement(doc, element, text)) return false;
        putElement(pending.payload, next++, text);
        pending.added.emplace_back(element, isEntry(element) ? std::string() : text);
    }
    if (!pending.payload.empty()) pending.payload = "<Save>" + pending.payload + "</Save>";
    return true;
}

void BALogDiff::commit(Pending& pending) {
    m_sRootText = std::move(pending.rootText);
    for (std::size_t index : pending.dropped) {
        Slot& slot = m_slots[index];
        slot.alive = false;
        slot.text.clear();
        m_slotOf.erase(keyOf(slot.element));
        slot.element = nullptr;
    }
    for (auto& [index, text] : pending.rewritten) {
        if (!m_slots[index].entry) m_slots[index].text = std::move(text);
    }
    for (auto& [element, text] : pending.added) addSlot(element, std::move(text));
}

std::vector<xmlNodePtr> BALogDiff::slotsOf(xmlDocPtr doc) {
    return elementChildren(doc != nullptr ? xmlDocGetRootElement(doc) : nullptr);
}

bool BALogDiff::apply(xmlDocPtr doc, const std::string& payload, std::vector<xmlNodePtr>& slots) {
    const XmlDoc record(BAXmlText::parseText(payload));
    xmlNodePtr save = record ? xmlDocGetRootElement(record.get()) : nullptr;
    xmlNodePtr root = xmlDocGetRootElement(doc);
    if (save == nullptr || root == nullptr || !xmlStrEqual(save->name, toXml("Save")) || !recordFits(save, slots))
        return false;
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
    return true;
}
