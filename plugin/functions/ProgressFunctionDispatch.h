#pragma once
#include <string>

#include "FunctionDispatch.h"

// "progress": answers the final log of the given update, or the internal log
// of the update under way or waiting for its resume, and clears away the
// remains of an update whose process died in the middle of a run.
class ProgressFunctionDispatch : public DataAccess::zua::FunctionDispatch<std::string> {
public:
    std::string execute(const VorkSupport::VorkProperties<std::string>& properties) override;
};
