#pragma once
#include "BundlePackage.h"

// An installer patch applied through msiexec.exe.
class BundlePackageMSP : public BundlePackage {
public:
    BundlePackageMSP(BAXMLDoc* statusLog, const std::string& releaseID, const std::string& packageAbsFileName,
                     const std::string& packageType, const std::string& installParams, int updateOnly);
    BundlePackageMSP(BAXMLDoc* statusLog, xmlNodePtr logNode);
    BundlePackageMSP(const BundlePackageMSP& other);
    ~BundlePackageMSP() override;

    int execute(bool& notRun) override;

protected:
    // Not used by this kind: execute() does its own run.
    bool executeImpl() override;
    void buildCommandLine() override;
};
