#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FileHandle.h"

struct archive;
struct archive_entry;

// A zipped bundle package, extracted whole into a directory. Every entry
// lands below that directory: both separators split a stored name, and
// empty, "." and ".." parts are dropped; stored directories are created,
// files replaced, and no symbolic link on the way is ever followed. Link,
// device and encrypted entries are refused, as is an archive beyond the
// bounds of one bundle. Any refusal or error fails the whole extraction and
// is logged at level 1.
class BundleArchive {
public:
    // The work one bundle package may demand.
    static constexpr std::uint64_t kMaxExtractedBytes = 16ULL * 1024 * 1024 * 1024;
    static constexpr std::uint64_t kMaxEntries = 100000;

    explicit BundleArchive(std::string packageFile);
    ~BundleArchive();
    BundleArchive(const BundleArchive&) = delete;
    BundleArchive& operator=(const BundleArchive&) = delete;

    // Extracts every entry into directory (made with mode 0700 when missing).
    [[nodiscard]] bool extractTo(const std::string& directory);

private:
    struct ReaderCloser {
        void operator()(archive* reader) const;
    };

    bool open(const std::string& directory);
    // Whether the entry may be extracted at all: the count, encryption,
    // links and the size it declares.
    bool admit(archive_entry* entry, const std::string& name);
    bool extractEntry(archive_entry* entry, const std::string& name);
    bool extractFile(archive_entry* entry, const std::string& name, const std::vector<std::string>& parts);
    // Copies the entry's data, counting it against the bounds.
    bool copyData(int fd, const std::string& name);
    const char* readerError() const;

    std::string m_sPackageFile;
    std::unique_ptr<archive, ReaderCloser> m_reader;
    VorkSupport::FileHandle m_root;
    std::uint64_t m_nEntries = 0;
    std::uint64_t m_nExtractedBytes = 0;
    std::vector<char> m_buffer;
};
