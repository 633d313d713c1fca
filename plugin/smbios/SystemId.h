#pragma once
#include "SystemIdReport.h"

// The machine's system identifier, derived from the firmware.
//
// getSystemId() answers the 16-bit identifier that the maker gives each
// server model (1 to 0xFFFF), or 0 when none of the identification methods
// finds one. It never raises: every failure only moves on to the next method.
// Physical memory is read through memory::MemoryFactory (on Linux /dev/mem,
// or the memory image named by PLIMO_MEMFILE), the SMBIOS table through
// smbios::SmbiosFactory (the kernel's copy where there is one).
int getSystemId();

// The same identifier with the method that gave it and the table's source,
// version and size (the table is built for the report if no method needed
// it). It never raises either.
SystemIdReport identifySystem();

// The version text of the identification library.
const char* getLibraryVersion();

// The four identification methods, in the order getSystemId() tries them.
// Each answers 0 when it finds nothing and may raise an exception of the
// smbios::IException tree (or std::exception) when the firmware data cannot
// be read or is malformed.
int systemIdFromSignatureBlock();
int systemIdFromOemStrings();
int systemIdFromLegacyBlocks();
int systemIdFromType208();
