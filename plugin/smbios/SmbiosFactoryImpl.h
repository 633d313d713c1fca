#pragma once
#include <memory>
#include <mutex>
#include <string>

#include "ISmbiosTable.h"
#include "SmbiosFactory.h"

namespace smbios {

class SmbiosFactoryImpl : public SmbiosFactory {
public:
    SmbiosFactoryImpl();
    ~SmbiosFactoryImpl() override;

    ISmbiosTable* getTable() override;
    void setParameter(const std::string& name, long value) override;
    long getParameter(const std::string& name) const override;
    void setMode(int mode) override;
    int getMode() const override;

private:
    mutable std::mutex m_mutex;
    long m_nStrictValidation = 0;
    long m_nOffset = 0;
    int m_nMode = 0;
    std::string m_sDmiDirectory; // the kernel's copy of the table
    std::unique_ptr<ISmbiosTable> m_pTable;
};

} // namespace smbios
