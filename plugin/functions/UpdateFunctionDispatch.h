#pragma once
#include <string>

#include "FunctionDispatch.h"

// Stub: answers an empty text until the function is implemented.
class UpdateFunctionDispatch : public DataAccess::zua::FunctionDispatch<std::string> {
public:
    std::string execute(const VorkSupport::VorkProperties<std::string>& properties) override;
};
