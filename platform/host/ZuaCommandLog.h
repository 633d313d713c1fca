#pragma once
#include <cstdint>
#include <string>

// The host's command log: one line per record, appended durably.
//
// Record format (fields separated by one tab, the line ended by '\n'):
//   <time>\t<command id>\t<type>\t<source>\t<description>\t<user information>
// <time> is ISO-8601 UTC ("2026-12-09T07:46:17Z"); command id and type are
// decimal. In every text a backslash is written as "\\", a newline as "\n", a
// tab as "\t" and any other control character as "\xHH", so no text can end a
// record or add a field.
class ZuaCommandLog {
public:
    // The log file: $ZUA_CMDLOG, else /var/log/zua/cmdlog for root, else
    // $XDG_STATE_HOME/zua/cmdlog (or ~/.local/state/zua/cmdlog).
    static std::string fileName();

    // One whole record line for these values (with its newline).
    static std::string formatRecord(uint32_t commandId, const char* userInfo, const char* source,
                                    const char* description, uint16_t type);
    // Escapes one text as described above (null gives "").
    static std::string escape(const char* text);

    // Appends one record under an exclusive lock and flushes it to disk.
    // Answers 0, or an errno value on failure.
    static int append(const std::string& record);
};
