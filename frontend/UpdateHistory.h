#pragma once
#include <cstdio>
#include <string>
#include <vector>

// The updates whose final logs are kept in the state folder (<update
// id>.xml beside the internal log), newest first. Read-only: the logs are
// read as they lie, without the exclusive-update lock; a file that is not a
// readable status log is listed as unreadable.
class UpdateHistory {
public:
    struct Row {
        std::string file;
        bool readable = false;
        std::string updateId;
        std::string date;
        long status = 0;
        std::string message;
        int run = 0;
        int failed = 0;
        int skipped = 0;
        int missing = 0;
        int restarts = 0;
    };

    // The state folder: $windir/TEMP, else the user's state directory's TEMP.
    static std::string folder();
    // False (with errorText set) when the folder exists and cannot be read;
    // a folder that does not exist holds no history.
    bool read(const std::string& folder);

    const std::vector<Row>& rows() const { return m_rows; }
    const std::string& errorText() const { return m_sError; }

    void print(std::FILE* out) const;
    std::string json(int exitCode) const;

private:
    std::vector<Row> m_rows;
    std::string m_sError;
};
