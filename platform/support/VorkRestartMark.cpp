#include "VorkRestartMark.h"

#include <atomic>

namespace VorkSupport {

namespace {

// Lock-free, so that a signal handler may read it.
std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

} // namespace

void VorkRestartMark::set() { requested.store(true); }

void VorkRestartMark::clear() { requested.store(false); }

bool VorkRestartMark::isSet() { return requested.load(); }

} // namespace VorkSupport
