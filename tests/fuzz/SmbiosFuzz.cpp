// libFuzzer target: the input describes a memory image, or the kernel's copy
// of the table, which goes through the table build, the walk, the items and
// the system identifier.
//
// Input: a run of chunks, each a 4-byte little-endian physical address (the
// top byte is ignored, so images stay below 16 MiB), a 2-byte little-endian
// length and that many bytes (fewer when the input ends). The image is a
// sparse file of at least 1 MiB, zero where no chunk lands. An input that
// begins with "K" is the kernel's copy instead: its second byte is the size
// of smbios_entry_point, those bytes follow, and the rest is the DMI file
// (the memory image is then all zeros).
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "FuzzSandbox.h"
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
        path = FuzzSandbox::instance().path("smbios-image-XXXXXX");
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

// The directory of the kernel's copy; PLIMO_DMI_DIR names it only for
// inputs that describe one.
struct KernelDir {
    std::string path;
    KernelDir() {
        path = FuzzSandbox::instance().path("smbios-dmi-XXXXXX");
        if (::mkdtemp(path.data()) == nullptr) std::abort();
    }
    ~KernelDir() {
        ::unlink((path + "/smbios_entry_point").c_str());
        ::unlink((path + "/DMI").c_str());
        ::rmdir(path.c_str());
    }
    void write(const char* name, const std::uint8_t* data, std::size_t size) const {
        const std::string file = path + "/" + name;
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || (size != 0 && ::write(fd, data, size) != static_cast<ssize_t>(size))) std::abort();
        ::close(fd);
    }
};

// True when the input was a kernel's copy, written into dir.
bool writeKernelCopy(const KernelDir& dir, const std::uint8_t* data, std::size_t size) {
    if (size < 2 || data[0] != 'K') {
        ::setenv("PLIMO_DMI_DIR", (dir.path + "/none").c_str(), 1);
        return false;
    }
    const std::size_t entryPointSize = data[1] < size - 2 ? data[1] : size - 2;
    dir.write("smbios_entry_point", data + 2, entryPointSize);
    dir.write("DMI", data + 2 + entryPointSize, size - 2 - entryPointSize);
    ::setenv("PLIMO_DMI_DIR", dir.path.c_str(), 1);
    return true;
}

void exerciseItem(const smbios::ISmbiosItem& item) {
    for (unsigned n : {0u, 1u, 2u, 3u, 5u, 255u}) {
        try {
            const char* text = item.stringByNumber(static_cast<std::uint8_t>(n));
            volatile std::size_t length = std::string(text).size();
            (void)length;
        } catch (const smbios::IException&) {}
    }
    std::uint8_t buffer[256];
    for (std::size_t offset : {std::size_t{0}, std::size_t{4}, std::size_t{6}, std::size_t{8}, std::size_t{255}}) {
        for (std::size_t length : {std::size_t{1}, std::size_t{2}, std::size_t{16}, ~std::size_t{0}}) {
            try {
                item.readData(offset, buffer, length);
            } catch (const smbios::IException&) {}
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ImageFile image;
    static KernelDir kernel;
    if (writeKernelCopy(kernel, data, size)) writeImage(image, data, 0);
    else writeImage(image, data, size);
    smbios::SmbiosFactory::resetForTesting();

    volatile int id = getSystemId();
    (void)id;

    try {
        smbios::ISmbiosTable& table = *smbios::SmbiosFactory::getFactory()->getTable();
        int walked = 0;
        for (auto it = table.begin(); it != table.end(); ++it) {
            if (++walked > 70000) std::abort(); // more structures than bytes: an endless walk
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
        } catch (const smbios::IException&) {}
    } catch (const smbios::IException&) {}
    return 0;
}
