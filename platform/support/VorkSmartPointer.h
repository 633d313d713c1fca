#pragma once
#include <utility>

namespace VorkSupport {

// Holds one counted reference to a VorkObjectBase-derived object.
// Adopting constructor: VorkSmartPointer(p, false) takes over a reference the
// caller already holds; VorkSmartPointer(p) (or (p, true)) adds its own.
template <typename T>
class VorkSmartPointer {
public:
    VorkSmartPointer() = default;
    explicit VorkSmartPointer(T* p, bool addReference = true) : m_p(p) {
        if (m_p && addReference) m_p->addRef();
    }
    VorkSmartPointer(const VorkSmartPointer& o) : m_p(o.m_p) {
        if (m_p) m_p->addRef();
    }
    VorkSmartPointer(VorkSmartPointer&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    VorkSmartPointer& operator=(VorkSmartPointer o) noexcept {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~VorkSmartPointer() { reset(); }

    void reset() {
        if (m_p) std::exchange(m_p, nullptr)->release();
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    T& operator*() const { return *m_p; }
    bool isNull() const { return m_p == nullptr; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

} // namespace VorkSupport
