#pragma once
#include <string>

#include "FunctionDispatch.h"

// "validate": checks a bundle against this machine (system, operating system,
// package files) without running any package and without the lock.
class ValidateFunctionDispatch : public DataAccess::zua::FunctionDispatch<std::string> {
public:
    std::string execute(const VorkSupport::VorkProperties<std::string>& properties) override;
};
