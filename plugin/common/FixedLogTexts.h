#pragma once

// Debug-log texts that are kept word for word although they name a function
// other than the one that now logs them: operators' tools and runbooks match
// them as they stand. Every other log record names the function it stands in
// (scripts/check-log-names.py holds the tree to that); a record that must
// keep an older name takes its text from here, so the exception is visible.
namespace FixedLogText {

// ---- status log -----------------------------------------------------------
namespace StatusLog {
inline constexpr const char* kPackageNotCreated = "BAXMLPackageNode::BAXMLPackageNode: could not create log Package: ";
inline constexpr const char* kStatusNotCreated = "BAXMLPackageNode::BAXMLPackageNode: could not create Status node";
inline constexpr const char* kExeCmdNotCreated = "BAXMLPackageNode::BAXMLPackageNode: could not create ExeCmd node";
inline constexpr const char* kPkgLogNotCreated = "BAXMLPackageNode::setPackageLog: could not create PkgLog node";
inline constexpr const char* kPkgLogTextNotCreated =
    "BAXMLPackageNode::setPackageLog: could not create PkgLog text node";
inline constexpr const char* kDroppingLoggingStarted =
    "BAXMLPackageNode::setPackageLog: getting rid of '=== Logging started:' (size before = ";
inline constexpr const char* kDroppingLoggingStopped =
    "BAXMLPackageNode::setPackageLog: getting rid of '=== Logging stopped:' (size before == ";
inline constexpr const char* kTrimming = "BAXMLPackageNode::setPackageLog: trimming string (size before == ";
inline constexpr const char* kConvertingToUtf8 =
    "BAXMLPackageNode::setPackageLog: converting to UTF-8 (size before == ";
inline constexpr const char* kUtf8SizeFailed =
    "BAXMLPackageNode::ConvertWideToUtf8: Error getting size of required buffer; SM_STATUS = ";
inline constexpr const char* kUtf8ConversionFailed =
    "BAXMLPackageNode::ConvertWideToUtf8: Error converting string; SM_STATUS = ";
inline constexpr const char* kSkippedPkgLogNotCreated =
    "BAXMLPackageNode::createSkippedPackage: could not create PkgLog node";
inline constexpr const char* kNoSuchNode = "BAAnyXMLDoc::getFirstNode: Node does not exist";
inline constexpr const char* kDefaultStartFiles =
    "BAXMLDoc::getBundleStartParameters: found BundlePackage element, using default bundle.xml and relocation.xml";
inline constexpr const char* kStartFilesFromBundle =
    "BAXMLDoc::getBundleStartParameters: no BundlePackage element, using bundle and relocation attributes from Bundle element";
inline constexpr const char* kRelocationNotFound =
    "BAXMLDoc::getBundleStartParameters: relocation file not found, using no relocation file";
inline constexpr const char* kNoRelocation = "BAXMLDoc::getBundleStartParameters: using no relocation file";
inline constexpr const char* kRenamed = "BAXMLDoc::cleanup: renamed internal log file: ";
inline constexpr const char* kRenameFailed = "BAXMLDoc::cleanup: unable to rename internal log file: ";
inline constexpr const char* kRenameErrno = "BAXMLDoc::cleanup: errno: ";
} // namespace StatusLog

// ---- bundle ---------------------------------------------------------------
namespace Bundle {
inline constexpr const char* kCreatingPackage = "Bundle::Bundle: creating BundlePackage: releaseID: ";
inline constexpr const char* kPackageFailed = "Bundle::execute: package failed";
inline constexpr const char* kPackageNeedsReboot = "Bundle::execute: package requires reboot before complete";
inline constexpr const char* kPackageNeedsRestart = "Bundle::execute: package requires restart before complete";
inline constexpr const char* kBundleParameter = "BundleApplicatorBase::processBundleParameters: ";
inline constexpr const char* kNoBundlePath =
    "BundleApplicatorBase::processBundleParameters: no bundlepath parameter found";
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
inline constexpr const char* kCleanRemovingInternalLog =
    "CleanFunctionDispatch::execute: removing internal XML log file : ";
inline constexpr const char* kCleanResources = "CleanFunctionDispatch::execute: cleaning up resources for updateid=";
inline constexpr const char* kCleanNoUpdateId = "CleanFunctionDispatch::execute: no updateid specified";
inline constexpr const char* kProgressNoUpdate = "ProgressFunctionDispatch::execute: No update in progress";
inline constexpr const char* kProgressFoundLog = "ProgressFunctionDispatch::execute: found log file: |";
inline constexpr const char* kUpdateUsingId = "UpdateFunctionDispatch::execute: using updateid=";
inline constexpr const char* kUpdateNoUpdateId = "UpdateFunctionDispatch::execute: no updateid specified";
inline constexpr const char* kUpdateStarting = "UpdateFunctionDispatch::execute: starting new update";
inline constexpr const char* kUpdateRemovingPrior =
    "UpdateFunctionDispatch::execute: removing prior update with same updateid";
} // namespace Functions

// ---- resume and the reboot --------------------------------------------------
namespace Resume {
inline constexpr const char* kUsingUpdateId = "ResumeFunctionDispatch::execute: using updateid=";
inline constexpr const char* kNoUpdateId = "ResumeFunctionDispatch::execute: no updateid specified";
inline constexpr const char* kIncorrectUpdateId =
    "ResumeFunctionDispatch::execute: trying to resume incorrect update-id";
inline constexpr const char* kNothingToResume = "ResumeFunctionDispatch::execute: no incomplete update found";
inline constexpr const char* kResumeState = "ResumeFunctionDispatch::execute: Resume update: ";
inline constexpr const char* kRemovingService = "ResumeFunctionDispatch::execute: update completed, removing service";
inline constexpr const char* kServiceRemoved = "ResumeFunctionDispatch::execute: update completed, service removed";
} // namespace Resume

} // namespace FixedLogText
