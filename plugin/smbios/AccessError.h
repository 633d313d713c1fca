#pragma once
#include <string>
#include <utility>

#include "MemoryException.h"

namespace memory {

// Physical memory could not be opened or read.
class AccessError : public MemoryException {
public:
    explicit AccessError(std::string messageTemplate) : MemoryException(std::move(messageTemplate)) {}
};

} // namespace memory
