#pragma once
#include <sys/types.h>

#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

namespace VorkCommon {

// The history folder as its writer (the plug-in, at the end of every update
// and resume call that held the lock) and its reader (the console's
// -history) both know it: the folder "history" inside the state folder, one
// file per call, holding the call's answer. An entry's name sorts by the
// time it was kept: "<UTC yyyymmddThhmmss>.<nanoseconds>Z-<pid>-<call>.xml",
// the call being "update" or "resume". The newest kMaxEntries entries are
// kept, and together at most kMaxBytes; the oldest go first.
class HistoryLayout {
public:
    enum class Call { Update, Resume };

    static constexpr const char* kFolderName = "history";
    static constexpr std::size_t kMaxEntries = 200;
    static constexpr long long kMaxBytes = 64LL * 1024 * 1024;

    struct Entry {
        Call call = Call::Update;
        // The time part of the name, fixed width: names sort as it does.
        std::string when;
    };

    static const char* callName(Call call) { return call == Call::Resume ? "resume" : "update"; }

    static std::string entryName(Call call, const timespec& when, pid_t pid) {
        std::tm utc{};
        gmtime_r(&when.tv_sec, &utc);
        char seconds[32];
        std::strftime(seconds, sizeof seconds, "%Y%m%dT%H%M%S", &utc);
        char name[96];
        std::snprintf(name, sizeof name, "%s.%09ldZ-%ld-%s.xml", seconds, static_cast<long>(when.tv_nsec),
                      static_cast<long>(pid), callName(call));
        return name;
    }

    // What an entry's name tells; nothing for any other name.
    static std::optional<Entry> parseName(const std::string& name) {
        // yyyymmddThhmmss.nnnnnnnnnZ-
        constexpr std::size_t kTimeLength = 26;
        if (name.size() <= kTimeLength + 1) return std::nullopt;
        for (std::size_t i = 0; i < kTimeLength; ++i) {
            const char c = name[i];
            const bool fits = i == 8 ? c == 'T' : i == 15 ? c == '.' : i == 25 ? c == 'Z' : (c >= '0' && c <= '9');
            if (!fits) return std::nullopt;
        }
        std::size_t at = kTimeLength;
        if (name[at++] != '-') return std::nullopt;
        const std::size_t digits = at;
        while (at < name.size() && name[at] >= '0' && name[at] <= '9') ++at;
        if (at == digits || at >= name.size() || name[at++] != '-') return std::nullopt;
        const std::string rest = name.substr(at);
        Entry entry;
        entry.when = name.substr(0, kTimeLength);
        if (rest == std::string(callName(Call::Update)) + ".xml") entry.call = Call::Update;
        else if (rest == std::string(callName(Call::Resume)) + ".xml") entry.call = Call::Resume;
        else return std::nullopt;
        return entry;
    }
};

} // namespace VorkCommon
