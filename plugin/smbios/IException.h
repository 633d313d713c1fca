#pragma once
#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <utility>

namespace smbios {

// Root of every failure of the memory reader and the SMBIOS table.
//
// The message is a template: what() replaces each "%(name)i" by the integer
// parameter and each "%(name)s" by the text parameter of that name, and "%%"
// by "%". A placeholder without a matching parameter is left as it stands.
class IException : public std::exception {
public:
    explicit IException(std::string messageTemplate);
    ~IException() override;
    IException(const IException&) = default;
    IException& operator=(const IException&) = default;

    const char* what() const noexcept override;

    // The message before the parameters were put in.
    const std::string& messageTemplate() const { return m_sTemplate; }

    IException& setParameter(const std::string& name, std::int64_t value);
    IException& setParameter(const std::string& name, const std::string& value);
    IException& setParameter(const std::string& name, const char* value);

    bool hasIntParameter(const std::string& name) const;
    std::int64_t intParameter(const std::string& name) const;
    bool hasStringParameter(const std::string& name) const;
    std::string stringParameter(const std::string& name) const;

private:
    std::string m_sTemplate;
    std::map<std::string, std::int64_t> m_intParameters;
    std::map<std::string, std::string> m_stringParameters;
    mutable std::string m_sMessage;
};

} // namespace smbios
