// libFuzzer target: the input is a zipped bundle package, extracted as the
// plug-in extracts one (extractBundlePackage) into a folder of the sandbox,
// on a file system said to have room for kRoom bytes beyond what must stay
// free. What lands there must be plain files and folders within that room,
// and nothing else in the sandbox may change; the folder then goes as the
// plug-in removes an extracted bundle. A package that extracted is validated
// whole through the plug-in's "validate" (bundlepackage), which extracts it
// again into a new folder of its own and must remove that one as well.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "BundleApplicatorBase.h"
#include "BundleArchive.h"
#include "FuzzSandbox.h"
#include "FuzzValidation.h"
#include "VorkException.h"
#include "VorkRemoveDirectory.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kRoom = 4 * 1024 * 1024;

bool fixedSpace(const std::string&, std::uint64_t& freeBytes, std::uint64_t& totalBytes) {
    totalBytes = 1024ULL * 1024 * 1024;
    freeBytes = BundleArchive::kMinFreeBytes + kRoom;
    return true;
}

[[noreturn]] void finding(const std::string& what) {
    std::fprintf(stderr, "ArchiveFuzz: %s\n", what.c_str());
    std::abort();
}

// Every path below the sandbox but those below skip, with its type and, for
// a file, its size.
std::set<std::string> listing(const std::string& root, const std::string& skip) {
    std::set<std::string> paths;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string path = it->path().string();
        if (path == skip) {
            it.disable_recursion_pending();
            continue;
        }
        const fs::file_status status = it->symlink_status();
        std::string line = path + " " + std::to_string(static_cast<int>(status.type()));
        if (status.type() == fs::file_type::regular) line += " " + std::to_string(fs::file_size(it->path()));
        paths.insert(line);
    }
    return paths;
}

// The extracted tree holds only folders and files, kRoom bytes at most.
void checkExtracted(const std::string& directory) {
    std::uint64_t bytes = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(directory)) {
        const fs::file_type type = entry.symlink_status().type();
        if (type == fs::file_type::regular) bytes += fs::file_size(entry.path());
        else if (type != fs::file_type::directory)
            finding("extracted something else than a file: " + entry.path().string());
    }
    if (bytes > kRoom) finding("extracted " + std::to_string(bytes) + " bytes, beyond the room of the file system");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzSandbox& sandbox = FuzzSandbox::instance();
    static const std::string out = sandbox.path("out");
    static const std::set<std::string> before = [&] {
        BundleArchive::setSpaceProbe(fixedSpace);
        sandbox.makeDirectory(sandbox.path("canary"));
        sandbox.write(sandbox.path("canary/keep"), "keep");
        sandbox.write(sandbox.path("bundle.zip"), "");
        return listing(sandbox.dir(), out);
    }();
    sandbox.empty(out);
    sandbox.write(sandbox.path("bundle.zip"), data, size);

    const bool extracted = extractBundlePackage(sandbox.path("bundle.zip").c_str(), out.c_str());
    checkExtracted(out);
    try {
        VorkSupport::VorkRemoveDirectory(out, true);
    } catch (const VorkSupport::VorkException&) {
        finding("the extracted folder cannot be removed");
    }
    sandbox.write(sandbox.path("bundle.zip"), "");
    if (listing(sandbox.dir(), out) != before) finding("the extraction changed the sandbox outside its folder");
    if (!extracted) return 0;

    sandbox.write(sandbox.path("bundle.zip"), data, size);
    FuzzValidation::package(sandbox.path("bundle.zip"));
    sandbox.write(sandbox.path("bundle.zip"), "");
    if (listing(sandbox.dir(), out) != before) finding("the validation left something behind in the sandbox");
    return 0;
}
