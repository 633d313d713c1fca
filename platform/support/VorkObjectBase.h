#pragma once
#include <atomic>
#include <string>

namespace VorkSupport {

// Reference-counted object root. A new object starts with a count of 0; the
// creator takes the first reference with addRef(). release() deletes the
// object when the count drops to 0.
class VorkObjectBase {
public:
    VorkObjectBase();
    virtual ~VorkObjectBase();

    virtual unsigned long addRef();
    virtual unsigned long release();
    virtual unsigned long refCount() const;
    // True when className names this object's class (the dynamic type's
    // demangled name, without namespaces) or "VorkObjectBase".
    virtual bool isA(const std::string& className) const;
    // The demangled name of the dynamic type, without namespaces.
    virtual std::string getClassName() const;

    VorkObjectBase(const VorkObjectBase&) = delete;
    VorkObjectBase& operator=(const VorkObjectBase&) = delete;

private:
    std::atomic<unsigned long> m_refCount;
};

} // namespace VorkSupport
