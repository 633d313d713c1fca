#pragma once
#include <string>

#include "FunctionDispatch.h"

// "capabilities": the fixed list of what the update plug-in supports.
class CapabilitiesFunctionDispatch : public DataAccess::zua::FunctionDispatch<std::string> {
public:
    std::string execute(const VorkSupport::VorkProperties<std::string>& properties) override;
};
