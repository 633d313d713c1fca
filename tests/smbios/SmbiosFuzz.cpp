// libFuzzer target: the input describes a memory image, which goes through
// the table build, the walk, the items and the system identifier.
//
// Input: a run of chunks, each a 4-byte little-endian physical address (the
// top byte is ignored, so images stay below 16 MiB), a 2-byte little-endian
// length and that many bytes (fewer when the input ends). The image is a
// sparse file of at least 1 MiB, zero where no chunk lands.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "IException.h"
#include "ISmbiosTable.h"
#include "MemoryFactory.h"
#include "SmbiosFactory.h"
#include "SystemId.h"

namespace {

struct ImageFile {
    std::string path;
    int fd = -1;
    std::vector<std::pair<std::uint64_t, std::size_t>> written;
    ImageFile() {
        const char* dir = std::getenv("TMPDIR");
        path = std::string(dir && *dir ? dir : "/tmp") + "/smbios-fuzz-XXXXXX";
        fd = ::mkstemp(path.data());
        if (fd < 0) std::abort();
        if (::ftruncate(fd, 0x100000) != 0) std::abort();
        ::setenv("PLIMO_MEMFILE", path.c_str(), 1);
    }
    ~ImageFile() {
        ::close(fd);
        ::unlink(path.c_str());
    }
};

// Each input starts from an all-zero image of 1 MiB. The bytes of the last
// input are overwritten with zeros rather than truncating the file to
// nothing, which some file systems answer with a flush to disk every time.
void writeImage(ImageFile& image, const std::uint8_t* data, std::size_t size) {
    static const std::uint8_t zeros[0x10000] = {};
    for (const auto& [address, length] : image.written) {
        if (::pwrite(image.fd, zeros, length, static_cast<off_t>(address)) < 0) std::abort();
    }
    image.written.clear();
    if (::ftruncate(image.fd, 0x100000) != 0) std::abort();
    std::size_t at = 0;
    while (at + 6 <= size) {
        std::uint64_t address = data[at] | (data[at + 1] << 8) | (data[at + 2] << 16);
        std::size_t length = data[at + 4] | (data[at + 5] << 8);
        at += 6;
        if (length > size - at) length = size - at;
        if (length != 0) {
            if (::pwrite(image.fd, data + at, length, static_cast<off_t>(address)) < 0) std::abort();
            image.written.emplace_back(address, length);
        }
        at += length;
    }
}

void exerciseItem(const smbios::ISmbiosItem& item) {
    for (unsigned n : {0u, 1u, 2u, 3u, 5u, 255u}) {
        try {
            const char* text = item.stringByNumber(static_cast<std::uint8_t>(n));
            volatile std::size_t length = std::string(text).size();
            (void)length;
        } catch (const smbios::IException&) {
        }
    }
    std::uint8_t buffer[256];
    for (std::size_t offset : {std::size_t{0}, std::size_t{4}, std::size_t{6}, std::size_t{8}, std::size_t{255}}) {
        for (std::size_t length : {std::size_t{1}, std::size_t{2}, std::size_t{16}, ~std::size_t{0}}) {
            try {
                item.readData(offset, buffer, length);
            } catch (const smbios::IException&) {
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ImageFile image;
    writeImage(image, data, size);
    smbios::SmbiosFactory::resetForTesting();

    volatile int id = getSystemId();
    (void)id;

    try {
        smbios::ISmbiosTable& table = *smbios::SmbiosFactory::getFactory()->getTable();
        int walked = 0;
        for (auto it = table.begin(); it != table.end(); ++it) {
            if (++walked > 70000) std::abort();   // more structures than bytes: an endless walk
            exerciseItem(*it);
            for (auto typed = table.begin(it->getType()); typed != table.end(); ++typed) {
                if (typed->getType() != it->getType()) std::abort();
                break;
            }
        }
        const smbios::ISmbiosTable& constTable = table;
        for (auto it = constTable.begin(11); it != constTable.end(); ++it) exerciseItem(*it);
        try {
            *table.end();
        } catch (const smbios::IException&) {
        }
    } catch (const smbios::IException&) {
    }
    return 0;
}
