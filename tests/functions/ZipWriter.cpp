#include "ZipWriter.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <memory>

ZipWriter& ZipWriter::add(const std::string& name, const std::string& content, unsigned mode, Kind kind,
                          const std::string& target) {
    m_entries.push_back(Entry{name, content, mode, kind, target});
    return *this;
}

bool ZipWriter::write(const std::string& path) const {
    std::unique_ptr<archive, int (*)(archive*)> writer(archive_write_new(), archive_write_free);
    if (archive_write_set_format_zip(writer.get()) != ARCHIVE_OK) return false;
    if (m_encrypted) {
        if (archive_write_set_options(writer.get(), "zip:encryption=zipcrypt") != ARCHIVE_OK) return false;
        if (archive_write_set_passphrase(writer.get(), "secret") != ARCHIVE_OK) return false;
    }
    if (archive_write_open_filename(writer.get(), path.c_str()) != ARCHIVE_OK) return false;
    for (const Entry& e : m_entries) {
        std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(), archive_entry_free);
        archive_entry_set_pathname(entry.get(), e.name.c_str());
        archive_entry_set_perm(entry.get(), e.mode);
        switch (e.kind) {
            case Kind::File:
                archive_entry_set_filetype(entry.get(), AE_IFREG);
                archive_entry_set_size(entry.get(), static_cast<la_int64_t>(e.content.size()));
                break;
            case Kind::Directory:
                archive_entry_set_filetype(entry.get(), AE_IFDIR);
                archive_entry_set_size(entry.get(), 0);
                break;
            case Kind::Symlink:
                archive_entry_set_filetype(entry.get(), AE_IFLNK);
                archive_entry_set_symlink(entry.get(), e.target.c_str());
                archive_entry_set_size(entry.get(), 0);
                break;
        }
        if (archive_write_header(writer.get(), entry.get()) < ARCHIVE_WARN) return false;
        if (!e.content.empty() && e.kind == Kind::File) {
            if (archive_write_data(writer.get(), e.content.data(), e.content.size()) < 0) return false;
        }
    }
    return archive_write_close(writer.get()) == ARCHIVE_OK;
}

bool ZipWriter::setFirstEntryMode(const std::string& path, unsigned mode) {
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string::size_type header = bytes.find(std::string("PK\x01\x02", 4));
    if (header == std::string::npos || header + 42 > bytes.size()) return false;
    // Version made by: Unix, so readers take the mode from the high half.
    bytes[header + 5] = 3;
    unsigned attributes = mode << 16;
    for (int i = 0; i < 4; ++i) bytes[header + 38 + i] = static_cast<char>((attributes >> (8 * i)) & 0xff);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}
