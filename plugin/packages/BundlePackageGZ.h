#pragma once
#include "BundlePackage.h"

// A tar.gz package: never run on this system, always recorded as skipped.
class BundlePackageGZ : public BundlePackage {
public:
    // The start and resume constructors of the base; copies and destruction
    // as the base does them.
    using BundlePackage::BundlePackage;

protected:
    bool shouldBeSkipped() override;
    bool completeAfterReboot() override;
};
