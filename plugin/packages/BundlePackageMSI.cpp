#include "BundlePackageMSI.h"

#include <unistd.h>

#include <climits>
#include <memory>
#include <vector>

#include "BAXMLDoc.h"
#include "BAXMLPackageNode.h"
#include "FixedLogTexts.h"
#include "GetWindowsErrorMessage.h"
#include "StatusCode.h"
#include "VorkFindFile.h"
#include "VorkLogRecord.h"
#include "VorkPlatform.h"
#include "VorkScopeTrace.h"

namespace {

const char* const kEngineUpgradeProgram = "upgrade_msi_engine.bat";
const char* const kInstallFailureMessage =
    "There was an installation error. This may be due to attempting an upgrade or downgrade that the product "
    "does not allow.";

// Installer return codes.
constexpr int kInstallFailure = 1603;
constexpr int kInstallPackageVersion = 1613;
constexpr int kInstallNotUsed = 1634;
constexpr int kProductVersion = 1638;
constexpr int kRebootInitiated = 1641;
constexpr int kPatchTargetNotFound = 1642;
constexpr int kRebootRequired = 3010;

int mapInstallerCode(int code) {
    switch (code) {
        case 0: return BundlePackage::STATUS_SUCCESS;
        case kInstallNotUsed:
        case kPatchTargetNotFound: return BundlePackage::STATUS_NOT_APPLICABLE;
        case kRebootInitiated:
        case kRebootRequired: return BundlePackage::STATUS_REBOOT_REQUIRED;
        default: return BundlePackage::STATUS_FAILED;
    }
}

std::string currentDirectory() {
    std::vector<char> buffer(PATH_MAX + 1);
    if (::getcwd(buffer.data(), buffer.size()) == nullptr) return std::string();
    return std::string(buffer.data());
}

// The program part of a command line: quoted, so that blanks in the path do
// not split it (a path that itself holds a quote is left as it is).
std::string programWord(const std::string& path) {
    if (path.find('"') != std::string::npos) return path;
    return "\"" + path + "\"";
}

} // namespace

struct BundlePackageMSI::InstallerRun {
    VorkSupport::VorkProgramCall install;
    VorkSupport::VorkProgramCall reinstall;
    std::unique_ptr<BAXMLPackageNode> entry;
    int code = 0;
    int engineCode = 0;
    bool started = false;
    bool engineStarted = true;
    bool engineFailed = false;
};

int BundlePackageMSI::execute(bool& notRun) {
    VORK_TRACE("BundlePackageMSI::execute");
    notRun = false;
    int result = 0;

    // A package that asked for a reboot is complete once the reboot is over:
    // it is not run again.
    settleRecordedState("BundlePackageMSI", true, result);
    if (m_nState == STATE_SKIPPED) {
        VORK_LOG(4, "BundlePackageMSI::execute: skipping package (preinstallenv flag not true)");
        notRun = true;
        return StatusCode::PackagesSkipped;
    }
    if (!readyForOwnRun("BundlePackageMSI", notRun)) return result;

    InstallerRun run;
    prepareRun(run);
    runInstaller(run);
    const RunEnd end = endOfRun(run);
    if (finishRun(*run.entry, end, result)) result = resultOfRun(end.osErrorCode);
    return result;
}

BundlePackage::RunEnd BundlePackageMSI::endOfRun(const InstallerRun& run) {
    static constexpr RunTexts kRunTexts = {FixedLogText::Packages::kMsiReturned,
                                           FixedLogText::Packages::kMsiPackageMissing,
                                           FixedLogText::Packages::kMsiMissing, 9};
    RunEnd end(kRunTexts);
    end.started = run.started && run.engineStarted;
    if (end.started) {
        const int finalCode = run.engineFailed ? run.engineCode : run.code;
        m_nStatus = mapInstallerCode(finalCode);
        if (finalCode == kInstallFailure) {
            end.message = kInstallFailureMessage;
        } else if (finalCode != 0) {
            GetWindowsErrorMessage(finalCode, end.message);
        }
        end.osErrorCode = finalCode;
    } else if (!run.engineStarted) {
        end.missingNote = FixedLogText::Packages::kMsiEngineMissing;
    }
    return end;
}

void BundlePackageMSI::prepareRun(InstallerRun& run) {
    // The program receives the package and log paths as one argument each.
    VorkSupport::VorkProgramCall& install = run.install;
    install.programText = "msiexec.exe";
    install.arguments = {"/qn", "/i", m_sPackageAbsFileName, "/le", m_pStatusLog->qpkLogName};
    run.entry = startEntry(install.joined(), false);

    install.arguments.push_back("REBOOT=REALLYSUPPRESS");
    std::string installCommand = install.joined();
    const std::string params = !m_sInstallParams.empty() ? m_sInstallParams : m_pStatusLog->installParams();
    if (!params.empty()) {
        installCommand += " " + params;
        for (const std::string& word : VorkSupport::VorkSplitCommandLine(params)) install.arguments.push_back(word);
    }
    install.commandLine = installCommand;
    run.reinstall = install;
    run.reinstall.arguments.push_back("REINSTALL=ALL");
    run.reinstall.arguments.push_back("REINSTALLMODE=vomus");
    run.reinstall.commandLine = installCommand + " REINSTALL=ALL REINSTALLMODE=vomus";
    VORK_LOG(3, FixedLogText::Packages::kMsiExecuting << "|" << installCommand << "|");
}

void BundlePackageMSI::runInstaller(InstallerRun& run) {
    run.started = runProgram(run.install, run.code, PackageRole::Argument);
    VORK_LOG(4, FixedLogText::Packages::kMsiFirstRunComplete << run.started << ", MSIReturnCode = " << run.code << ".");
    if (!run.started) return;
    if (run.code == kInstallPackageVersion) {
        upgradeEngine(run);
    } else if (run.code == kProductVersion) {
        runReinstall(run);
    }
}

void BundlePackageMSI::runReinstall(InstallerRun& run) {
    run.started = runProgram(run.reinstall, run.code, PackageRole::Argument);
    VORK_LOG(4, FixedLogText::Packages::kMsiRunComplete << run.reinstall.commandLine << ", MSIExecutionSuccessful = "
                                                        << run.started << ", MSIReturnCode = " << run.code << ".");
    if (run.started && run.code == kInstallFailure) {
        VORK_LOG(2, "MSI returned ERROR_INSTALL_FAILURE on upgrade retry.");
    }
}

void BundlePackageMSI::upgradeEngine(InstallerRun& run) {
    const std::string::size_type slash = m_sPackageAbsFileName.find_last_of("\\/");
    const std::string packageDirectory =
        slash == std::string::npos ? m_sPackageAbsFileName : m_sPackageAbsFileName.substr(0, slash);
    const std::string engineUpgradePath =
        packageDirectory + VorkSupport::VorkPlatform::separator + kEngineUpgradeProgram;
    VORK_LOG(4, FixedLogText::Packages::kMsiCheckingFor << kEngineUpgradeProgram);
    // Nothing in the bundle definition vouches for the upgrade program: a
    // package that is checked never starts it unchecked.
    if (!VorkSupport::VorkFindFile(engineUpgradePath).hasMore() || hasExpectedDigest()) {
        VORK_LOG(2, FixedLogText::Packages::kMsiExecute
                        << kEngineUpgradeProgram
                        << (hasExpectedDigest() ? " not started for a package with a digest" : " not found")
                        << "; returning ERROR_INSTALL_PACKAGE_VERSION");
        return;
    }
    // The upgrade program runs with the package directory as its current
    // directory; the plug-in's own directory is shared with the host and
    // never changes.
    const std::string savedDirectory = currentDirectory();
    VORK_LOG(9, FixedLogText::Packages::kMsiSettingDirectory << "|" << packageDirectory << "|");
    VorkSupport::VorkProgramCall engine;
    engine.programText = programWord(engineUpgradePath);
    engine.workingDirectory = packageDirectory;
    run.engineStarted = runProgram(engine, run.engineCode, PackageRole::Unrelated);
    VORK_LOG(4, FixedLogText::Packages::kMsiRunComplete << kEngineUpgradeProgram
                                                        << "engineUpgradeExecutionSuccessful = " << run.engineStarted
                                                        << ", engineUpgradeReturnCode = " << run.engineCode << ".");
    VORK_LOG(9, FixedLogText::Packages::kMsiResettingDirectory << "|" << savedDirectory << "|");
    if (!run.engineStarted) return;
    if (run.engineCode != 0 && run.engineCode != kRebootRequired) {
        VORK_LOG(1, FixedLogText::Packages::kMsiEngineFailed << run.engineCode);
        run.engineFailed = true;
        return;
    }
    run.started = runProgram(run.install, run.code, PackageRole::Argument);
    VORK_LOG(4, FixedLogText::Packages::kMsiRunComplete << run.install.commandLine << ", MSIExecutionSuccessful = "
                                                        << run.started << ", MSIReturnCode = " << run.code << ".");
    if (run.started && run.code == kProductVersion) runReinstall(run);
}

int BundlePackageMSI::resultOfRun(int finalCode) const {
    if (m_nStatus == STATUS_FAILED) {
        VORK_LOG(9, FixedLogText::Packages::kMsiFailed);
        return finalCode == kInstallPackageVersion ? StatusCode::EngineUpgradeMissing : StatusCode::PackageFailed;
    }
    if (m_nStatus == STATUS_REBOOT_REQUIRED) {
        VORK_LOG(9, FixedLogText::Packages::kMsiRebootRequired);
        return StatusCode::RebootRequired;
    }
    return 0;
}
