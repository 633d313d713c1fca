#pragma once
#include <optional>
#include <string>
#include <vector>

// The real plug-in, loaded from the build tree and called through its two
// exported entry points as the host's data manager calls it.
class PluginClient {
public:
    PluginClient();
    ~PluginClient();
    PluginClient(const PluginClient&) = delete;
    PluginClient& operator=(const PluginClient&) = delete;

    bool loaded() const { return m_sendCmd != nullptr && m_freeData != nullptr; }
    const std::string& error() const { return m_error; }

    // Sends the command vector; no value when the plug-in answered null.
    std::optional<std::string> send(const std::vector<std::string>& entries);

private:
    using SendCmd = char* (*)(int, char**);
    using FreeData = void (*)(void*);
    void* m_handle = nullptr;
    SendCmd m_sendCmd = nullptr;
    FreeData m_freeData = nullptr;
    std::string m_error;
};
