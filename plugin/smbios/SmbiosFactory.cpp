#include "SmbiosFactory.h"

#include <memory>
#include <mutex>

#include "MemoryFactory.h"
#include "SmbiosFactoryImpl.h"

namespace smbios {

namespace {

std::mutex& factoryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unique_ptr<SmbiosFactoryImpl>& factoryInstance() {
    static std::unique_ptr<SmbiosFactoryImpl> instance;
    return instance;
}

} // namespace

SmbiosFactory* SmbiosFactory::getFactory() {
    std::lock_guard<std::mutex> lock(factoryMutex());
    auto& instance = factoryInstance();
    if (!instance) instance = std::make_unique<SmbiosFactoryImpl>();
    return instance.get();
}

void SmbiosFactory::forgetTable() {
    std::lock_guard<std::mutex> lock(factoryMutex());
    factoryInstance().reset();
}

void SmbiosFactory::resetForTesting() {
    // The memory reader's reset forgets the table read through it as well.
    memory::MemoryFactory::resetForTesting();
}

} // namespace smbios
