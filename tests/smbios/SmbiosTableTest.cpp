#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "AccessError.h"
#include "DataOutOfBounds.h"
#include "IException.h"
#include "InternalError.h"
#include "ISmbiosTable.h"
#include "MemoryFactory.h"
#include "KernelTables.h"
#include "MemoryImage.h"
#include "MemoryOsSpecific.h"
#include "NotImplemented.h"
#include "ParameterException.h"
#include "ParseException.h"
#include "SmbiosFactory.h"
#include "SmbiosMemoryStrategy.h"
#include "StringUnavailable.h"
#include "TestEnvironment.h"

using smbiostest::Bytes;
using smbiostest::KernelTables;
using smbiostest::MemoryImage;

namespace {

class SmbiosTableTest : public ::testing::Test {
protected:
    void TearDown() override {
        ::unsetenv("PLIMO_MEMFILE");
        smbios::SmbiosFactory::resetForTesting();
    }
    MemoryImage image(const std::string& name = "mem.img") const {
        return MemoryImage(plimotest::testDir() + "/" + name);
    }
    static smbios::ISmbiosTable& table() { return *smbios::SmbiosFactory::getFactory()->getTable(); }
    static std::vector<int> typesOf(smbios::ISmbiosTable& t, int type = -1) {
        std::vector<int> types;
        for (auto it = t.begin(type); it != t.end(); ++it) types.push_back(it->getType());
        return types;
    }
};

// Types 0, 1, 11 and 127, the OEM strings with two strings.
Bytes sampleTable() {
    return MemoryImage::concat({MemoryImage::structure(0, 0, {1, 2, 3, 4}, {"Vendor", "1.0"}),
                                MemoryImage::structure(1, 1, {0x11, 0x22, 0x33, 0x44, 0x55}, {"Maker"}),
                                MemoryImage::structure(11, 2, {2}, {"Vork System", "5[0ABC"}),
                                MemoryImage::structure(127, 3, {})});
}

template <typename E, typename F>
std::string messageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    ADD_FAILURE() << "expected exception not raised";
    return {};
}

} // namespace

TEST_F(SmbiosTableTest, FindsTheEntryPointAndWalksByType) {
    MemoryImage img = image();
    img.putTable(sampleTable());
    img.activate();

    smbios::ISmbiosTable& t = table();
    EXPECT_EQ(t.getTableLength(), sampleTable().size());
    EXPECT_EQ(0, std::memcmp(t.getEntryPoint().data(), "_SM_", 4));
    EXPECT_EQ(typesOf(t), (std::vector<int>{0, 1, 11, 127}));

    auto it = t.begin(11);
    ASSERT_NE(it, t.end());
    EXPECT_EQ(it->getType(), 11);
    EXPECT_EQ(it->getHandle(), 2);
    EXPECT_EQ(&*it, &*t.begin(11)) << "items are kept in the table's cache";
    ++it;
    EXPECT_EQ(it, t.end());
    EXPECT_EQ(t.begin(2), t.end());
    smbios::ConstSmbiosTableIterator cit = static_cast<const smbios::ISmbiosTable&>(t).begin(1);
    EXPECT_EQ(cit->getType(), 1);

    // The table is built once and kept.
    EXPECT_EQ(&t, &table());
    // The search brackets itself with the hint count and leaves it balanced.
    auto* mem = dynamic_cast<memory::MemoryOsSpecific*>(memory::MemoryFactory::getFactory()->getMemory());
    ASSERT_NE(mem, nullptr);
    EXPECT_EQ(mem->hintCount(), 0);
    EXPECT_EQ(mem->memFile(), img.path());
}

TEST_F(SmbiosTableTest, EntryPointSearchRules) {
    memory::IMemory* mem = nullptr;
    smbios::SmbiosMemoryStrategy strategy;
    auto search = [&] { return strategy.getSmbiosEntryPoint(*mem); };

    // A wrong checksum is skipped; the legacy block 16 bytes further is taken
    // and turned into a version 2.0 record.
    MemoryImage img = image();
    Bytes bad = MemoryImage::entryPoint(0x80000, 0x40, 0x1F, 2, false);
    img.put(0xF0000, Bytes(bad.begin(), bad.begin() + 16));
    Bytes legacy = MemoryImage::legacyEntryPoint(0x80000, 0x40);
    img.put(0xF0010, legacy);
    img.activate();
    mem = memory::MemoryFactory::getFactory()->getMemory();
    auto record = search();
    EXPECT_EQ(0, std::memcmp(record.data(), "_DMI_", 5));
    EXPECT_EQ(record[6], 2);
    EXPECT_EQ(record[7], 0);
    EXPECT_EQ(0, std::memcmp(record.data() + 16, legacy.data(), 15));
    EXPECT_EQ(record[22], 0x40);
    EXPECT_EQ(record[26], 0x08);

    // A record refused for its version still holds a valid "_DMI_" block 16
    // bytes further, which the scan then takes.
    MemoryImage inner = image("inner.img");
    inner.put(0xE0000, MemoryImage::entryPoint(0x80000, 0x10, 0x1F, 3));
    inner.activate();
    mem = memory::MemoryFactory::getFactory()->getMemory();
    EXPECT_EQ(0, std::memcmp(search().data(), "_DMI_", 5));

    // Length 0x1E is accepted, and so is the shortest, 0x0F; major version 3 is not.
    for (std::uint8_t length : {0x1E, 0x0F}) {
        MemoryImage ok = image("len.img");
        ok.put(0xE0020, MemoryImage::entryPoint(0x80000, 0x10, length));
        ok.activate();
        mem = memory::MemoryFactory::getFactory()->getMemory();
        EXPECT_EQ(search()[5], length);
    }
    MemoryImage v3 = image("v3.img");
    v3.put(0xE0000, MemoryImage::entryPoint(0x80000, 0x10, 0x1F, 3, true, false));
    v3.put(0xE0100, MemoryImage::entryPoint(0x80000, 0x10, 0x0E, 2, true, false));
    v3.put(0xE0208, MemoryImage::entryPoint(0x80000, 0x10)); // not on a 16-byte boundary
    // the last address tried is 0xFFFD0: a record at 0xFFFE0 is not found
    v3.put(0xFFFE0, MemoryImage::entryPoint(0x80000, 0x10));
    v3.activate();
    mem = memory::MemoryFactory::getFactory()->getMemory();
    EXPECT_EQ(messageOf<smbios::ParseException>(search), "SMBIOS Header not found in search.");
    EXPECT_EQ(dynamic_cast<memory::MemoryOsSpecific*>(mem)->hintCount(), 0);
    EXPECT_THROW(table(), smbios::InternalError);

    // ... whereas one at 0xFFFD0 is.
    v3.put(0xFFFD0, MemoryImage::entryPoint(0x80000, 0x10));
    v3.activate();
    mem = memory::MemoryFactory::getFactory()->getMemory();
    EXPECT_EQ(search()[0], '_');
}

TEST_F(SmbiosTableTest, FailedBuildIsNotKeptAndIsRetried) {
    MemoryImage img = image();
    img.activate();
    EXPECT_EQ(messageOf<smbios::InternalError>([] { table(); }), "Could not instantiate SMBIOS table.");
    // The firmware data appears (the same file, the same reader): the next
    // getTable() tries again and succeeds.
    img.putTable(sampleTable());
    EXPECT_EQ(typesOf(table()), (std::vector<int>{0, 1, 11, 127}));

    // Resetting the memory reader alone forgets the table read through it.
    MemoryImage other = image("other.img");
    other.putTable(MemoryImage::concat({MemoryImage::structure(4, 0, {}), MemoryImage::structure(127, 1, {})}));
    ::setenv("PLIMO_MEMFILE", other.path().c_str(), 1);
    memory::MemoryFactory::resetForTesting();
    EXPECT_EQ(typesOf(table()), (std::vector<int>{4, 127}));
}

TEST_F(SmbiosTableTest, FactoryModesParametersAndOffset) {
    MemoryImage img = image();
    img.put(0x80000, sampleTable());
    img.put(0xC0000, MemoryImage::entryPoint(0x80000, static_cast<std::uint16_t>(sampleTable().size())));
    img.activate();
    smbios::SmbiosFactory* factory = smbios::SmbiosFactory::getFactory();
    EXPECT_EQ(factory->getParameter("offset"), 0);
    EXPECT_EQ(factory->getParameter("strictValidation"), 0);
    EXPECT_THROW(factory->setParameter("nonsense", 1), smbios::ParameterException);
    EXPECT_THROW(memory::MemoryFactory::getFactory()->setParameter("nonsense", "x"), smbios::ParameterException);

    factory->setMode(7);
    EXPECT_EQ(messageOf<smbios::NotImplemented>([&] { factory->getTable(); }), "Unknown smbios factory mode requested");
    factory->setMode(1);
    EXPECT_THROW(factory->getTable(), smbios::InternalError) << "nothing in the searched area";
    // An explicit offset takes the entry point from there, outside the search area.
    factory->setParameter("offset", 0xC0000);
    EXPECT_EQ(typesOf(*factory->getTable()), (std::vector<int>{0, 1, 11, 127}));
}

TEST_F(SmbiosTableTest, MemoryReaderFailuresNameFileAndAddress) {
    std::string missing = plimotest::testDir() + "/no-such-image";
    memory::MemoryOsSpecific absent(missing);
    std::uint8_t buffer[16];
    std::string message = messageOf<memory::AccessError>([&] { absent.readBytes(buffer, 0xF0000, 16); });
    EXPECT_NE(message.find(missing), std::string::npos) << message;
    EXPECT_NE(message.find("0xf0000"), std::string::npos) << message;

    MemoryImage img = image("small.img"); // 1 MiB
    memory::MemoryOsSpecific small(img.path());
    img.put(0xFFFFF, Bytes{0x5A});
    EXPECT_EQ(small.readByte(0xFFFFF), 0x5A);
    message = messageOf<memory::AccessError>([&] { small.readBytes(buffer, 0xFFFF8, 16); });
    EXPECT_NE(message.find("0xffff8"), std::string::npos) << message;
    EXPECT_NE(message.find(img.path()), std::string::npos) << message;
    // No wrap-around of address + length and no negative file offset.
    EXPECT_THROW(small.readBytes(buffer, std::numeric_limits<std::uint64_t>::max() - 4, 16), memory::AccessError);
    EXPECT_THROW(small.readBytes(buffer, 0x8000000000000000ULL, 1), memory::AccessError);
    EXPECT_EQ(messageOf<smbios::NotImplemented>([&] { small.writeByte(0xF0000, 1); }),
              "writing to physical memory is not implemented on Windows yet.");
    EXPECT_EQ(small.readByte(0xF0000), 0) << "the write changed nothing";

    // The factory reads PLIMO_MEMFILE when created; a missing file fails the build.
    ::setenv("PLIMO_MEMFILE", missing.c_str(), 1);
    smbios::SmbiosFactory::resetForTesting();
    EXPECT_EQ(memory::MemoryFactory::getFactory()->getParameter("memFile"), missing);
    EXPECT_THROW(table(), smbios::InternalError);
    ::unsetenv("PLIMO_MEMFILE");
    smbios::SmbiosFactory::resetForTesting();
    EXPECT_EQ(memory::MemoryFactory::getFactory()->getParameter("memFile"), "/dev/mem");
}

TEST_F(SmbiosTableTest, ItemStringsAndData) {
    MemoryImage img = image();
    img.putTable(
        MemoryImage::concat({MemoryImage::structure(1, 0, {1, 2, 3, 4, 5}, {"One"}), MemoryImage::structure(2, 1, {9}),
                             MemoryImage::structure(3, 2, {7}, {"A", "", "C"}), MemoryImage::structure(127, 3, {})}));
    img.activate();
    smbios::ISmbiosTable& t = table();
    const smbios::ISmbiosItem& one = *t.begin(1);
    EXPECT_EQ(one.getLength(), 9);
    EXPECT_STREQ(one.stringByNumber(1), "One");
    EXPECT_EQ(messageOf<smbios::StringUnavailable>([&] { one.stringByNumber(0); }), "String does not exist.");
    EXPECT_EQ(messageOf<smbios::StringUnavailable>([&] { one.stringByNumber(2); }),
              "The string does not exist. Bad index caused this error");
    EXPECT_THROW(one.stringByNumber(255), smbios::StringUnavailable);
    EXPECT_EQ(one.getBufferSize(), 9u + 4u + 1u);

    std::uint8_t data[9] = {};
    one.readData(4, data, 5);
    EXPECT_EQ(data[0], 1);
    EXPECT_EQ(data[4], 5);
    one.readData(0, data, 9);
    EXPECT_EQ(data[1], 9);
    one.readData(9, data, 0);
    EXPECT_EQ(messageOf<smbios::DataOutOfBounds>([&] { one.readData(8, data, 2); }),
              "Attempt to access data outside the length of header. offset : 8, header_length : 9");
    EXPECT_THROW(one.readData(10, data, 0), smbios::DataOutOfBounds);
    EXPECT_THROW(one.readData(2, data, std::numeric_limits<std::size_t>::max()), smbios::DataOutOfBounds);

    // A structure without strings: string 1 is empty, string 2 does not exist.
    const smbios::ISmbiosItem& none = *t.begin(2);
    EXPECT_STREQ(none.stringByNumber(1), "");
    EXPECT_THROW(none.stringByNumber(2), smbios::StringUnavailable);
    // An empty string in the middle reads as missing.
    const smbios::ISmbiosItem& three = *t.begin(3);
    EXPECT_STREQ(three.stringByNumber(1), "A");
    EXPECT_THROW(three.stringByNumber(2), smbios::StringUnavailable);

    EXPECT_EQ(messageOf<smbios::ParameterException>([&] { *t.end(); }),
              "Programmer error: attempt to dereference a Null iterator.");
    EXPECT_THROW(smbios::ConstSmbiosTableIterator()->getType(), smbios::ParameterException);
}

TEST_F(SmbiosTableTest, MalformedTablesNeverReadOutside) {
    MemoryImage img = image();
    auto build = [&](const Bytes& tableBytes, std::uint32_t address = 0x80000) {
        img.put(address, tableBytes);
        img.put(0xF0000, MemoryImage::entryPoint(address, static_cast<std::uint16_t>(tableBytes.size())));
        img.activate();
        return &table();
    };

    // Table length 0 and a table shorter than a header: no structures.
    EXPECT_EQ(typesOf(*build({})), std::vector<int>{});
    EXPECT_EQ(typesOf(*build({1, 4, 0})), std::vector<int>{});
    // Formatted length below the header's 4 bytes, first or later: the walk ends there.
    EXPECT_EQ(typesOf(*build({1, 3, 0, 0, 0, 0, 0, 0})), std::vector<int>{});
    EXPECT_EQ(typesOf(*build(MemoryImage::concat(
                  {MemoryImage::structure(1, 0, {}), Bytes{2, 0, 0, 0, 0, 0}, MemoryImage::structure(3, 0, {})}))),
              std::vector<int>{1});
    // A formatted length past the end of the table.
    EXPECT_EQ(typesOf(*build(MemoryImage::concat({MemoryImage::structure(1, 0, {}), Bytes{2, 200, 0, 0, 0, 0}}))),
              std::vector<int>{1});
    // No type 127: the walk ends with the buffer.
    EXPECT_EQ(typesOf(*build(MemoryImage::concat(
                  {MemoryImage::structure(1, 0, {}, {"a"}), MemoryImage::structure(2, 0, {}, {"b"})}))),
              (std::vector<int>{1, 2}));
    // Type 127 ends the walk even when more follows.
    EXPECT_EQ(
        typesOf(*build(MemoryImage::concat({MemoryImage::structure(127, 0, {}), MemoryImage::structure(2, 0, {})}))),
        std::vector<int>{127});

    // A string set without its closing NUL at the end of the table.
    smbios::ISmbiosTable* t = build(Bytes{11, 5, 0, 0, 1, 'A', 'B', 'C'});
    const smbios::ISmbiosItem& cut = *t->begin(11);
    EXPECT_EQ(cut.getBufferSize(), 8u);
    EXPECT_STREQ(cut.stringByNumber(1), "ABC");
    EXPECT_EQ(messageOf<smbios::ParseException>([&] { cut.stringByNumber(2); }),
              "Overflow while getting byte data at location: cur_loc >= base_loc + header_size\n cur_loc : 9\n"
              " base_loc : 0\n header_size : 8 ");
    // A formatted area that fills the table exactly.
    t = build(Bytes{11, 6, 0, 0, 1, 2});
    EXPECT_STREQ(t->begin(11)->stringByNumber(1), "");
    EXPECT_THROW(t->begin(11)->stringByNumber(2), smbios::ParseException);

    // A table address near the top of the address space: the build fails.
    img.put(0xF0000, MemoryImage::entryPoint(0xFFFFFFF0, 0xFFFF));
    img.activate();
    EXPECT_THROW(table(), smbios::InternalError);
}

TEST_F(SmbiosTableTest, KernelCopyRefusedForBadInput) {
    // Memory holds a table of types 0, 1, 11 and 127; every kernel copy below
    // is refused, and the memory strategy decides.
    MemoryImage img = image();
    img.putTable(sampleTable());
    KernelTables kernel(plimotest::testDir() + "/dmi");
    const Bytes good =
        MemoryImage::concat({MemoryImage::structure(1, 1, {1, 0}, {"Maker"}),
                             MemoryImage::structure(0xD0, 2, {0, 0, 0x42}), MemoryImage::structure(127, 3, {})});
    const Bytes ep2 = MemoryImage::entryPoint(0, 0);
    const Bytes ep3 = KernelTables::entryPoint3(static_cast<std::uint32_t>(good.size()));
    auto source = [&] {
        ::setenv("PLIMO_MEMFILE", img.path().c_str(), 1);
        kernel.activate();
        smbios::ISmbiosTable& t = table();
        return t.getSourceKind() + " " + std::to_string(typesOf(t).size());
    };
    kernel.put(ep2, good);
    ASSERT_EQ(source(), "file 3");
    kernel.put(ep3, good);
    ASSERT_EQ(source(), "file 3");
    kernel.put(MemoryImage::legacyEntryPoint(0, 0), good);
    ASSERT_EQ(source(), "file 3");

    Bytes unknownAnchor = ep2;
    unknownAnchor[3] = 'X';
    Bytes longRecord = ep3;
    longRecord.resize(33, 0);
    longRecord[6] = 33;
    const std::vector<Bytes> badEntryPoints = {
        {},
        Bytes(ep2.begin(), ep2.begin() + 20), // shorter than its length says
        Bytes(ep3.begin(), ep3.begin() + 7),
        MemoryImage::entryPoint(0, 0, 0x1F, 2, false),
        KernelTables::entryPoint3(0x100, 3, 2, false),
        unknownAnchor,
        MemoryImage::entryPoint(0, 0, 0x1F, 4),
        MemoryImage::entryPoint(0, 0, 0x1F, 1),
        MemoryImage::entryPoint(0, 0, 0x0F), // too short for the record's fields
        KernelTables::entryPoint3(0x100, 2),
        KernelTables::entryPoint3(0x100, 4),
        longRecord,
        MemoryImage::legacyEntryPoint(0, 0, false),
    };
    for (std::size_t i = 0; i < badEntryPoints.size(); ++i) {
        kernel.put(badEntryPoints[i], good);
        EXPECT_EQ(source(), "memory 4") << "entry point " << i;
    }

    const std::vector<Bytes> badTables = {
        {},
        Bytes(good.begin(), good.end() - 3),    // cut in the last structure
        Bytes(good.begin(), good.begin() + 10), // cut in the first one's strings
        MemoryImage::concat({MemoryImage::structure(1, 1, {}), Bytes{2, 200, 0, 0, 0, 0}}),
        MemoryImage::concat({MemoryImage::structure(1, 1, {}), Bytes{2, 3, 0, 0, 0, 0}}),
        MemoryImage::concat({MemoryImage::structure(1, 1, {}), Bytes{2, 4}}),
    };
    for (std::size_t i = 0; i < badTables.size(); ++i) {
        kernel.put(ep3, badTables[i]);
        EXPECT_EQ(source(), "memory 4") << "table " << i;
    }

    // A DMI file of 1 GiB (sparse), a directory, FIFOs in place of the files,
    // a directory that is a symbolic link loop.
    kernel.put(ep3, good);
    ASSERT_EQ(::truncate((kernel.directory() + "/DMI").c_str(), 1L << 30), 0);
    EXPECT_EQ(source(), "memory 4");
    for (const char* name : {"/DMI", "/smbios_entry_point"}) {
        kernel.put(ep3, good);
        const std::string file = kernel.directory() + name;
        ASSERT_EQ(::unlink(file.c_str()), 0);
        ASSERT_EQ(::mkdir(file.c_str(), 0700), 0);
        EXPECT_EQ(source(), "memory 4") << name;
        ASSERT_EQ(::rmdir(file.c_str()), 0);
        ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
        EXPECT_EQ(source(), "memory 4") << name;
    }
    const std::string loop = plimotest::testDir() + "/loop";
    ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
    ::setenv("PLIMO_DMI_DIR", loop.c_str(), 1);
    smbios::SmbiosFactory::resetForTesting();
    EXPECT_EQ(table().getSourceKind(), "memory");
}

TEST(SmbiosExceptionTest, MessageTemplatesAndTree) {
    smbios::DataOutOfBounds e(
        "offset : %(offset)i, header_length : %(header_length)i, name %(name)s, 100%% %(missing)i");
    e.setParameter("offset", 8).setParameter("header_length", -9).setParameter("name", "x");
    EXPECT_STREQ(e.what(), "offset : 8, header_length : -9, name x, 100% %(missing)i");
    e.setParameter("offset", 12);
    EXPECT_STREQ(e.what(), "offset : 12, header_length : -9, name x, 100% %(missing)i");
    EXPECT_EQ(e.intParameter("offset"), 12);
    EXPECT_EQ(e.stringParameter("name"), "x");
    smbios::DataOutOfBounds copy = e;
    EXPECT_STREQ(copy.what(), e.what());
    // Unterminated or unknown-letter placeholders stay as they are.
    EXPECT_STREQ(smbios::ParseException("%(a)x %(b %").what(), "%(a)x %(b %");

    try {
        throw memory::AccessError("cannot read %(file)s");
    } catch (const memory::MemoryException& caught) {
        EXPECT_NE(dynamic_cast<const smbios::IException*>(&caught), nullptr);
        EXPECT_NE(dynamic_cast<const std::exception*>(&caught), nullptr);
    }
}
