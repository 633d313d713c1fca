#pragma once
#include <string>

#include "VorkObjectFactory.h"
#include "VorkObjectFactoryRegistration.h"

namespace VorkSupport {

// Registers T in a factory for the lifetime of this object.
template <typename T>
class VorkObjectFactoryCreator : public VorkObjectFactoryRegistration {
public:
    VorkObjectFactoryCreator(const std::string& name, VorkObjectFactory* factory)
        : VorkObjectFactoryRegistration(name, factory) {
        if (m_pFactory) m_pFactory->add(m_name, *this);
    }
    ~VorkObjectFactoryCreator() override {
        if (m_pFactory) m_pFactory->remove(m_name);
    }
    VorkObjectBase* create() const override {
        T* object = new T();
        object->addRef();
        return object;
    }
};

} // namespace VorkSupport
