#pragma once
#include <string>

#include "FunctionDispatch.h"

// "list-da-functions": the names of the plug-in functions registered in the
// plug-in's factory, itself left out.
class FunctionListDispatch : public DataAccess::zua::FunctionDispatch<std::string> {
public:
    std::string execute(const VorkSupport::VorkProperties<std::string>& properties) override;
};
