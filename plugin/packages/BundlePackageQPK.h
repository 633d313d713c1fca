#pragma once
#include "BundlePackage.h"

// A self-contained update program, started with " /s /l=<log file>"; its exit
// code is the package status.
class BundlePackageQPK : public BundlePackage {
public:
    BundlePackageQPK(BAXMLDoc* statusLog, const std::string& releaseID, const std::string& packageAbsFileName,
                     const std::string& packageType, const std::string& installParams, int updateOnly);
    BundlePackageQPK(BAXMLDoc* statusLog, xmlNodePtr logNode);
    BundlePackageQPK(const BundlePackageQPK& other);
    ~BundlePackageQPK() override;

    int execute(bool& notRun) override;

protected:
    // Not used by this kind: execute() does its own run.
    bool executeImpl() override;
    void buildCommandLine() override;
};
