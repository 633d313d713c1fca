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
} // namespace Resume

} // namespace FixedLogText
