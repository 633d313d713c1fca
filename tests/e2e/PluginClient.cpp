#include "PluginClient.h"

#include <dlfcn.h>

#include <stdexcept>

PluginClient::PluginClient()
    : m_handle(::dlopen(PLIMO_PLUGIN_DIR "/libplimo64.so", RTLD_NOW | RTLD_LOCAL)), m_sendCmd(nullptr),
      m_freeData(nullptr) {
    if (!m_handle) throw std::runtime_error(std::string("cannot load the plug-in: ") + ::dlerror());
    m_sendCmd = reinterpret_cast<SendCmd>(::dlsym(m_handle, "plimo64_sendCmd"));
    m_freeData = reinterpret_cast<FreeData>(::dlsym(m_handle, "plimo64_freeData"));
    if (!m_sendCmd || !m_freeData) {
        ::dlclose(m_handle);
        throw std::runtime_error("the plug-in lacks its exports");
    }
}

PluginClient::~PluginClient() { ::dlclose(m_handle); }

std::optional<std::string> PluginClient::send(const std::vector<std::string>& entries) {
    std::vector<std::string> copies = entries;
    std::vector<char*> argv;
    for (auto& entry : copies) argv.push_back(entry.data());
    argv.push_back(nullptr);
    char* answer = m_sendCmd(static_cast<int>(copies.size()), argv.data());
    if (!answer) return std::nullopt;
    std::string text(answer);
    m_freeData(answer);
    return text;
}
