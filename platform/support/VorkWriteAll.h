#pragma once
#include <sys/types.h>

#include <cstddef>

namespace VorkSupport {

// Writes all size bytes to the descriptor, going on after interrupted and
// partial writes. False when a write fails (errno tells why).
[[nodiscard]] bool VorkWriteAll(int fd, const void* data, std::size_t size);
// The same through another write call (one with a fault seam, say).
[[nodiscard]] bool VorkWriteAll(int fd, const void* data, std::size_t size,
                                ssize_t (*writeCall)(int, const void*, std::size_t));

} // namespace VorkSupport
