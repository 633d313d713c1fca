#pragma once
#include <map>
#include <string>
#include <vector>

namespace VorkSupport {

// A key/value list built from "key=value" entries.
//  - An entry is split at its FIRST separator: the key is the text before it,
//    the value all the rest (so a value may itself hold the separator).
//  - An entry without the separator is ignored.
//  - When a key comes twice, the first value wins.
//  - Keys match byte for byte (case matters).
template <typename S>
class VorkProperties {
public:
    using value_type = typename S::value_type;

    // Returns false when the entry was ignored (no separator, or a repeated key).
    bool addProperty(const S& entry, value_type separator) {
        auto pos = entry.find(separator);
        if (pos == S::npos) return false;
        return m_entries.emplace(entry.substr(0, pos), entry.substr(pos + 1)).second;
    }
    // Sets key to value, replacing an existing value.
    void setProperty(const S& key, const S& value) { m_entries[key] = value; }

    bool getPropertyValue(const S& key, S& value) const {
        auto it = m_entries.find(key);
        if (it == m_entries.end()) return false;
        value = it->second;
        return true;
    }
    S getProperty(const S& key, const S& defaultValue) const {
        auto it = m_entries.find(key);
        return it == m_entries.end() ? defaultValue : it->second;
    }
    bool hasProperty(const S& key) const { return m_entries.count(key) != 0; }
    std::size_t size() const { return m_entries.size(); }
    std::vector<S> keys() const {
        std::vector<S> result;
        for (const auto& [k, v] : m_entries) result.push_back(k);
        return result;
    }

private:
    std::map<S, S> m_entries;
};

} // namespace VorkSupport
