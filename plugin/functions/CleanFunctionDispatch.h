#pragma once
#include <string>

#include "FunctionDispatch.h"

// "clean": under the exclusive-update lock, deletes the internal log, its
// extracted bundle directory, the final log of the given update id and the
// resume service.
class CleanFunctionDispatch : public DataAccess::zua::FunctionDispatch<std::string> {
public:
    std::string execute(const VorkSupport::VorkProperties<std::string>& properties) override;
};
