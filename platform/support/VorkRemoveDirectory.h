#pragma once
#include <string>

namespace VorkSupport {

// Removes a directory. With recursive true the whole tree goes; symbolic
// links are removed as links, never followed out of the tree. Raises
// VorkException (code 0, naming the path) when something stays.
void VorkRemoveDirectory(const std::string& path, bool recursive);

} // namespace VorkSupport
