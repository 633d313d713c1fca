#pragma once
#include <string>

namespace VorkSupport {

// A shared library loaded for the lifetime of this object.
//  - A bare name ("zuintf32", no '/' and no ".so") is loaded as
//    "lib<name>.so" through the dynamic loader's normal search; any other
//    name is passed to the loader unchanged.
//  - The constructor raises VorkException (code 0) when loading fails.
//  - getProcAddr answers null for a missing symbol.
class VorkLibrary {
public:
    VorkLibrary(const std::string& name, bool flag = false);
    ~VorkLibrary();

    void* getProcAddr(const std::string& symbol) const;
    const std::string& name() const { return m_name; }

    VorkLibrary(const VorkLibrary&) = delete;
    VorkLibrary& operator=(const VorkLibrary&) = delete;

private:
    std::string m_name;
    void* m_handle = nullptr;
};

} // namespace VorkSupport
