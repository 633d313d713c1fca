#include "ValidateFunctionDispatch.h"

std::string ValidateFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>&) { return std::string(); }
