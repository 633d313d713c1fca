#pragma once
#include "BundlePackage.h"

// An installer patch applied through msiexec.exe.
class BundlePackageMSP : public BundlePackage {
public:
    // The start and resume constructors of the base; copies and destruction
    // as the base does them.
    using BundlePackage::BundlePackage;

    int execute(bool& notRun) override;
};
