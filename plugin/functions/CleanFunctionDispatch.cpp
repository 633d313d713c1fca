#include "CleanFunctionDispatch.h"

std::string CleanFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>&) { return std::string(); }
