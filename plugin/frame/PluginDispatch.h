#pragma once
#include <string>

#include "VorkProperties.h"

// The work behind the plug-in's two exported entry points. Nothing that is
// raised inside ever reaches the caller: every failure gives a null answer.
class PluginDispatch {
public:
    // Runs the plug-in function named by "zuacmd" on the command vector and
    // answers its text in a new buffer, or null when there is no answer.
    static char* sendCmd(int argc, char** argv) noexcept;
    // Releases a buffer answered by sendCmd; nothing for null.
    static void freeData(void* data) noexcept;

private:
    static std::string dispatch(const VorkSupport::VorkProperties<std::string>& properties);
    static char* makeAnswer(const std::string& text);
};
