#pragma once
#include "BundlePackage.h"

// An installer package run through msiexec.exe: a reinstall retry when another
// version is installed, and the engine upgrade that may lie beside the package
// when the installer engine is too old.
class BundlePackageMSI : public BundlePackage {
public:
    // The start and resume constructors of the base; copies and destruction
    // as the base does them.
    using BundlePackage::BundlePackage;

    int execute(bool& notRun) override;

protected:
    // Not used by this kind: execute() does its own run.
    bool executeImpl() override;
    void buildCommandLine() override;
};
