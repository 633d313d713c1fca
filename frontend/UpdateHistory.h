#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "HistoryRecord.h"

// The updates this machine ran, newest first: the final logs kept in the
// state folder (<update id>.xml beside the internal log) and the entries of
// its history folder (the answer of every update and resume call that held
// the lock, HistoryLayout). The calls of one update (an update that
// restarted the machine and the resumes that went on with it) are one row,
// the newest of them; a final log and the entry of the same answer are one
// row, the final log. Read-only: the files are read as they lie, without the
// exclusive-update lock, each in bounded memory (HistoryRecord); a file
// that is not a readable status log, and a history folder that is not the
// caller's own, are listed as unreadable and never followed.
class UpdateHistory {
public:
    // A file's summary (read without its packages) and where it lies; an
    // update without an id has updateId "".
    struct Row : HistoryRecord {
        std::string file;
    };

    // The state folder: $windir/TEMP, else the user's state directory's TEMP.
    static std::string folder();
    // False (with errorText set) when the folder exists and cannot be read;
    // a folder that does not exist holds no history.
    bool read(const std::string& folder);

    const std::vector<Row>& rows() const { return m_rows; }
    const std::string& errorText() const { return m_sError; }
    // The newest readable row of an update id; null when there is none.
    const Row* find(const std::string& updateId) const;

    void print(std::FILE* out) const;
    std::string json(int exitCode) const;

    // One update in full: its row, then each package with its result, code,
    // runs and the text of its last log.
    static void printUpdate(std::FILE* out, const Row& row, const HistoryRecord& record);
    static std::string updateJson(const Row& row, const HistoryRecord& record, int exitCode);

private:
    std::vector<Row> m_rows;
    std::string m_sError;
};
