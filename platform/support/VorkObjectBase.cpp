#include "VorkObjectBase.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace VorkSupport {

VorkObjectBase::VorkObjectBase() : m_refCount(0) {}

VorkObjectBase::~VorkObjectBase() = default;

unsigned long VorkObjectBase::addRef() { return ++m_refCount; }

unsigned long VorkObjectBase::release() {
    unsigned long current = m_refCount.load();
    // Never let a stray release wrap the count round and delete twice.
    while (current != 0 && !m_refCount.compare_exchange_weak(current, current - 1)) {}
    if (current == 0) return 0;
    if (current == 1) {
        delete this;
        return 0;
    }
    return current - 1;
}

unsigned long VorkObjectBase::refCount() const { return m_refCount.load(); }

bool VorkObjectBase::isA(const std::string& className) const {
    return className == "VorkObjectBase" || className == getClassName();
}

std::string VorkObjectBase::getClassName() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                     std::free);
    std::string name = (status == 0 && demangled) ? std::string(demangled.get()) : std::string(mangled);
    // Drop the namespaces of the class itself (not those inside template arguments).
    std::size_t end = name.find('<');
    std::size_t cut = name.rfind("::", end == std::string::npos ? std::string::npos : end);
    if (cut != std::string::npos) name.erase(0, cut + 2);
    return name;
}

} // namespace VorkSupport
