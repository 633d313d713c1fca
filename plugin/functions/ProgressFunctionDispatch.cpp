#include "ProgressFunctionDispatch.h"

std::string ProgressFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>&) { return std::string(); }
