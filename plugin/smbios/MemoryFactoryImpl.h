#pragma once
#include <memory>
#include <mutex>
#include <string>

#include "IMemory.h"
#include "MemoryFactory.h"

namespace memory {

class MemoryFactoryImpl : public MemoryFactory {
public:
    MemoryFactoryImpl();
    ~MemoryFactoryImpl() override;

    IMemory* getMemory() override;
    void setParameter(const std::string& name, const std::string& value) override;
    std::string getParameter(const std::string& name) const override;
    void setMode(int mode) override;
    int getMode() const override;

private:
    mutable std::mutex m_mutex;
    std::string m_sMemFile;
    int m_nMode = 0;
    std::unique_ptr<IMemory> m_pMemory;
};

} // namespace memory
