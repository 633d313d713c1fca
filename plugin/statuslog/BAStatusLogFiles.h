#pragma once
#include <string>

// The file work of status logs, apart from the log's contents: a log file
// and its journal (BAJournal) go, are folded together, are moved to their
// final name or aside. Every file call passes through the fault seam.
class BAStatusLogFiles {
public:
    // Whether fileName has a journal beside it.
    static bool hasJournal(const std::string& fileName);
    // Deletes a status log file and its journal (the file first: a journal
    // without its file is never replayed).
    static void remove(const std::string& fileName);
    // Writes a status log file whole with its journal replayed and drops the
    // journal, so that the file alone tells the whole log. Nothing when it
    // has no journal; a journal without its file goes. False when the file
    // cannot be written (both files then stay as they were).
    [[nodiscard]] static bool fold(const std::string& fileName, bool privateFile);
    // Renames a log durably; with noReplace never over another file. False
    // on any failure (errno tells why).
    [[nodiscard]] static bool moveTo(const std::string& fileName, const std::string& newName, bool noReplace);
    // Moves a log, with its journal, aside as "<fileName>.<tag>-<UTC time>"
    // (a number added when that is taken), never over another file. The new
    // name, or "" (errno tells why) when it stays where it is.
    static std::string moveAside(const std::string& fileName, const std::string& tag);
    // The name "<fileName>.<tag>-<UTC time>" that moveAside tries first.
    static std::string asideName(const std::string& fileName, const std::string& tag);
};
