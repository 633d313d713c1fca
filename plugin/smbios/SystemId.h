#pragma once

// The machine's system identifier, derived from the firmware.
//
// getSystemId() answers the 16-bit identifier that the maker gives each
// server model (1 to 0xFFFF), or 0 when none of the identification methods
// finds one. It never raises: every failure only moves on to the next method.
// Physical memory is read through memory::MemoryFactory (on Linux /dev/mem,
// or the memory image named by PLIMO_MEMFILE).
int getSystemId();

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
