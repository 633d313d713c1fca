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

private:
    // One run of the installer: its calls and what became of them.
    struct InstallerRun;

    // The install and reinstall calls; the entry records the install's
    // command line as the run begins.
    void prepareRun(InstallerRun& run);
    // The install, with the retries its return code asks for.
    void runInstaller(InstallerRun& run);
    void runReinstall(InstallerRun& run);
    // The engine upgrade beside the package, then the install again.
    void upgradeEngine(InstallerRun& run);
    // How the run ended: the package's status of it (in m_nStatus) and what
    // its entry records.
    RunEnd endOfRun(const InstallerRun& run);
    // The status code of a finished run (m_nStatus mapped from finalCode).
    int resultOfRun(int finalCode) const;
};
