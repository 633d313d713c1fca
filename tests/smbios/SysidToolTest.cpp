// plimo-sysid through its real binary.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "KernelTables.h"
#include "MemoryImage.h"
#include "TestEnvironment.h"

using smbiostest::Bytes;
using smbiostest::KernelTables;
using smbiostest::MemoryImage;

TEST(SysidToolTest, PrintsTheIdentifierAndWhereItCameFrom) {
    const std::string tool = std::string(PLIMO_BIN_DIR) + "/plimo-sysid";
    KernelTables kernel(plimotest::testDir() + "/dmi");
    // A manufacturer string with control characters (ESC, and CSI as UTF-8)
    // and bytes that are not UTF-8: the text keeps the terminal safe, the
    // JSON stays valid and escapes them.
    const Bytes table =
        MemoryImage::concat({MemoryImage::structure(1, 1, {1, 2}, {"Vork\x1b[2J\xc2\x9b\xff\xfe", "R 750"}),
                             MemoryImage::structure(0xD0, 2, {0, 0, 0x8C}), MemoryImage::structure(127, 3, {})});
    kernel.put(KernelTables::entryPoint3(static_cast<std::uint32_t>(table.size()), 3, 4), table);
    const std::vector<std::string> env{"PLIMO_DMI_DIR=" + kernel.directory()};

    plimotest::RunResult text = plimotest::runProgram({tool}, env);
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("8C\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("R 750\n"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos) << text.out;

    plimotest::RunResult json = plimotest::runProgram({tool, "--json"}, env);
    EXPECT_EQ(json.exitCode, 0) << json.err;
    const nlohmann::json object = nlohmann::json::parse(json.out);
    EXPECT_EQ(object["system_id"], "8C");
    EXPECT_EQ(object["method"], "type-208");
    EXPECT_EQ(object["source"], "file");
    EXPECT_EQ(object["location"], kernel.directory());
    EXPECT_EQ(object["smbios_version"], "3.4");
    EXPECT_EQ(object["table_size"], table.size());
    EXPECT_EQ(object["product_name"], "R 750");
    EXPECT_EQ(object["manufacturer"].get<std::string>().rfind("Vork\x1b[2J\xc2\x9b", 0), 0u);
    EXPECT_NE(json.out.find("Vork\\u001b[2J\\u009b"), std::string::npos) << json.out;

    // No firmware data at all (the harness's missing directory and memory
    // file): identifier 0, exit 1; a wrong call: exit 2.
    json = plimotest::runProgram({tool, "--json"});
    EXPECT_EQ(json.exitCode, 1) << json.err;
    EXPECT_EQ(nlohmann::json::parse(json.out)["system_id"], "0");
    EXPECT_EQ(nlohmann::json::parse(json.out)["source"], "none");
    EXPECT_EQ(plimotest::runProgram({tool, "--jsn"}).exitCode, 2);
    EXPECT_EQ(plimotest::runProgram({tool, "--json", "x"}).exitCode, 2);
}
