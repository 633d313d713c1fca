#include "BALogSections.h"

#include "BALogChanges.h"
#include "VorkFaultSeam.h"
#include "XmlOwnership.h"

namespace {

const xmlChar* toXml(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

} // namespace

const char* BALogSections::nameOf(Section section) {
    switch (section) {
        case SMStatus: return "SMStatus";
        case Settings: return "BundleSettings";
        case Bundle: return "Bundle";
        case UserInfo: return "UserInfo";
        case BundlePackage: return "BundlePackage";
        case Validation: return "Validation";
        case Progress: return "Progress";
        case RebootCount: return "rebootCount";
    }
    return "";
}

bool BALogSections::inSettings(Section section) {
    return section == Bundle || section == UserInfo || section == BundlePackage;
}

void BALogSections::index(xmlNodePtr parent, bool settings) {
    for (xmlNodePtr child = parent->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        for (int i = 0; i < kCount; ++i) {
            const Section section = static_cast<Section>(i);
            if (inSettings(section) == settings && m_elements[i] == nullptr &&
                xmlStrEqual(child->name, toXml(nameOf(section))))
                m_elements[i] = child;
        }
    }
}

void BALogSections::attach(xmlDocPtr doc) {
    m_pDocument = doc;
    m_elements.fill(nullptr);
    xmlNodePtr root = doc != nullptr ? xmlDocGetRootElement(doc) : nullptr;
    m_pRoot = root != nullptr && xmlStrEqual(root->name, toXml("BundleLog")) ? root : nullptr;
    if (m_pRoot == nullptr) return;
    index(m_pRoot, false);
    if (m_elements[Settings] != nullptr) index(m_elements[Settings], true);
}

xmlNodePtr BALogSections::create(Section section) {
    xmlNodePtr parent = inSettings(section) ? m_elements[Settings] : m_pRoot;
    if (parent == nullptr || m_elements[section] != nullptr) return nullptr;
    xmlNodePtr element = VorkSupport::VorkFaultSeam::allocationFails()
                             ? nullptr
                             : xmlNewDocNode(m_pDocument, nullptr, toXml(nameOf(section)), nullptr);
    if (element == nullptr) return nullptr;
    xmlAddChild(parent, element);
    if (parent == m_pRoot) m_changes.appended(element);
    m_elements[section] = element;
    return element;
}

void BALogSections::remove(Section section) {
    xmlNodePtr element = m_elements[section];
    if (element == nullptr) return;
    xmlNodePtr parent = element->parent;
    if (parent == m_pRoot) m_changes.removed(element);
    xmlUnlinkNode(element);
    const XmlNode unlinked(element);
    m_elements[section] = nullptr;
    // A log read from a file may hold another element of that name.
    for (xmlNodePtr child = parent != nullptr ? parent->children : nullptr; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && xmlStrEqual(child->name, toXml(nameOf(section)))) {
            m_elements[section] = child;
            break;
        }
    }
    if (section == Settings) {
        m_elements[Bundle] = m_elements[UserInfo] = m_elements[BundlePackage] = nullptr;
        if (m_elements[Settings] != nullptr) index(m_elements[Settings], true);
    }
}
