#include "MemoryFactory.h"

#include <memory>
#include <mutex>

#include "MemoryFactoryImpl.h"
#include "SmbiosFactory.h"

namespace memory {

namespace {

std::mutex& factoryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unique_ptr<MemoryFactoryImpl>& factoryInstance() {
    static std::unique_ptr<MemoryFactoryImpl> instance;
    return instance;
}

} // namespace

MemoryFactory* MemoryFactory::getFactory() {
    std::lock_guard<std::mutex> lock(factoryMutex());
    auto& instance = factoryInstance();
    if (!instance) instance = std::make_unique<MemoryFactoryImpl>();
    return instance.get();
}

void MemoryFactory::resetForTesting() {
    // A table read through the forgotten reader would describe an image that
    // is no longer in use: it goes too.
    smbios::SmbiosFactory::forgetTable();
    std::lock_guard<std::mutex> lock(factoryMutex());
    factoryInstance().reset();
}

} // namespace memory
