// What an operator sees, through the real Orvane and zuasvchost with the
// real plug-in: JSON answers against the shipped schema, the live view on a
// terminal, the history of kept final logs, and the metrics file.
#include <fcntl.h>
#include <sys/stat.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CycleSupport.h"
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

TEST(OperatorView, HistoryListsTheKeptFinalLogsNewestFirst) {
    // Files beside the final logs that are none, older than the updates.
    writeFile(finalLog("foreign"), "<?xml version=\"1.0\"?><Other/>");
    writeFile(finalLog("torn"), "<BundleLog><SMStatus result=\"0\"");
    ASSERT_EQ(::symlink("/etc/passwd", finalLog("link").c_str()), 0);
    writeThreePackageBundle(0);
    // The skipped tar.gz package makes each end with 3087.
    for (const char* id : {"H1", "H2", "H3"})
        EXPECT_EQ(statusOf(orvane({"-update", "-path", bundleFile(), "-updateid", id}).out), 3087);
    writeFile(internalLog(), "<BundleLog/>");

    RunResult r = orvane({"-history"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> lines = plimotest::lines(r.out);
    ASSERT_EQ(lines.size(), 7u) << r.out;
    for (int i = 1; i <= 3; ++i) {
        const std::string row = std::regex_replace(lines[i], std::regex(" +"), " ");
        EXPECT_EQ(row.rfind("H" + std::to_string(4 - i) + " ", 0), 0u) << r.out;
        // 2 run, 0 failed, 1 skipped, no restart
        EXPECT_NE(row.find("Z 3087 2 0 1 0 One or more"), std::string::npos) << row;
    }
    for (int i = 4; i < 7; ++i) EXPECT_NE(lines[i].find(" unreadable "), std::string::npos) << lines[i];
    EXPECT_EQ(r.out.find("BAUpdate"), std::string::npos);

    r = orvane({"-history", "-json"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(schemaProblems({r.out}), "");
    EXPECT_LT(r.out.find("\"H3\""), r.out.find("\"H1\""));
    EXPECT_NE(r.out.find("\"update_id\":\"torn\",\"readable\":false"), std::string::npos) << r.out;

    EXPECT_EQ(orvane({"-history", "-progress"}).exitCode, 255);
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
