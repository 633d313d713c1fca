#pragma once
#include "BundlePackage.h"

// A self-contained update program, started with " /s /l=<log file>"; its exit
// code is the package status.
class BundlePackageQPK : public BundlePackage {
public:
    // The start and resume constructors of the base; copies and destruction
    // as the base does them.
    using BundlePackage::BundlePackage;

    int execute(bool& notRun) override;

private:
    // The status code of a finished run, from the exit code in m_nStatus.
    int resultOfRun() const;
};
