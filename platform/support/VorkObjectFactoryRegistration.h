#pragma once
#include <string>

namespace VorkSupport {

class VorkObjectBase;
class VorkObjectFactory;

// One registered class of a factory. The creation operation returns a new
// object that already holds one reference (the factory adopts it).
class VorkObjectFactoryRegistration {
public:
    VorkObjectFactoryRegistration(const std::string& name, VorkObjectFactory* factory)
        : m_name(name), m_pFactory(factory) {}
    virtual ~VorkObjectFactoryRegistration() = default;
    virtual VorkObjectBase* create() const = 0;

    const std::string& name() const { return m_name; }

protected:
    std::string m_name;
    VorkObjectFactory* m_pFactory;
};

} // namespace VorkSupport
