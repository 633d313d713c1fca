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
} // namespace Resume

} // namespace FixedLogText
