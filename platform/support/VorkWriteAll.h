#pragma once
#include <cstddef>

namespace VorkSupport {

// Writes all size bytes to the descriptor, going on after interrupted and
// partial writes. False when a write fails (errno tells why).
bool VorkWriteAll(int fd, const void* data, std::size_t size);

} // namespace VorkSupport
