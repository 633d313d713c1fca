#include "VorkObjectFactory.h"

#include "VorkObjectFactoryRegistration.h"

namespace VorkSupport {

VorkObjectFactory::VorkObjectFactory() = default;

VorkObjectFactory::~VorkObjectFactory() = default;

void VorkObjectFactory::add(const std::string& name, const VorkObjectFactoryRegistration& registration) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registrations[name] = &registration;
}

void VorkObjectFactory::remove(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registrations.erase(name);
}

VorkSmartPointer<VorkObjectBase> VorkObjectFactory::construct(const std::string& name) const {
    const VorkObjectFactoryRegistration* registration = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_registrations.find(name);
        if (it == m_registrations.end()) return VorkSmartPointer<VorkObjectBase>();
        registration = it->second;
    }
    // Created outside the lock: a constructor may itself use the factory.
    // The new object already holds the reference the pointer adopts.
    return VorkSmartPointer<VorkObjectBase>(registration->create(), false);
}

std::vector<std::string> VorkObjectFactory::getRegisteredClasses() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> names;
    names.reserve(m_registrations.size());
    for (const auto& entry : m_registrations) names.push_back(entry.first);
    return names;
}

} // namespace VorkSupport
