#pragma once
#include <cstddef>
#include <string>

// What identifySystem() found: the identifier, the method that gave it and
// the SMBIOS table the table methods read, for the debug log and for the
// people who write and check bundles.
struct SystemIdReport {
    // The identifier as getSystemId() answers it, 0 when none was found.
    int id = 0;
    // The method that gave it: "signature-block", "oem-strings",
    // "legacy-blocks" or "type-208"; "none" when none did.
    std::string method = "none";
    // Where the table came from: "file" (the kernel's copy) or "memory";
    // "none" when no table could be built. location names the directory or
    // the memory file.
    std::string source = "none";
    std::string location;
    // The SMBIOS version that the table's entry point names, and the table's
    // size in bytes; all 0 without a table.
    int majorVersion = 0;
    int minorVersion = 0;
    std::size_t tableSize = 0;
};
