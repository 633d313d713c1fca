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
    // What an extraction must leave free of the target's file system: 5 %,
    // and never less than this.
    static constexpr std::uint64_t kMinFreeBytes = 256ULL * 1024 * 1024;

    // Test seam: how the free and total bytes of the file system that holds
    // a directory are found (statvfs when null); false when they cannot be.
    using SpaceProbe = bool (*)(const std::string& directory, std::uint64_t& freeBytes, std::uint64_t& totalBytes);
    static void setSpaceProbe(SpaceProbe probe);

    explicit BundleArchive(std::string packageFile);
    ~BundleArchive();
    BundleArchive(const BundleArchive&) = delete;
    BundleArchive& operator=(const BundleArchive&) = delete;

    // Extracts every entry into directory (made with mode 0700 when missing).
    // Before anything is written, the bytes the entries hold are counted and
    // compared with the free space of the directory's file system: an
    // archive that would leave less than kMinFreeBytes, or less than 5 % of
    // the file system, free is refused, as is one whose entries turn out
    // larger than they declared. A package that is not a regular file (a
    // pipe, a device) is refused without waiting for it.
    [[nodiscard]] bool extractTo(const std::string& directory);

private:
    struct ReaderCloser {
        void operator()(archive* reader) const;
    };

    bool open(const std::string& directory);
    // A reader over the package from its start.
    bool openReader();
    // Counts the bytes the entries hold into m_nNeeded (reading the entries
    // that do not declare their size); false on a bad archive.
    bool measure();
    // Whether the directory's file system has room for m_nNeeded bytes and
    // what must stay free; sets m_nRoom.
    bool roomFor(const std::string& directory);
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
    std::uint64_t m_nNeeded = 0;
    std::uint64_t m_nRoom = kMaxExtractedBytes;
    VorkSupport::FileHandle m_package;
    std::vector<char> m_buffer;
};
