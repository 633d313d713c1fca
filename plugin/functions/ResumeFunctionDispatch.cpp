#include "ResumeFunctionDispatch.h"

std::string ResumeFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>&) { return std::string(); }
