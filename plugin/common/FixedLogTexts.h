#pragma once

// Debug-log texts that are kept word for word although they name a function
// other than the one that now logs them: operators' tools and runbooks match
// them as they stand. Every other log record names the function it stands in
// (scripts/check-log-names.py holds the tree to that); a record that must
// keep an older name takes its text from here, so the exception is visible.
namespace FixedLogText {

// ---- status log -----------------------------------------------------------
namespace StatusLog {
} // namespace StatusLog

// ---- bundle ---------------------------------------------------------------
namespace Bundle {
} // namespace Bundle

// ---- packages -------------------------------------------------------------
namespace Packages {
// The base's execute, about a kind that is never run here.
inline constexpr const char* kSkippedBySubclass =
    "BundlePackage::execute: subclass indicated package should be skipped; skipping package";

// The end of a run, per kind: the record before the package path of a run
// that returned, the one before the path of a package that did not start,
// and the exception text of a missing package.
inline constexpr const char* kQpkReturned = "BundlePackageQPK::execute: QPK ";
inline constexpr const char* kQpkPackageMissing = "BundlePackageQPK::execute: QPK package missing: ";
inline constexpr const char* kQpkMissing = "BundlePackageQPK::execute: QPK missing";
inline constexpr const char* kMspReturned = "BundlePackageMSP::execute: MSP ";
inline constexpr const char* kMspPackageMissing = "BundlePackageMSP::execute: MSP package missing: ";
inline constexpr const char* kMspMissing = "BundlePackageMSP::execute: MSP missing";
inline constexpr const char* kMsiReturned = "BundlePackageMSI::execute: MSI ";
inline constexpr const char* kMsiPackageMissing = "BundlePackageMSI::execute: MSI package missing: ";
inline constexpr const char* kMsiMissing = "BundlePackageMSI::execute: MSI missing";
inline constexpr const char* kMsiEngineMissing = "BundlePackageMSI::execute: MSI Engine upgrade package missing.";

// The mapping of a self-contained program's exit code.
inline constexpr const char* kQpkFailed = "BundlePackageQPK::execute: QPK failed, reporting failure";
inline constexpr const char* kQpkRebootRequired = "BundlePackageQPK::execute: QPK requires reboot";
inline constexpr const char* kQpkResumeRequired = "BundlePackageQPK::execute: QPK requires resume after reboot";
inline constexpr const char* kQpkNotTerminated = "BundlePackageQPK::execute: QPK did not terminate properly";

// The installer's run, its retries and the engine upgrade.
inline constexpr const char* kMsiExecuting = "BundlePackageMSI::execute: executing MSI.  CommandLine=";
inline constexpr const char* kMsiFirstRunComplete =
    "BundlePackageMSI::execute: VorkExecuteProgram complete: MSIExecutionSuccessful = ";
inline constexpr const char* kMsiRunComplete = "BundlePackageMSI::execute: VorkExecuteProgram complete: command = ";
inline constexpr const char* kMsiExecute = "BundlePackageMSI::execute: ";
inline constexpr const char* kMsiCheckingFor = "BundlePackageMSI::execute: checking for ";
inline constexpr const char* kMsiSettingDirectory =
    "BundlePackageMSI::execute: setting current directory for MSI upgrade to ";
inline constexpr const char* kMsiResettingDirectory = "BundlePackageMSI::execute: resetting current directory to ";
inline constexpr const char* kMsiEngineFailed =
    "BundlePackageMSI::execute: MSI Engine Upgrade returned a failure code of:";
inline constexpr const char* kMsiFailed = "BundlePackageMSI::execute: MSI failed, reporting failure";
inline constexpr const char* kMsiRebootRequired = "BundlePackageMSI::execute: MSI requires reboot";
} // namespace Packages

// ---- functions ------------------------------------------------------------
namespace Functions {
inline constexpr const char* kCleanRemovingInternalLog = "CleanFunctionDispatch::execute: removing internal XML log file : ";
inline constexpr const char* kCleanResources = "CleanFunctionDispatch::execute: cleaning up resources for updateid=";
inline constexpr const char* kCleanNoUpdateId = "CleanFunctionDispatch::execute: no updateid specified";
inline constexpr const char* kProgressNoUpdate = "ProgressFunctionDispatch::execute: No update in progress";
inline constexpr const char* kProgressFoundLog = "ProgressFunctionDispatch::execute: found log file: |";
inline constexpr const char* kUpdateUsingId = "UpdateFunctionDispatch::execute: using updateid=";
inline constexpr const char* kUpdateNoUpdateId = "UpdateFunctionDispatch::execute: no updateid specified";
inline constexpr const char* kUpdateStarting = "UpdateFunctionDispatch::execute: starting new update";
inline constexpr const char* kUpdateRemovingPrior = "UpdateFunctionDispatch::execute: removing prior update with same updateid";
} // namespace Functions

// ---- resume and the reboot --------------------------------------------------
namespace Resume {
inline constexpr const char* kUsingUpdateId = "ResumeFunctionDispatch::execute: using updateid=";
inline constexpr const char* kNoUpdateId = "ResumeFunctionDispatch::execute: no updateid specified";
inline constexpr const char* kIncorrectUpdateId = "ResumeFunctionDispatch::execute: trying to resume incorrect update-id";
inline constexpr const char* kNothingToResume = "ResumeFunctionDispatch::execute: no incomplete update found";
inline constexpr const char* kResumeState = "ResumeFunctionDispatch::execute: Resume update: ";
inline constexpr const char* kRemovingService = "ResumeFunctionDispatch::execute: update completed, removing service";
inline constexpr const char* kServiceRemoved = "ResumeFunctionDispatch::execute: update completed, service removed";
} // namespace Resume

} // namespace FixedLogText
