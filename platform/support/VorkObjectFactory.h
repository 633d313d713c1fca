#pragma once
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "VorkObjectBase.h"
#include "VorkSmartPointer.h"

namespace VorkSupport {

class VorkObjectFactoryRegistration;

// Registry of creatable classes by name. Names match byte for byte (case
// matters). getRegisteredClasses() lists the names in ascending byte order.
// The factory does not own the registrations.
class VorkObjectFactory {
public:
    VorkObjectFactory();
    ~VorkObjectFactory();

    // Adds (or replaces) the registration under name.
    void add(const std::string& name, const VorkObjectFactoryRegistration& registration);
    // Removes the registration of that name; nothing happens for an unknown name.
    void remove(const std::string& name);
    // A new object of the registration of that name, or an empty pointer.
    VorkSmartPointer<VorkObjectBase> construct(const std::string& name) const;
    std::vector<std::string> getRegisteredClasses() const;

    VorkObjectFactory(const VorkObjectFactory&) = delete;
    VorkObjectFactory& operator=(const VorkObjectFactory&) = delete;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, const VorkObjectFactoryRegistration*> m_registrations;
};

} // namespace VorkSupport
