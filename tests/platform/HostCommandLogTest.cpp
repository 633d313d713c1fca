#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestEnvironment.h"
#include "zuacs64.h"

using plimotest::testDir;

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    return parts;
}

} // namespace

TEST(HostCommandLog, RecordsAreOneEscapedLineEach) {
    const std::string log = testDir() + "/logs/zua/cmdlog"; // parents are made on demand
    ::setenv("ZUA_CMDLOG", log.c_str(), 1);
    EXPECT_EQ(ZCSSetProcessEnvironment(), 0);
    ASSERT_EQ(ZCSAppendToCmdLog(6101, "admin\n2026-01-01T00:00:00Z\t1\t0\tforged", "PLIMO", "Bundle Update", 0), 0);
    ASSERT_EQ(ZCSAppendToCmdLog(3072, "back\\slash\x01\x7F", "PLIMO", "Bundle Update", 1), 0);
    ASSERT_EQ(ZCSAppendToCmdLog(1, nullptr, nullptr, nullptr, 2), 0);
    const auto lines = split(plimotest::readFile(log), '\n');
    ASSERT_EQ(lines.size(), 3u);
    auto first = split(lines[0], '\t');
    ASSERT_EQ(first.size(), 6u) << lines[0];
    EXPECT_EQ(first[0].size(), 20u);
    EXPECT_EQ(first[0].back(), 'Z');
    EXPECT_EQ(first[1], "6101");
    EXPECT_EQ(first[2], "0");
    EXPECT_EQ(first[3], "PLIMO");
    EXPECT_EQ(first[4], "Bundle Update");
    EXPECT_EQ(first[5], "admin\\n2026-01-01T00:00:00Z\\t1\\t0\\tforged");
    auto second = split(lines[1], '\t');
    ASSERT_EQ(second.size(), 6u);
    EXPECT_EQ(second[1], "3072");
    EXPECT_EQ(second[2], "1");
    EXPECT_EQ(second[5], "back\\\\slash\\x01\\x7F");
    EXPECT_EQ(lines[2].substr(20), "\t1\t2\t\t\t");
    struct stat st {};
    ASSERT_EQ(::stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(HostCommandLog, ConcurrentWriterProcessesNeitherInterleaveNorLose) {
    const std::string log = testDir() + "/cmdlog";
    constexpr int kWriters = 2;
    constexpr int kRecords = 200;
    const std::string big(3000, 'u'); // larger than one pipe-sized atomic write would guarantee
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < kRecords; ++i) {
                std::string info = "writer" + std::to_string(w) + "#" + std::to_string(i) + "\n" + big;
                failures += ZCSAppendToCmdLog(static_cast<uint32_t>(i), info.c_str(), "PLIMO", "Bundle Update", 0) != 0;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto lines = split(plimotest::readFile(log), '\n');
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kWriters * kRecords));
    std::map<std::string, int> seen;
    for (const auto& line : lines) {
        auto fields = split(line, '\t');
        ASSERT_EQ(fields.size(), 6u);
        const std::string& info = fields[5];
        auto mark = info.find("\\n");
        ASSERT_NE(mark, std::string::npos);
        ASSERT_EQ(info.substr(mark + 2), big);
        ++seen[info.substr(0, mark)];
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kWriters * kRecords));
}
