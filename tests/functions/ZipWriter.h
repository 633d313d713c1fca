#pragma once
#include <string>
#include <vector>

// Builds zip archives for tests with libarchive's writer, hostile ones
// included (names that climb out, links, device entries, encryption).
class ZipWriter {
public:
    enum class Kind { File, Directory, Symlink };

    // Adds an entry; for links, target names what the link points at.
    ZipWriter& add(const std::string& name, const std::string& content = "", unsigned mode = 0644,
                   Kind kind = Kind::File, const std::string& target = "");
    ZipWriter& file(const std::string& name, const std::string& content, unsigned mode = 0644) {
        return add(name, content, mode, Kind::File);
    }
    // Encrypts every file entry with a password.
    ZipWriter& encrypted(bool on = true) {
        m_encrypted = on;
        return *this;
    }
    // Writes the archive; false when libarchive refused.
    bool write(const std::string& path) const;

    // Rewrites the Unix mode (file type bits included) that the central
    // directory records for the first entry: the zip writer refuses device
    // entries, a hostile archive need not.
    static bool setFirstEntryMode(const std::string& path, unsigned mode);

private:
    struct Entry {
        std::string name;
        std::string content;
        unsigned mode;
        Kind kind;
        std::string target;
    };
    std::vector<Entry> m_entries;
    bool m_encrypted = false;
};
