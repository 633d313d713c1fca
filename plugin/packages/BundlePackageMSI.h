#pragma once
#include "BundlePackage.h"

// An installer package run through msiexec.exe: a reinstall retry when another
// version is installed, and the engine upgrade that may lie beside the package
// when the installer engine is too old.
class BundlePackageMSI : public BundlePackage {
public:
    BundlePackageMSI(BAXMLDoc* statusLog, const std::string& releaseID, const std::string& packageAbsFileName,
                     const std::string& packageType, const std::string& installParams, int updateOnly);
    BundlePackageMSI(BAXMLDoc* statusLog, xmlNodePtr logNode);
    BundlePackageMSI(const BundlePackageMSI& other);
    ~BundlePackageMSI() override;

    int execute(bool& notRun) override;

protected:
    // Not used by this kind: execute() does its own run.
    bool executeImpl() override;
    void buildCommandLine() override;
};
