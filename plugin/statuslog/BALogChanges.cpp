#include "BALogChanges.h"

#include <algorithm>

void BALogChanges::removed(xmlNodePtr element) {
    m_changed.erase(element);
    const auto appended = std::find(m_appended.begin(), m_appended.end(), element);
    if (appended != m_appended.end()) {
        m_appended.erase(appended);
        return;
    }
    m_removed.push_back(reinterpret_cast<std::uintptr_t>(element));
}

void BALogChanges::clear() {
    m_appended.clear();
    m_removed.clear();
    m_changed.clear();
}
