#include "VorkLibrary.h"

#include <dlfcn.h>

#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

namespace VorkSupport {

VorkLibrary::VorkLibrary(const std::string& name, bool /*flag*/) : m_name(name) {
    VORK_TRACE("VorkLibrary::VorkLibrary");
    std::string file = name;
    if (name.find('/') == std::string::npos && name.find(".so") == std::string::npos) file = "lib" + name + ".so";
    m_handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* error = ::dlerror();
        std::string text = "VorkLibrary: cannot load |" + file + "|: " + (error ? error : "unknown error");
        VORK_LOG(1, text);
        throw VorkException(text);
    }
}

VorkLibrary::~VorkLibrary() {
    if (m_handle) ::dlclose(m_handle);
}

void* VorkLibrary::getProcAddr(const std::string& symbol) const {
    if (!m_handle) return nullptr;
    ::dlerror();
    return ::dlsym(m_handle, symbol.c_str());
}

} // namespace VorkSupport
