#pragma once
#include <string>

#include "FunctionDispatch.h"

// The plug-in function "update": takes the exclusive update, clears away a
// dead earlier update, records the settings in a fresh internal log, runs the
// bundle, then ends the update or prepares its resume and restarts the
// machine. Answers the status log's root element as text.
class UpdateFunctionDispatch : public DataAccess::zua::FunctionDispatch<std::string> {
public:
    std::string execute(const VorkSupport::VorkProperties<std::string>& properties) override;
};
