// What an operator sees, through the real Orvane and zuasvchost with the
// real plug-in: JSON answers against the shipped schema, the live view on a
// terminal, the history of every update, and the metrics file.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CycleSupport.h"
#include "HistoryLayout.h"
#include "TestEnvironment.h"

using namespace e2e;
using plimotest::fileExists;
using plimotest::readFile;
using plimotest::RunResult;
using plimotest::testDir;
using plimotest::writeFile;

namespace {

// Debian's python3-jsonschema belongs to the system's own interpreter.
const std::string python = "/usr/bin/python3";
const std::string scripts = PLIMO_FRONTEND_TEST_SCRIPTS;
const std::string schema = PLIMO_ANSWER_SCHEMA;

std::string bundleDir() { return testDir() + "/bundle"; }
std::string bundleFile() { return bundleDir() + "/bundle.xml"; }

// P1 exits 0, P2 is a tar.gz package (always skipped), P3 exits with
// lastCode; the programs take a moment, so a view can see them run.
void writeThreePackageBundle(int lastCode, double seconds = 0) {
    writeQpk(bundleDir(), "a", {0}, {seconds});
    writeFile(bundleDir() + "/x.tar.gz", "");
    writeQpk(bundleDir(), "c", {lastCode}, {seconds});
    writeFile(bundleFile(), "<?xml version=\"1.0\"?>\n<SoftwareBundle><Contents>\n"
                            "<Package releaseID=\"P1\" path=\"a.sh\" packageType=\"LWXP\" timeout=\"60\"/>\n"
                            "<Package releaseID=\"P2\" path=\"x.tar.gz\"/>\n"
                            "<Package releaseID=\"P3\" path=\"c.sh\" packageType=\"LWXP\"/>\n"
                            "</Contents></SoftwareBundle>\n");
}

// Orvane with its standard error on a pseudo-terminal: err is what the
// terminal showed.
RunResult onTerminal(const std::vector<std::string>& program) {
    std::vector<std::string> argv = {python, scripts + "/run_on_pty.py"};
    argv.insert(argv.end(), program.begin(), program.end());
    return plimotest::runProgram(argv, childEnvironment(), testDir());
}

// The problems check_json.py finds in JSON objects, one per line.
std::string schemaProblems(const std::vector<std::string>& objects) {
    std::string lines;
    for (const std::string& object : objects) lines += object.substr(0, object.find('\n')) + "\n";
    const std::string file = writeFile(testDir() + "/objects.jsonl", lines);
    const RunResult r = plimotest::runProgram({python, scripts + "/check_json.py", schema, file});
    return r.exitCode == 0 ? std::string() : r.out + r.err;
}

// The value of a top-level JSON member that is a number ("null" otherwise).
std::string member(const std::string& json, const std::string& name) {
    const std::regex pattern("\"" + name + "\":(-?[0-9]+|null)");
    std::smatch match;
    return std::regex_search(json, match, pattern) ? match[1].str() : "<none>";
}

// The Prometheus text format, as the node exporter's textfile collector
// reads it: every sample "name{labels} value" after a TYPE line for its
// name, every label well quoted. Samples by their name and labels.
std::map<std::string, double> parseMetrics(const std::string& text) {
    static const std::regex comment(R"(# (HELP|TYPE) ([a-zA-Z_:][a-zA-Z0-9_:]*) (.*))");
    static const std::regex sample(
        R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{[a-zA-Z_][a-zA-Z0-9_]*="(?:\\.|[^"\\])*"(?:,[a-zA-Z_][a-zA-Z0-9_]*="(?:\\.|[^"\\])*")*\})? ([-+0-9.eE]+|NaN|[+-]Inf))");
    std::map<std::string, double> samples;
    std::map<std::string, std::string> types;
    for (const std::string& line : plimotest::lines(text)) {
        std::smatch match;
        if (std::regex_match(line, match, comment)) {
            if (match[1] == "TYPE") types[match[2]] = match[3];
            continue;
        }
        if (!std::regex_match(line, match, sample)) {
            ADD_FAILURE() << "not in the text format: " << line;
            continue;
        }
        EXPECT_EQ(types[match[1]], "gauge") << line;
        EXPECT_EQ(samples.count(match[1].str() + match[2].str()), 0u) << "twice: " << line;
        samples[match[1].str() + match[2].str()] = std::stod(match[3]);
    }
    return samples;
}

TEST(OperatorView, JsonAnswersFollowTheSchemaAndCarryTheStatusOfTheXml) {
    writeThreePackageBundle(2);
    std::vector<std::string> objects;
    struct Pair {
        std::vector<std::string> arguments;
        int status;
    };
    const std::vector<Pair> pairs = {
        {{"-update", "-path", bundleFile(), "-updateid", "X1"}, 3073},
        {{"-progress", "-updateid", "X1"}, 3073},
        {{"-validate", "-path", bundleFile()}, 0},
        {{"-progress"}, 3080},
    };
    for (const Pair& pair : pairs) {
        std::vector<std::string> asJson = pair.arguments;
        asJson.push_back("-json");
        const RunResult xml = orvane(pair.arguments);
        const RunResult json = orvane(asJson);
        EXPECT_EQ(statusOf(xml.out), pair.status) << pair.arguments[0] << xml.out;
        EXPECT_EQ(member(json.out, "status"), std::to_string(pair.status)) << json.out;
        EXPECT_EQ(json.exitCode, xml.exitCode) << pair.arguments[0];
        EXPECT_EQ(member(json.out, "exit_code"), std::to_string(xml.exitCode));
        // Standard output holds the one object; the result log stays XML.
        EXPECT_EQ(plimotest::lines(json.out).size(), 1u) << json.out;
        EXPECT_EQ(statusOf(readFile(testDir() + "/tmp/Orvane.log")), pair.status);
        objects.push_back(json.out);
    }
    // The service host prints the same object.
    const RunResult host = svchost({"zuacmd=progress", "updateid=X1"});
    const RunResult hostJson = plimotest::runProgram(
        {svchostPath(), "--json", "plimo", "zuacmd=progress", "updateid=X1"}, childEnvironment(), testDir());
    EXPECT_EQ(hostJson.exitCode, 0);
    EXPECT_EQ(member(hostJson.out, "status"), std::to_string(statusOf(host.out)));
    objects.push_back(hostJson.out);

    // Errors before any answer, and options that are wrong: JSON too, with
    // the usual failure code.
    for (const std::vector<std::string>& wrong :
         std::vector<std::vector<std::string>>{{"-?", "-json"},
                                               {"-bogus", "-json"},
                                               {"-update", "-watch", "-json"},
                                               {"-progress", "-watch", "-interval", "0", "-json"},
                                               {"-progress", "-watch", "-interval", "x", "-json"},
                                               {"-progress", "-interval", "2", "-json"},
                                               {"-update", "-path", "missing.xml", "-json"}}) {
        const RunResult r = orvane(wrong);
        EXPECT_EQ(r.exitCode, 255) << wrong[0];
        EXPECT_EQ(r.out.rfind("{\"error\":", 0), 0u) << r.out;
        EXPECT_EQ(member(r.out, "exit_code"), "255");
        objects.push_back(r.out);
    }
    const RunResult noPlugin =
        plimotest::runProgram({svchostPath(), "--json", "nosuch", "zuacmd=progress"}, childEnvironment(), testDir());
    EXPECT_EQ(noPlugin.exitCode, 1);
    objects.push_back(noPlugin.out);
    EXPECT_EQ(schemaProblems(objects), "");

    // Without -json the wrong options end as every invalid command does.
    const RunResult r = orvane({"-progress", "-watch", "-interval", "x"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.out.find("\nhelp:\n"), std::string::npos);
    EXPECT_NE(r.err.find("invalid interval, x"), std::string::npos) << r.err;
}

TEST(OperatorView, LiveViewOnATerminalAndNothingOnAPipe) {
    writeThreePackageBundle(2, 0.6);
    RunResult r = onTerminal({orvanePath(), "-update", "-path", bundleFile(), "-updateid", "L1"});
    EXPECT_EQ(r.exitCode, 4) << r.err;
    EXPECT_EQ(statusOf(r.out), 3073);
    EXPECT_NE(r.err.find("[1/3] P1 a.sh \u2026 exit 0, ok, "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("[2/3] P2 x.tar.gz \u2026 skipped"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("[3/3] P3 c.sh \u2026 exit 2, restart needed, "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("update ended: status 3073 "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 run, 0 failed, 1 skipped, 0 missing; restarts 0"), std::string::npos) << r.err;
    // The view only asked: the update ran each package once.
    EXPECT_EQ(qpkRuns(bundleDir(), "a"), 1);
    EXPECT_EQ(qpkRuns(bundleDir(), "c"), 1);

    r = orvane({"-update", "-path", bundleFile(), "-updateid", "L2"});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.err, "");

    // The plan of a validation, on a terminal only.
    r = onTerminal({orvanePath(), "-validate", "-path", bundleFile(), "-timeout", "30"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(statusOf(r.out), 0);
    const std::vector<std::string> table = plimotest::lines(r.err);
    ASSERT_GE(table.size(), 6u) << r.err;
    EXPECT_EQ(std::regex_replace(table[1], std::regex(" +"), " "), "1 P1 a.sh qpk run none 60 s\r");
    EXPECT_EQ(std::regex_replace(table[2], std::regex(" +"), " "), "2 P2 x.tar.gz gz skip none 30 s\r");
    EXPECT_EQ(std::regex_replace(table[3], std::regex(" +"), " "), "3 P3 c.sh qpk run none 30 s\r");
    EXPECT_NE(table[4].find("applies to this system: yes, to this OS: yes; signature: unsigned"), std::string::npos);
    EXPECT_EQ(orvane({"-validate", "-path", bundleFile()}).err, "");

    // -watch follows an update started elsewhere until it ends.
    const int update = spawn({svchostPath(), "plimo", "zuacmd=update", "bundlepath=" + bundleDir(), "bundle=bundle.xml",
                              "zuausrinfo=x", "updateid=W1"});
    ASSERT_TRUE(waitForFile(bundleDir() + "/a.started", 30));
    r = onTerminal({orvanePath(), "-progress", "-watch", "-interval", "0.1"});
    EXPECT_EQ(waitChild(update), 0);
    EXPECT_EQ(statusOf(r.out), 3073) << r.out << r.err;
    EXPECT_EQ(attributeOf(r.out, "BundleLog", "update-id"), "W1");
    EXPECT_NE(r.err.find("[3/3] P3 c.sh \u2026 exit 2, restart needed"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("update ended: status 3073 "), std::string::npos) << r.err;

    // Nothing to watch: the answer of -progress at once.
    r = orvane({"-progress", "-watch"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(statusOf(r.out), 3080);
}

TEST(OperatorView, HistoryListsEveryUpdateOnceNewestFirstWithinItsBound) {
    using VorkCommon::HistoryLayout;
    // Files beside the final logs that are none.
    writeFile(finalLog("foreign"), "<?xml version=\"1.0\"?><Other/>");
    writeFile(finalLog("torn"), "<BundleLog><SMStatus result=\"0\"");
    ASSERT_EQ(::symlink("/etc/passwd", finalLog("link").c_str()), 0);
    // A history left with far too many old entries, and files that are none.
    const std::string history = tempFolder() + "/" + HistoryLayout::kFolderName;
    ASSERT_EQ(::mkdir(history.c_str(), 0700), 0);
    const std::size_t old = 10000;
    auto oldEntry = [&](std::size_t i) {
        return history + "/" + HistoryLayout::entryName(HistoryLayout::Call::Update, {946684800 + long(i), 0}, 1);
    };
    for (std::size_t i = 0; i < old; ++i)
        writeFile(oldEntry(i), "<BundleLog dateTime=\"2000-01-01T00:00:00Z\"><SMStatus result=\"0\"/></BundleLog>");
    writeFile(history + "/" + HistoryLayout::entryName(HistoryLayout::Call::Update, {978307200, 0}, 1),
              "<BundleLog><SMStatus result=\"0\"");
    writeFile(history + "/notes.txt", "<BundleLog><SMStatus result=\"0\"/></BundleLog>");
    const std::string elsewhere = writeFile(testDir() + "/elsewhere.xml",
                                            "<BundleLog update-id=\"ELSEWHERE\"><SMStatus result=\"0\"/></BundleLog>");
    const std::string linked = HistoryLayout::entryName(HistoryLayout::Call::Update, {978307201, 0}, 1);
    ASSERT_EQ(::symlink(elsewhere.c_str(), (history + "/" + linked).c_str()), 0);
    ASSERT_EQ(::mkfifo((history + "/fifo").c_str(), 0600), 0);

    // Three updates without an id (one of them restarts the machine and goes
    // on in its resume), and one with.
    writeThreePackageBundle(0);
    EXPECT_EQ(statusOf(orvane({"-update", "-path", bundleFile()}).out), 3087);
    const std::string restarting = testDir() + "/restarting";
    writeQpk(restarting, "r", {4, 0});
    writeBundle(restarting, {"r.sh"});
    EXPECT_EQ(statusOf(svchost({"zuacmd=update", "bundlepath=" + restarting, "bundle=bundle.xml", "zuausrinfo=x",
                                "reboot=true"})
                           .out),
              3083);
    EXPECT_EQ(statusOf(runUnit().out), 0);
    writeThreePackageBundle(1);
    EXPECT_EQ(statusOf(orvane({"-update", "-path", bundleFile(), "-continueonfailure"}).out), 3085);
    writeThreePackageBundle(0);
    EXPECT_EQ(statusOf(orvane({"-update", "-path", bundleFile(), "-updateid", "H4"}).out), 3087);
    writeFile(internalLog(), "<BundleLog/>");

    RunResult r = orvane({"-history"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> lines = plimotest::lines(r.out);
    ASSERT_GT(lines.size(), 12u) << r.out;
    // id, status, run, failed, skipped, restarts
    const std::vector<std::string> newest = {"H4 ", "- ", "- ", "- "};
    const std::vector<std::string> figures = {"Z 3087 2 0 1 0 One or more", "Z 3085 2 1 1 0 ", "Z 0 1 0 0 1 Success",
                                              "Z 3087 2 0 1 0 One or more"};
    for (std::size_t i = 0; i < newest.size(); ++i) {
        const std::string row = std::regex_replace(lines[i + 1], std::regex(" +"), " ");
        EXPECT_EQ(row.rfind(newest[i], 0), 0u) << r.out;
        EXPECT_NE(row.find(figures[i]), std::string::npos) << row;
    }
    // Then what cannot be read, listed and never followed, then the old.
    for (std::size_t i = 5; i < 12; ++i) EXPECT_NE(lines[i].find(" unreadable "), std::string::npos) << lines[i];
    EXPECT_NE(lines[12].find("2000-01-01T00:00:00Z"), std::string::npos) << lines[12];
    EXPECT_EQ(r.out.find("BAUpdate"), std::string::npos);
    EXPECT_EQ(r.out.find("ELSEWHERE"), std::string::npos);

    // The bound: the oldest went first, the newest stayed, each root's alone.
    std::size_t entries = 0;
    for (const auto& file : std::filesystem::directory_iterator(history)) {
        struct stat status {};
        const std::string name = file.path().filename();
        if (::lstat(file.path().c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
        if (!HistoryLayout::parseName(name)) continue;
        ++entries;
        if (name.rfind("2000", 0) != 0 && name.rfind("2001", 0) != 0) {
            EXPECT_EQ(status.st_mode & 07777, 0600u) << name;
        }
    }
    EXPECT_EQ(entries, HistoryLayout::kMaxEntries);
    const std::size_t others = 5 + 1; // the five calls and the torn entry
    EXPECT_TRUE(fileExists(oldEntry(old - 1)));
    EXPECT_TRUE(fileExists(oldEntry(old - (HistoryLayout::kMaxEntries - others))));
    EXPECT_FALSE(fileExists(oldEntry(old - (HistoryLayout::kMaxEntries - others) - 1)));
    struct stat folder {};
    ASSERT_EQ(::stat(history.c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    EXPECT_EQ(folder.st_uid, ::geteuid());

    r = orvane({"-history", "-json"});
    EXPECT_EQ(r.exitCode, 0);
    std::vector<std::string> objects = {r.out};
    EXPECT_EQ(r.out.find("{\"history\":[{\"file\":\"" + finalLog("H4") + "\",\"update_id\":\"H4\""), 0u) << r.out;
    EXPECT_NE(r.out.find("\"update_id\":\"torn\",\"readable\":false"), std::string::npos);
    EXPECT_EQ(countOf(r.out, "\"update_id\":\"\",\"readable\":true,\"date\":\"20"),
              3 + int(HistoryLayout::kMaxEntries - others));

    // One update in full: each package with its result, code, runs and last log.
    r = orvane({"-history", "-updateid", "H4"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("status     3087 One or more"), std::string::npos) << r.out;
    lines = plimotest::lines(r.out);
    const auto row = [&](const std::string& start) {
        for (const std::string& line : lines)
            if (line.rfind(start, 0) == 0) return std::regex_replace(line, std::regex(" +"), " ");
        return std::string("<none>");
    };
    EXPECT_EQ(row("1 "), "1 P1 a.sh exit 0, ok 0 1");
    EXPECT_EQ(row("2 "), "2 P2 x.tar.gz skipped 3 0");
    EXPECT_EQ(row("3 "), "3 P3 c.sh exit 0, ok 0 1");
    EXPECT_NE(r.out.find("[3] c.sh, last log:\n    c run "), std::string::npos) << r.out;
    r = orvane({"-history", "-updateid", "H4", "-json"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("\"result\":\"skipped\",\"code\":3,\"runs\":0"), std::string::npos) << r.out;
    objects.push_back(r.out);
    r = orvane({"-history", "-updateid", "H9", "-json"});
    EXPECT_EQ(r.exitCode, 255);
    objects.push_back(r.out);
    EXPECT_EQ(schemaProblems(objects), "");

    // A history folder that is a link is neither written nor read through.
    ASSERT_EQ(::rename(history.c_str(), (history + ".real").c_str()), 0);
    ASSERT_EQ(::symlink((history + ".real").c_str(), history.c_str()), 0);
    EXPECT_EQ(statusOf(orvane({"-update", "-path", bundleFile()}).out), 3087);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(history + ".real"), {}), long(entries + 3));
    r = orvane({"-history"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(std::regex_replace(r.out, std::regex(" +"), " ").find("\n- - unreadable - - - - " + history + "\n"),
              std::string::npos)
        << r.out;

    EXPECT_EQ(orvane({"-history", "-progress"}).exitCode, 255);

    // A final log of 64 MiB costs a pass over its bytes, not a copy of them.
    {
        std::ofstream big(finalLog("BIG"));
        big << "<BundleLog update-id=\"BIG\"><SMStatus result=\"0\"/>";
        const std::string text(1 << 20, 'x');
        for (int i = 0; i < 64; ++i)
            big << "<Package><Status state=\"complete\" code=\"0\" status=\"2\"/><PkgLog code=\"0\">" << text
                << "</PkgLog></Package>";
        big << "</BundleLog>";
    }
    r = orvane({"-history"});
    EXPECT_NE(std::regex_replace(r.out, std::regex(" +"), " ").find("\nBIG - 0 64 0 0 0 Success\n"), std::string::npos)
        << r.out;
    // Measured by a small parent of its own: a child's peak counts the
    // memory of the process it was started from. A sanitizer keeps what is
    // freed for a while: here it must not.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    const RunResult peak = plimotest::runProgram(
        {python, "-c",
         "import os,sys;p=os.fork();p or (os.dup2(os.open(os.devnull,os.O_WRONLY),1),os.execv(sys.argv[1],"
         "sys.argv[1:]));w=os.wait4(p,0);print(w[2].ru_maxrss if w[1]==0 else -1)",
         orvanePath(), "-history"},
        childEnvironment({"ASAN_OPTIONS=" + std::string(sanitizer != nullptr ? sanitizer : "") +
                          ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0"}),
        testDir());
    ASSERT_EQ(peak.exitCode, 0) << peak.err;
    EXPECT_GT(std::atol(peak.out.c_str()), 0) << peak.out;
    EXPECT_LT(std::atol(peak.out.c_str()), 48 * 1024) << "kB at most";
}

TEST(OperatorView, MetricsAfterAnUpdateARestartRequestAndAClean) {
    const std::string metrics = testDir() + "/metrics";
    const std::string file = metrics + "/plimo.prom";
    writeThreePackageBundle(1);
    // Without the directory nothing is written.
    EXPECT_EQ(orvane({"-update", "-path", bundleFile(), "-continueonfailure"}).exitCode, 7);
    EXPECT_FALSE(fileExists(metrics));

    ::mkdir(metrics.c_str(), 0755);
    EXPECT_EQ(orvane({"-update", "-path", bundleFile(), "-continueonfailure", "-updateid", "M1"}).exitCode, 7);
    std::map<std::string, double> m = parseMetrics(readFile(file));
    EXPECT_EQ(m["plimo_last_status_code{call=\"update\"}"], 3085);
    EXPECT_GT(m["plimo_last_status_timestamp_seconds"], 1.6e9);
    EXPECT_EQ(m["plimo_restart_pending"], 0);
    EXPECT_EQ(m["plimo_resume_service_installed"], 0);
    EXPECT_EQ(m["plimo_last_update_info{update_id=\"M1\"}"], 1);
    EXPECT_EQ(m["plimo_last_update_packages{outcome=\"run\"}"], 2);
    EXPECT_EQ(m["plimo_last_update_packages{outcome=\"failed\"}"], 1);
    EXPECT_EQ(m["plimo_last_update_packages{outcome=\"skipped\"}"], 1);
    EXPECT_EQ(m["plimo_last_update_packages{outcome=\"missing\"}"], 0);
    EXPECT_GT(m["plimo_last_update_duration_seconds"], 0);

    // A package asks for a restart and the caller allows it.
    writeThreePackageBundle(2);
    const RunResult update = svchost({"zuacmd=update", "bundlepath=" + bundleDir(), "bundle=bundle.xml", "zuausrinfo=x",
                                      "reboot=true", "updateid=R1"});
    EXPECT_EQ(statusOf(update.out), 3082) << update.out;
    m = parseMetrics(readFile(file));
    EXPECT_EQ(m["plimo_last_status_code{call=\"update\"}"], 3082);
    EXPECT_EQ(m["plimo_restart_pending"], 1);
    EXPECT_EQ(m["plimo_resume_service_installed"], 1);
    EXPECT_EQ(m["plimo_last_update_info{update_id=\"R1\"}"], 1);

    // A clean says so and keeps the last update's figures.
    EXPECT_EQ(statusOf(svchost({"zuacmd=clean"}).out), 0);
    m = parseMetrics(readFile(file));
    EXPECT_EQ(m["plimo_last_status_code{call=\"clean\"}"], 0);
    EXPECT_EQ(m.count("plimo_last_status_code{call=\"update\"}"), 0u);
    EXPECT_EQ(m["plimo_resume_service_installed"], 0);
    EXPECT_EQ(m["plimo_last_update_info{update_id=\"R1\"}"], 1);
    EXPECT_EQ(m["plimo_last_update_packages{outcome=\"run\"}"], 2);

    // A metrics directory that is a file changes nothing of the update.
    ::unlink(file.c_str());
    ::rmdir(metrics.c_str());
    writeFile(metrics, "not a directory");
    const RunResult r = orvane({"-update", "-path", bundleFile()});
    EXPECT_EQ(statusOf(r.out), 3073) << r.out;
    EXPECT_EQ(readFile(metrics), "not a directory");
}

} // namespace
