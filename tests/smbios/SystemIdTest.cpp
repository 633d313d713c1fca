#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "KernelTables.h"
#include "MemoryImage.h"
#include "SmbiosFactory.h"
#include "StringUnavailable.h"
#include "SystemId.h"
#include "TestEnvironment.h"

using smbiostest::Bytes;
using smbiostest::KernelTables;
using smbiostest::MemoryImage;

namespace {

const std::string kSignature = "Vork System";

class SystemIdTest : public ::testing::Test {
protected:
    void SetUp() override { m_image = std::make_unique<MemoryImage>(plimotest::testDir() + "/mem.img"); }
    void TearDown() override {
        ::unsetenv("PLIMO_MEMFILE");
        smbios::SmbiosFactory::resetForTesting();
    }
    MemoryImage& img() { return *m_image; }
    int systemId() {
        img().activate();
        return getSystemId();
    }

    void signatureBlock(std::uint8_t b0, std::uint8_t b1, std::uint8_t b5) {
        img().put(0xFE076, kSignature);
        img().put(0xFE840, Bytes{b0, b1, 0, 0, 0, b5, 0, 0, 0, 0, 0, 0, 0});
    }
    static Bytes oem(const std::vector<std::string>& strings) {
        return MemoryImage::structure(11, 0x0B00, {1}, strings);
    }
    static Bytes type208(std::uint8_t at6, std::uint16_t at8 = 0) {
        return MemoryImage::structure(
            0xD0, 0xD000, {0, 0, at6, 0, static_cast<std::uint8_t>(at8), static_cast<std::uint8_t>(at8 >> 8)});
    }
    static Bytes end() { return MemoryImage::structure(127, 0xFFFF, {}); }

private:
    std::unique_ptr<MemoryImage> m_image;
};

} // namespace

TEST_F(SystemIdTest, LibraryVersion) { EXPECT_STREQ(getLibraryVersion(), "2.2.27"); }

TEST_F(SystemIdTest, SignatureBlockComesFirst) {
    // 0xFE as byte 5: the 16-bit value of bytes 0 and 1. No table exists at
    // all, so the table cannot have played a part.
    signatureBlock(0x34, 0x12, 0xFE);
    EXPECT_EQ(systemId(), 0x1234);
    EXPECT_EQ(systemIdFromSignatureBlock(), 0x1234);

    // Otherwise byte 5; it wins over everything the other methods would find.
    signatureBlock(0x34, 0x12, 0x9A);
    img().putTable(MemoryImage::concat({oem({kSignature, "5[0ABC"}), type208(0x22), end()}));
    img().put(0xD8044, kSignature);
    img().put(0xD8040, Bytes{0x8C});
    EXPECT_EQ(systemId(), 0x9A);

    // A signature that differs in its last character is no signature.
    img().put(0xFE076, std::string("Vork Systen"));
    EXPECT_EQ(systemId(), 0xABC);
    EXPECT_EQ(systemIdFromSignatureBlock(), 0);
}

TEST_F(SystemIdTest, OemStrings) {
    // String 2 "5[0ABC": the first two characters skipped, the rest read as hex.
    img().putTable(
        MemoryImage::concat({MemoryImage::structure(0, 0, {}, {"BIOS"}), oem({kSignature, "5[0ABC"}), end()}));
    EXPECT_EQ(systemId(), 0xABC);

    // The signature in any type-11 structure marks the machine; the last one's
    // number is taken; a string 2 shorter than three characters reads as 0;
    // the low 16 bits of a larger number are kept.
    img().putTable(MemoryImage::concat({oem({"Other", "5[0x1FFFF"}), oem({kSignature + " Inc.", "5["}), end()}));
    EXPECT_EQ(systemId(), 0) << "the last structure reads as 0 and nothing else is there";
    img().putTable(
        MemoryImage::concat({oem({"Other", "5[0x2FFFF"}), oem({kSignature + " Inc.", "5[  0x1FFFF zz"}), end()}));
    EXPECT_EQ(systemId(), 0xFFFF);
    img().putTable(MemoryImage::concat({oem({kSignature, "5[0ABC"}), oem({"Other", "5[12"}), end()}));
    EXPECT_EQ(systemId(), 0x12);

    // Without the signature in string 1, OEM strings say nothing.
    img().putTable(MemoryImage::concat({oem({"Vork", "5[0ABC"}), type208(0x33), end()}));
    EXPECT_EQ(systemId(), 0x33);
}

TEST_F(SystemIdTest, MissingOemString2LeavesItToTheLaterMethods) {
    img().putTable(MemoryImage::concat({oem({kSignature}), type208(0x44), end()}));
    img().activate();
    EXPECT_THROW(systemIdFromOemStrings(), smbios::StringUnavailable);
    EXPECT_EQ(getSystemId(), 0x44);

    img().put(0xDC044, kSignature);
    img().put(0xDC040, Bytes{0x8C});
    EXPECT_EQ(systemId(), 0x8C) << "the legacy blocks come before type 0xD0";
}

TEST_F(SystemIdTest, LegacyBlocks) {
    // The signature without the marker, or the marker without the signature, is nothing.
    img().put(0xD8044, kSignature);
    img().put(0xD8040, Bytes{0x8D});
    img().put(0xDC040, Bytes{0x8C});
    EXPECT_EQ(systemId(), 0);
    // Either place will do.
    img().put(0xDC044, kSignature);
    EXPECT_EQ(systemId(), 0x8C);
    img().put(0xD8040, Bytes{0x8C});
    img().put(0xDC044, std::string("xxxxxxxxxxx"));
    EXPECT_EQ(systemId(), 0x8C);
}

TEST_F(SystemIdTest, VendorStructures) {
    img().putTable(MemoryImage::concat({type208(0x11), MemoryImage::structure(1, 1, {}), type208(0x22), end()}));
    EXPECT_EQ(systemId(), 0x22);

    img().putTable(MemoryImage::concat({type208(0x11), type208(0xFE, 0x4321), end()}));
    EXPECT_EQ(systemId(), 0x4321);

    // A structure too short for the byte at offset 6, or for the word at 8.
    img().putTable(MemoryImage::concat({MemoryImage::structure(0xD0, 0, {0, 0}), end()}));
    EXPECT_EQ(systemId(), 0);
    img().putTable(MemoryImage::concat({MemoryImage::structure(0xD0, 0, {0, 0, 0xFE, 0, 1}), end()}));
    EXPECT_EQ(systemId(), 0);
}

TEST_F(SystemIdTest, NothingFoundGivesZero) {
    // An image without any firmware data.
    EXPECT_EQ(systemId(), 0);
    EXPECT_EQ(identifySystem().method, "none");
    EXPECT_EQ(identifySystem().source, "none");
    // A table without the structures the methods look for.
    img().putTable(MemoryImage::concat({MemoryImage::structure(0, 0, {}, {"BIOS"}), end()}));
    EXPECT_EQ(systemId(), 0);
    // A memory file that does not exist.
    ::setenv("PLIMO_MEMFILE", (plimotest::testDir() + "/missing.img").c_str(), 1);
    smbios::SmbiosFactory::resetForTesting();
    EXPECT_EQ(getSystemId(), 0);
    // An image too small to hold the legacy area.
    MemoryImage tiny(plimotest::testDir() + "/tiny.img", 0x1000);
    tiny.activate();
    EXPECT_EQ(getSystemId(), 0);
}

TEST_F(SystemIdTest, KernelCopyOfTheTable) {
    // A machine whose physical memory cannot be read at all (the harness's
    // memory file does not exist): the kernel's "_SM_" 2.x copy names it.
    KernelTables kernel(plimotest::testDir() + "/dmi");
    const Bytes system = MemoryImage::structure(1, 1, {1, 2, 0, 0}, {"Maker", "Model"});
    const Bytes oemTable = MemoryImage::concat({system, oem({kSignature, "5[0ABC"}), type208(0x22), end()});
    kernel.put(MemoryImage::entryPoint(0, 0), oemTable);
    kernel.activate();
    SystemIdReport report = identifySystem();
    EXPECT_EQ(report.id, 0xABC);
    EXPECT_EQ(report.method, "oem-strings");
    EXPECT_EQ(report.source, "file");
    EXPECT_EQ(report.location, kernel.directory());
    EXPECT_EQ(report.majorVersion * 10 + report.minorVersion, 24);
    EXPECT_EQ(report.tableSize, oemTable.size());
    EXPECT_EQ(getSystemId(), 0xABC);

    // Only an "_SM3_" entry point, and memory readable but without any anchor.
    const Bytes vendorTable = MemoryImage::concat({system, type208(0xFE, 0x4321), end()});
    kernel.put(KernelTables::entryPoint3(static_cast<std::uint32_t>(vendorTable.size())), vendorTable);
    EXPECT_EQ(systemId(), 0x4321);
    report = identifySystem();
    EXPECT_EQ(report.method, "type-208");
    EXPECT_EQ(report.majorVersion * 10 + report.minorVersion, 32);

    // Where memory holds a table too, the kernel's copy decides it; the fixed
    // places still come from memory, and the table's source is still named.
    img().putTable(MemoryImage::concat({oem({kSignature, "5[0DEF"}), end()}));
    EXPECT_EQ(systemId(), 0x4321);
    img().put(0xDC044, kSignature);
    img().put(0xDC040, Bytes{0x8C});
    img().activate();
    report = identifySystem();
    EXPECT_EQ(report.id, 0x8C);
    EXPECT_EQ(report.method, "legacy-blocks");
    EXPECT_EQ(report.source, "file");
    signatureBlock(0x34, 0x12, 0xFE);
    EXPECT_EQ(systemId(), 0x1234);
    EXPECT_EQ(identifySystem().method, "signature-block");

    // Without the kernel's copy the memory table decides.
    ::setenv("PLIMO_DMI_DIR", (plimotest::testDir() + "/no-such-dir").c_str(), 1);
    img().put(0xFE076, std::string("Vork Systen"));
    img().put(0xDC040, Bytes{0});
    img().activate();
    report = identifySystem();
    EXPECT_EQ(report.id, 0xDEF);
    EXPECT_EQ(report.source, "memory");
    EXPECT_EQ(report.location, img().path());
}
