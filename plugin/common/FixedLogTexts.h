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
inline constexpr const char* kPkgLogTextNotCreated = "BAXMLPackageNode::setPackageLog: could not create PkgLog text node";
inline constexpr const char* kDroppingLoggingStarted = "BAXMLPackageNode::setPackageLog: getting rid of '=== Logging started:' (size before = ";
inline constexpr const char* kDroppingLoggingStopped = "BAXMLPackageNode::setPackageLog: getting rid of '=== Logging stopped:' (size before == ";
inline constexpr const char* kTrimming = "BAXMLPackageNode::setPackageLog: trimming string (size before == ";
inline constexpr const char* kConvertingToUtf8 = "BAXMLPackageNode::setPackageLog: converting to UTF-8 (size before == ";
inline constexpr const char* kUtf8SizeFailed = "BAXMLPackageNode::ConvertWideToUtf8: Error getting size of required buffer; SM_STATUS = ";
inline constexpr const char* kUtf8ConversionFailed = "BAXMLPackageNode::ConvertWideToUtf8: Error converting string; SM_STATUS = ";
inline constexpr const char* kSkippedPkgLogNotCreated = "BAXMLPackageNode::createSkippedPackage: could not create PkgLog node";
inline constexpr const char* kNoSuchNode = "BAAnyXMLDoc::getFirstNode: Node does not exist";
inline constexpr const char* kDefaultStartFiles = "BAXMLDoc::getBundleStartParameters: found BundlePackage element, using default bundle.xml and relocation.xml";
inline constexpr const char* kStartFilesFromBundle = "BAXMLDoc::getBundleStartParameters: no BundlePackage element, using bundle and relocation attributes from Bundle element";
inline constexpr const char* kRelocationNotFound = "BAXMLDoc::getBundleStartParameters: relocation file not found, using no relocation file";
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
inline constexpr const char* kNoBundlePath = "BundleApplicatorBase::processBundleParameters: no bundlepath parameter found";
} // namespace Bundle

// ---- packages -------------------------------------------------------------
namespace Packages {
} // namespace Packages

// ---- functions ------------------------------------------------------------
namespace Functions {
} // namespace Functions

// ---- resume and the reboot --------------------------------------------------
namespace Resume {
} // namespace Resume

} // namespace FixedLogText
