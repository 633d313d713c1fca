#pragma once
#include "BundlePackage.h"

// A tar.gz package: never run on this system, always recorded as skipped.
class BundlePackageGZ : public BundlePackage {
public:
    BundlePackageGZ(BAXMLDoc* statusLog, const std::string& releaseID, const std::string& packageAbsFileName,
                    const std::string& packageType, const std::string& installParams, int updateOnly);
    BundlePackageGZ(BAXMLDoc* statusLog, xmlNodePtr logNode);
    BundlePackageGZ(const BundlePackageGZ& other);
    ~BundlePackageGZ() override;

protected:
    bool shouldBeSkipped() override;
    bool completeAfterReboot() override;
    bool executeImpl() override;
    void buildCommandLine() override;
    void performReturnMapping() override;
    bool shouldUseOutputLog() override;
};
