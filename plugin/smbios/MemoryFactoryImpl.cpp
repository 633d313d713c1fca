#include "MemoryFactoryImpl.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "FactoryInstance.h"
#include "MemoryOsSpecific.h"
#include "NotImplemented.h"
#include "ParameterException.h"

namespace memory {

namespace {

std::string defaultMemFile() {
    const char* image = std::getenv("PLIMO_MEMFILE");
    if (image != nullptr && *image != '\0') return image;
    return "/dev/mem";
}

using Instance = smbios::FactoryInstance<MemoryFactoryImpl>;

std::map<const void*, std::function<void()>>& resetListeners() {
    static std::map<const void*, std::function<void()>> listeners;
    return listeners;
}

} // namespace

// The process-wide factory is the one implementation: it is made here, so
// that the interface needs nothing of it.
MemoryFactory* MemoryFactory::getFactory() {
    std::lock_guard<std::mutex> lock(Instance::mutex());
    auto& instance = Instance::instance();
    if (!instance) instance = std::make_unique<MemoryFactoryImpl>();
    return instance.get();
}

void MemoryFactory::onReset(const void* key, std::function<void()> forget) {
    std::lock_guard<std::mutex> lock(Instance::mutex());
    resetListeners()[key] = std::move(forget);
}

void MemoryFactory::resetForTesting() {
    // What was read through the forgotten reader would describe an image
    // that is no longer in use: it goes first.
    std::map<const void*, std::function<void()>> listeners;
    {
        std::lock_guard<std::mutex> lock(Instance::mutex());
        listeners = resetListeners();
    }
    for (const auto& entry : listeners) entry.second();
    std::lock_guard<std::mutex> lock(Instance::mutex());
    Instance::instance().reset();
}

MemoryFactoryImpl::MemoryFactoryImpl() : m_sMemFile(defaultMemFile()) {}

MemoryFactoryImpl::~MemoryFactoryImpl() = default;

IMemory* MemoryFactoryImpl::getMemory() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pMemory) {
        if (m_nMode != 0) throw smbios::NotImplemented("Unknown memory factory mode requested");
        m_pMemory = std::make_unique<MemoryOsSpecific>(m_sMemFile);
    }
    return m_pMemory.get();
}

void MemoryFactoryImpl::setParameter(const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (name != "memFile") throw Instance::unknownParameter("memory", name);
    m_sMemFile = value;
}

std::string MemoryFactoryImpl::getParameter(const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (name != "memFile") throw Instance::unknownParameter("memory", name);
    return m_sMemFile;
}

void MemoryFactoryImpl::setMode(int mode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nMode = mode;
}

int MemoryFactoryImpl::getMode() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nMode;
}

} // namespace memory
