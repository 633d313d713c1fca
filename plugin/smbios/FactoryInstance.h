#pragma once
#include <memory>
#include <mutex>
#include <string>

#include "ParameterException.h"

namespace smbios {

// The process-wide instance of one factory implementation, made on first use,
// and the mutex that guards it.
template <class Impl>
class FactoryInstance {
public:
    static std::mutex& mutex() {
        static std::mutex guard;
        return guard;
    }
    static std::unique_ptr<Impl>& instance() {
        static std::unique_ptr<Impl> made;
        return made;
    }

    // The error of a parameter this factory does not know; factoryName is the
    // factory's name in the message.
    static ParameterException unknownParameter(const char* factoryName, const std::string& name) {
        ParameterException error(std::string("Unknown ") + factoryName + " factory parameter: %(name)s");
        error.setParameter("name", name);
        return error;
    }
};

} // namespace smbios
