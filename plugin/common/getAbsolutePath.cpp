#include "getAbsolutePath.h"

#include <cstdlib>
#include <memory>

#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkPlatform.h"
#include "VorkScopeTrace.h"

using VorkSupport::VorkException;
using VorkSupport::VorkPlatform;

void getAbsolutePath(const std::string& path, std::string& absolutePath, bool directory) {
    VORK_TRACE("getAbsolutePath");
    VORK_LOG(9, "getAbsolutePath: userpath=|" << path << "|");

    // The directory part keeps its separator, so that a name that is not a
    // directory fails to resolve. Both separators split a path.
    const std::string::size_type lastSeparator = path.find_last_of("\\/");
    std::string directoryPart;
    std::string filePart;
    if (directory) {
        directoryPart = path + VorkPlatform::separatorText;
    } else if (lastSeparator == std::string::npos) {
        directoryPart = ".";
        filePart = path;
    } else if (lastSeparator == 0) {
        directoryPart = VorkPlatform::separatorText;
        filePart = path.substr(1);
    } else {
        directoryPart = path.substr(0, lastSeparator) + VorkPlatform::separatorText;
        filePart = path.substr(lastSeparator + 1);
    }

    VORK_LOG(9, "getAbsolutePath: path=|" << directoryPart << "|");

    // realpath resolves without touching the current directory, which other
    // threads of the host process may depend on.
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(directoryPart.c_str(), nullptr), &std::free);
    if (!resolved) {
        VORK_LOG(9, "getAbsolutePath: path does not exist");
        throw VorkException("getAbsolutePath: Invalid path");
    }
    std::string result(resolved.get());
    if (result.empty() || result.back() != VorkPlatform::separator) result += VorkPlatform::separator;
    result += filePart;

    VORK_LOG(9, "getAbsolutePath: abspath=|" << result << "|");
    absolutePath = result;
}
