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
