#pragma once
#include <cstdint>

// The host's common services.
extern "C" {

// Prepares the process environment for the host libraries; answers 0.
__attribute__((visibility("default"))) int ZCSSetProcessEnvironment(void);

// Appends one record to the host's command log: the file named by
// $ZUA_CMDLOG, else /var/log/zua/cmdlog for root, else the user's state
// directory. One line per record; texts are escaped so no record can span
// lines; appends from several processes never interleave. Answers 0 on
// success, another value on failure.
// Record: the fields below separated by one TAB, ended by one LF:
//   time (ISO-8601 UTC, "2026-12-09T07:46:17Z"), command id, type (both
//   decimal), source, description, user information.
// In the three texts a backslash becomes two backslashes, a LF the two
// characters backslash 'n', a TAB backslash 't', and any other control
// character backslash 'x' and two upper-case hex digits; a null text is
// empty. The file is created mode 0600, its directory when missing.
__attribute__((visibility("default"))) int
ZCSAppendToCmdLog(uint32_t commandId, const char* userInfo, const char* source, const char* description, uint16_t type);

// Converts a NUL-terminated UTF-16 text to UTF-8.
//  - buffer null: stores in *size the bytes needed for the text and its NUL;
//    answers 0.
//  - buffer given: *size is its capacity; when that is enough, writes the text
//    and its NUL and answers 0; otherwise writes nothing past the capacity,
//    stores the size needed and answers a non-zero status.
//  - An unpaired surrogate becomes U+FFFD. A null text or size answers non-zero.
__attribute__((visibility("default"))) int ZCSUCS2StrToUTF8Str(char* buffer, uint32_t* size, const char16_t* text);
}
