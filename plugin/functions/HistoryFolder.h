#pragma once
#include <string>

#include "HistoryLayout.h"

// The record of every update and resume call that held the lock: its final
// answer, kept as a new entry of the history folder inside the state folder
// (HistoryLayout), made through the atomic writer (mode 0600, a folder of
// mode 0700 that must be the caller's own). Before an entry is added, the
// oldest go until the newest ones and the new one fit the bounds. An entry
// that cannot be kept (a full disk, a folder that is not ours) costs one
// debug record, never the call's answer.
class HistoryFolder {
public:
    using Call = VorkCommon::HistoryLayout::Call;

    // Keeps answer in the state folder's history and hands it back as it
    // came. A call keeps it once it has let the lock go, before it asks for
    // any restart (FunctionCall::keepAnswer). Never raises.
    static std::string keep(Call call, std::string answer);
    // The same in the given state folder; false when the entry was not kept.
    static bool keepIn(const std::string& stateFolder, Call call, const std::string& answer);

private:
    // Removes the oldest entries until the newest ones leave room for one
    // more of newSize bytes, and the remains of writes killed long ago.
    static void makeRoom(int folder, const std::string& name, long long newSize);
};
