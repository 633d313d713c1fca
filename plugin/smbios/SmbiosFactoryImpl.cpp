#include "SmbiosFactoryImpl.h"

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "FactoryInstance.h"
#include "MemoryFactory.h"
#include "NotImplemented.h"
#include "ParameterException.h"
#include "SmbiosMemoryStrategy.h"
#include "SmbiosSysfsStrategy.h"
#include "SmbiosTable.h"

namespace smbios {

namespace {

using Instance = FactoryInstance<SmbiosFactoryImpl>;

} // namespace

// The process-wide factory is the one implementation: it is made here, so
// that the interface needs nothing of it. A table is read through the memory
// reader, so the memory factory's reset forgets it too.
SmbiosFactory* SmbiosFactory::getFactory() {
    std::lock_guard<std::mutex> lock(Instance::mutex());
    auto& instance = Instance::instance();
    if (!instance) {
        memory::MemoryFactory::onReset(&instance, &SmbiosFactory::forgetTable);
        instance = std::make_unique<SmbiosFactoryImpl>();
    }
    return instance.get();
}

void SmbiosFactory::forgetTable() {
    std::lock_guard<std::mutex> lock(Instance::mutex());
    Instance::instance().reset();
}

void SmbiosFactory::resetForTesting() {
    forgetTable();
    memory::MemoryFactory::resetForTesting();
}

SmbiosFactoryImpl::SmbiosFactoryImpl() : m_sDmiDirectory(SmbiosSysfsStrategy::defaultDirectory()) {}

SmbiosFactoryImpl::~SmbiosFactoryImpl() = default;

ISmbiosTable* SmbiosFactoryImpl::getTable() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pTable) return m_pTable.get();
    if (m_nMode != 0 && m_nMode != 1) throw NotImplemented("Unknown smbios factory mode requested");
    // The kernel's copy of the table decides where it exists; physical
    // memory is searched only where it does not.
    std::vector<std::unique_ptr<SmbiosStrategy>> strategies;
    strategies.push_back(std::make_unique<SmbiosSysfsStrategy>(m_sDmiDirectory));
    strategies.push_back(std::make_unique<SmbiosMemoryStrategy>(static_cast<std::uint64_t>(m_nOffset)));
    // A failed build raises here and leaves nothing stored: the next call
    // tries again.
    m_pTable = std::make_unique<SmbiosTable>(std::move(strategies), m_nStrictValidation != 0);
    return m_pTable.get();
}

void SmbiosFactoryImpl::setParameter(const std::string& name, long value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (name == "strictValidation") m_nStrictValidation = value;
    else if (name == "offset") m_nOffset = value;
    else throw Instance::unknownParameter("smbios", name);
}

long SmbiosFactoryImpl::getParameter(const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (name == "strictValidation") return m_nStrictValidation;
    if (name == "offset") return m_nOffset;
    throw Instance::unknownParameter("smbios", name);
}

void SmbiosFactoryImpl::setMode(int mode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nMode = mode;
}

int SmbiosFactoryImpl::getMode() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nMode;
}

} // namespace smbios
