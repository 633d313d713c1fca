#include "PluginClient.h"

#include <dlfcn.h>

#include <stdexcept>

PluginClient::PluginClient() {
    m_handle = ::dlopen(PLIMO_PLUGIN_DIR "/libplimo64.so", RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        const char* text = ::dlerror();
        m_error = text ? text : "dlopen failed";
        return;
    }
    m_sendCmd = reinterpret_cast<SendCmd>(::dlsym(m_handle, "plimo64_sendCmd"));
    m_freeData = reinterpret_cast<FreeData>(::dlsym(m_handle, "plimo64_freeData"));
    if (!loaded()) m_error = "entry points missing";
}

PluginClient::~PluginClient() {
    if (m_handle != nullptr) ::dlclose(m_handle);
}

std::optional<std::string> PluginClient::send(const std::vector<std::string>& entries) {
    if (!loaded()) throw std::runtime_error("the plug-in is not loaded: " + m_error);
    std::vector<std::string> copies(entries);
    std::vector<char*> argv;
    for (auto& entry : copies) argv.push_back(entry.data());
    argv.push_back(nullptr);
    char* answer = m_sendCmd(static_cast<int>(copies.size()), argv.data());
    if (answer == nullptr) return std::nullopt;
    std::string text(answer);
    m_freeData(answer);
    return text;
}
