#include "IException.h"

#include <utility>

namespace smbios {

IException::IException(std::string messageTemplate) : m_sTemplate(std::move(messageTemplate)) {}

IException::~IException() = default;

IException& IException::setParameter(const std::string& name, std::int64_t value) {
    m_intParameters[name] = value;
    m_sMessage.clear();
    return *this;
}

IException& IException::setParameter(const std::string& name, const std::string& value) {
    m_stringParameters[name] = value;
    m_sMessage.clear();
    return *this;
}

IException& IException::setParameter(const std::string& name, const char* value) {
    return setParameter(name, std::string(value ? value : ""));
}

bool IException::hasIntParameter(const std::string& name) const { return m_intParameters.count(name) != 0; }

std::int64_t IException::intParameter(const std::string& name) const {
    auto it = m_intParameters.find(name);
    return it == m_intParameters.end() ? 0 : it->second;
}

bool IException::hasStringParameter(const std::string& name) const { return m_stringParameters.count(name) != 0; }

std::string IException::stringParameter(const std::string& name) const {
    auto it = m_stringParameters.find(name);
    return it == m_stringParameters.end() ? std::string() : it->second;
}

const char* IException::what() const noexcept {
    try {
        if (!m_sMessage.empty()) return m_sMessage.c_str();
        std::string out;
        out.reserve(m_sTemplate.size());
        const std::string& t = m_sTemplate;
        std::size_t i = 0;
        while (i < t.size()) {
            if (t[i] != '%') {
                out += t[i++];
                continue;
            }
            if (i + 1 < t.size() && t[i + 1] == '%') {
                out += '%';
                i += 2;
                continue;
            }
            if (i + 1 < t.size() && t[i + 1] == '(') {
                std::size_t close = t.find(')', i + 2);
                if (close != std::string::npos && close + 1 < t.size() &&
                    (t[close + 1] == 'i' || t[close + 1] == 's')) {
                    std::string name = t.substr(i + 2, close - i - 2);
                    bool wantInt = t[close + 1] == 'i';
                    auto iv = m_intParameters.find(name);
                    auto sv = m_stringParameters.find(name);
                    if (wantInt && iv != m_intParameters.end()) {
                        out += std::to_string(iv->second);
                    } else if (!wantInt && sv != m_stringParameters.end()) {
                        out += sv->second;
                    } else if (iv != m_intParameters.end()) {
                        out += std::to_string(iv->second);
                    } else if (sv != m_stringParameters.end()) {
                        out += sv->second;
                    } else {
                        out.append(t, i, close + 2 - i); // no such parameter: keep the placeholder
                    }
                    i = close + 2;
                    continue;
                }
            }
            out += t[i++];
        }
        m_sMessage = std::move(out);
        return m_sMessage.c_str();
    } catch (...) {
        return m_sTemplate.c_str();
    }
}

} // namespace smbios
