#include "UpdateFunctionDispatch.h"

std::string UpdateFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>&) { return std::string(); }
