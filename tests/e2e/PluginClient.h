#pragma once
#include <optional>
#include <string>
#include <vector>

// The real plug-in, loaded through the dynamic loader and called through its
// two exports exactly as the host's data manager calls it.
class PluginClient {
public:
    PluginClient();
    ~PluginClient();
    PluginClient(const PluginClient&) = delete;
    PluginClient& operator=(const PluginClient&) = delete;

    // Sends the command vector; the answer text, or nothing for a null answer.
    std::optional<std::string> send(const std::vector<std::string>& entries);

private:
    using SendCmd = char* (*)(int, char**);
    using FreeData = void (*)(void*);
    void* m_handle;
    SendCmd m_sendCmd;
    FreeData m_freeData;
};
