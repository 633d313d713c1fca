// A power cut at every durable step of a real update with a restart and a
// resume, and at the writes between them, in every state the cut could leave
// (VorkFaultSeamModel): then the machine comes back, runs the resume when its
// unit is there, and is asked for progress and a new update. What must hold:
//   - every log parses; none is unreadable or left in the state folder;
//   - no package whose completion was durable runs again;
//   - no package started without a durable entry;
//   - what an answer reported is durable;
//   - no answer or final log says 0 unless every package succeeded, and none
//     holds an entry still in progress;
//   - nothing blocks the next update; nothing is left in the state or unit
//     folders.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include "BAXMLDoc.h"
#include "BAXmlText.h"
#include "CycleSupport.h"
#include "PluginClient.h"
#include "TestEnvironment.h"
#include "VorkFaultSeamModel.h"

namespace fs = std::filesystem;
using Model = VorkSupport::VorkFaultSeamModel;
using plimotest::readFile;
using plimotest::testDir;
using plimotest::writeFile;

namespace {

// The packages, P1 to P30: each records its runs; every seventh from P3 on
// asks for a reboot on its first run ever (and finishes on its entry after
// it), every seventh from P5 on to run again after a reboot; every fifth
// from P4 on writes a log large enough that the journal is written whole in
// the middle of the run.
struct StandIn {
    std::string id;
    int firstCode;
    bool bigLog;
};
std::vector<StandIn> packages() {
    std::vector<StandIn> standIns;
    for (int i = 1; i <= 30; ++i)
        standIns.push_back({"P" + std::to_string(i), i % 7 == 3 ? 2 : i % 7 == 5 ? 4 : 0, i % 5 == 4});
    return standIns;
}
const std::vector<StandIn> kPackages = packages();

std::string bundleDir() { return testDir() + "/bundle"; }
std::string nextBundleDir() { return testDir() + "/next"; }

void writeBundles() {
    writeFile(bundleDir() + "/big.txt", std::string(24000, 'x') + "\n");
    std::string xml = "<?xml version=\"1.0\"?>\n<SoftwareBundle><Contents>";
    for (const StandIn& p : kPackages) {
        const std::string id = p.id;
        std::string script = "#!/bin/sh\necho run >> \"$POWERCUT_RUNS/" + id + "\"\n";
        script += "for a; do case \"$a\" in /l=*) { echo " + id + " output";
        if (p.bigLog) script += "; cat '" + bundleDir() + "/big.txt'";
        script += "; } > \"${a#/l=}\";; esac; done\n";
        if (p.firstCode != 0)
            script += "if [ ! -f \"$POWERCUT_RUNS/" + id + ".asked\" ]; then : > \"$POWERCUT_RUNS/" + id +
                      ".asked\"; exit " + std::to_string(p.firstCode) + "; fi\n";
        script += "exit 0\n";
        writeFile(bundleDir() + "/" + id + ".sh", script, true);
        xml += "<Package releaseID=\"" + id + "\" path=\"" + id + ".sh\"/>";
    }
    writeFile(bundleDir() + "/bundle.xml", xml + "</Contents></SoftwareBundle>\n");
    writeFile(nextBundleDir() + "/n.sh",
              "#!/bin/sh\nfor a; do case \"$a\" in /l=*) echo N > \"${a#/l=}\";; esac; done\nexit 0\n", true);
    writeFile(nextBundleDir() + "/bundle.xml", "<?xml version=\"1.0\"?>\n<SoftwareBundle><Contents><Package "
                                               "releaseID=\"N\" path=\"n.sh\"/></Contents></SoftwareBundle>\n");
}

using Files = std::map<std::string, std::string>;

Files readDirectory(const std::string& dir) {
    Files files;
    if (!fs::exists(dir)) return files;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file()) files[entry.path().filename()] = readFile(entry.path());
    return files;
}

// One state a cut leaves: the modelled folders, the packages' run records
// as they were at that moment, and how many calls had answered by then.
struct Cut {
    int step = 0;
    std::string what;
    Model::State state;
    Files runs;
    int answered = 0;
};

struct Recording {
    std::mutex mutex;
    std::vector<Cut> cuts;
    std::set<std::size_t> seen;
    int steps = 0;
    int answered = 0;
    std::string runDir;
};
Recording g_recording;

std::string serialised(const Model::State& state, const Files& runs, int answered) {
    std::string text = std::to_string(answered);
    for (const auto& [dir, files] : state)
        for (const auto& [name, content] : files) text += "\n" + dir + "/" + name + "\n" + content;
    for (const auto& [name, content] : runs) text += "\nrun " + name + "\n" + content;
    return text;
}

void takeCuts(const char* what) {
    std::lock_guard<std::mutex> lock(g_recording.mutex);
    const int step = ++g_recording.steps;
    const Files runs = readDirectory(g_recording.runDir);
    for (Model::Names names : {Model::Names::Current, Model::Names::Synced}) {
        for (Model::Data data : {Model::Data::Current, Model::Data::Synced, Model::Data::Torn, Model::Data::Zeroed}) {
            Cut cut{step, what, Model::cut(names, data), runs, g_recording.answered};
            const std::size_t key = std::hash<std::string>()(serialised(cut.state, cut.runs, cut.answered));
            if (g_recording.seen.insert(key).second) g_recording.cuts.push_back(std::move(cut));
        }
    }
}

void onStep(const char* what, int) { takeCuts(what); }

// A package entry as a log records it.
struct Entry {
    std::string state;
    std::string code;
};
using Entries = std::multimap<std::string, Entry>;

// The entries of a status log text.
Entries entriesOf(const std::string& text) {
    Entries entries;
    const std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(BAXmlText::parseText(text), &xmlFreeDoc);
    xmlNodePtr root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    auto prop = [](xmlNodePtr node, const char* name) {
        xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
        std::string result = value != nullptr ? reinterpret_cast<const char*>(value) : "";
        xmlFree(value);
        return result;
    };
    for (xmlNodePtr child = root ? root->children : nullptr; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || !xmlStrEqual(child->name, BAD_CAST "Package")) continue;
        xmlNodePtr status = xmlFirstElementChild(child);
        entries.emplace(prop(child, "releaseID"), Entry{prop(status, "state"), prop(status, "code")});
    }
    return entries;
}

// The log a state holds for the update: the internal log with its journal,
// or its final log.
std::string updateLogOf(const std::string& stateDir) {
    if (fs::exists(stateDir + "/BAUpdate.xml")) return e2e::rebuiltLog(stateDir + "/BAUpdate.xml");
    return fs::exists(stateDir + "/U1.xml") ? readFile(stateDir + "/U1.xml") : std::string();
}

// A completion that no later run may repeat: complete with a code that asks
// for nothing more.
bool finalCompletion(const Entry& entry) { return entry.state == "complete" && entry.code != "2" && entry.code != "4"; }

int runsOf(const Files& runs, const std::string& id) {
    const auto found = runs.find(id);
    return found == runs.end() ? 0 : e2e::countOf(found->second, "run");
}

// 0 only when every package succeeded, each with its one entry; never an
// entry in progress.
void expectHonest(const std::string& text, const std::string& where) {
    EXPECT_EQ(e2e::countOf(text, "in-progress"), 0) << where << text;
    if (e2e::statusOf(text) != 0) return;
    const Entries entries = entriesOf(text);
    for (const StandIn& p : kPackages) {
        EXPECT_EQ(entries.count(p.id), 1u) << where << p.id << ": " << text;
        const auto found = entries.find(p.id);
        if (found != entries.end()) {
            EXPECT_TRUE(found->second.state == "complete" && found->second.code == "0") << where << p.id;
        }
    }
}

// The resume command of an installed unit, as the machine runs it after its
// restart: the words after "plimo" on ExecStart; none when the unit cannot
// resume anything.
std::vector<std::string> unitCommand(const std::string& unit) {
    std::istringstream lines(unit);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("ExecStart=", 0) != 0) continue;
        std::istringstream words(line.substr(10));
        std::vector<std::string> command;
        bool after = false;
        for (std::string word; words >> word;) {
            if (after) command.push_back(word);
            after = after || word == "plimo";
        }
        if (std::find(command.begin(), command.end(), "zuacmd=resume") != command.end()) return command;
    }
    return {};
}

class PowerCutTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(plugin.loaded()) << plugin.error(); }
    void TearDown() override {
        Model::setStepHook(nullptr);
        Model::stop();
    }
    std::string send(const std::vector<std::string>& entries) { return plugin.send(entries).value_or("<no answer>"); }
    PluginClient plugin;
};

TEST_F(PowerCutTest, EveryCutOfAnUpdateWithARestartAndAResumeKeepsItsPromises) {
    writeBundles();
    const std::string stateDir = testDir() + "/win/TEMP";
    const std::string unitDir = testDir() + "/units";
    g_recording.runDir = testDir() + "/runs";
    fs::create_directories(g_recording.runDir);
    ::setenv("POWERCUT_RUNS", g_recording.runDir.c_str(), 1);

    // The recording: the update, the restart it asks for, the resume.
    Model::start({stateDir, unitDir});
    Model::setStepHook(onStep);
    const std::vector<std::string> update = {"zuacmd=update",     "bundlepath=" + bundleDir(),
                                             "bundle=bundle.xml", "reboot=true",
                                             "updateid=U1",       "zuausrinfo=tester"};
    const std::string updateAnswer = send(update);
    {
        std::lock_guard<std::mutex> lock(g_recording.mutex);
        g_recording.answered = 1;
    }
    ASSERT_EQ(e2e::statusOf(updateAnswer), 3083) << updateAnswer;
    const std::vector<std::string> resume = unitCommand(readFile(unitDir + "/plimo.service"));
    ASSERT_FALSE(resume.empty());
    const std::string resumeAnswer = send(resume);
    {
        std::lock_guard<std::mutex> lock(g_recording.mutex);
        g_recording.answered = 2;
    }
    ASSERT_EQ(e2e::statusOf(resumeAnswer), 0) << resumeAnswer;
    takeCuts("end");
    Model::setStepHook(nullptr);
    Model::stop();
    expectHonest(resumeAnswer, "recording: ");
    const Entries reported = entriesOf(updateAnswer);

    const std::string base = testDir() + "/cut";
    int replayed = 0;
    for (std::size_t k = 0; k < g_recording.cuts.size(); ++k) {
        const Cut& cut = g_recording.cuts[k];
        const std::string where =
            "cut " + std::to_string(k) + " (step " + std::to_string(cut.step) + ", before " + cut.what + "): ";
        // The machine as the cut left it.
        fs::remove_all(base);
        const std::string state = base + "/win/TEMP";
        const std::string units = base + "/units";
        const std::string runs = base + "/runs";
        for (const std::string& dir : {state, units, runs}) fs::create_directories(dir);
        fs::permissions(state, fs::perms::owner_all, fs::perm_options::replace);
        for (const auto& [dir, files] : cut.state) {
            const std::string target = dir == fs::canonical(stateDir).string() ? state : units;
            for (const auto& [name, content] : files) writeFile(target + "/" + name, content);
        }
        for (const auto& [name, content] : cut.runs) writeFile(runs + "/" + name, content);
        ::setenv("windir", (base + "/win").c_str(), 1);
        ::setenv("VSUPT_SERVICE_DIR", units.c_str(), 1);
        ::setenv("POWERCUT_RUNS", runs.c_str(), 1);
        ++replayed;

        // What the cut left durable.
        const std::string left = updateLogOf(state);
        const Entries durable = entriesOf(left);
        for (const StandIn& p : kPackages) {
            if (runsOf(cut.runs, p.id) > 0) {
                EXPECT_GT(durable.count(p.id), 0u) << where << p.id << " started without a durable entry";
            }
        }
        if (cut.answered >= 1) {
            for (const auto& [id, entry] : reported) {
                if (!finalCompletion(entry)) continue;
                bool kept = false;
                for (auto [at, end] = durable.equal_range(id); at != end; ++at)
                    kept = kept || finalCompletion(at->second);
                EXPECT_TRUE(kept) << where << id << " was reported complete and is not durably so";
            }
            EXPECT_NE(e2e::attributeOf(left, "rebootCount", "rebootCount"), "<none>") << where << left;
        }
        if (cut.answered >= 2) {
            EXPECT_EQ(e2e::statusOf(left), 0) << where << "the answer 0 is not durable";
        }

        // The machine comes back: its unit resumes the update, as often as
        // it asks for another restart.
        std::vector<std::string> answers;
        for (int round = 0; round < 4 && fs::exists(units + "/plimo.service"); ++round) {
            const std::vector<std::string> command = unitCommand(readFile(units + "/plimo.service"));
            if (command.empty()) break;
            answers.push_back(send(command));
        }
        const Files after = readDirectory(runs);
        for (const auto& [id, entry] : durable) {
            if (finalCompletion(entry)) {
                EXPECT_EQ(runsOf(after, id), runsOf(cut.runs, id)) << where << id << " completed and ran again";
            }
        }
        answers.push_back(send({"zuacmd=progress", "updateid=U1"}));
        for (const std::string& answer : answers) expectHonest(answer, where + "answer: ");
        // No unit outlives the update it resumes: it would run at every boot.
        EXPECT_TRUE(fs::is_empty(units)) << where << "the unit outlived its update";

        const std::string next = send({"zuacmd=update", "bundlepath=" + nextBundleDir(), "bundle=bundle.xml",
                                       "updateid=NEXT", "zuausrinfo=tester"});
        EXPECT_EQ(e2e::statusOf(next), 0) << where << "the next update: " << next;

        // Nothing is left but the final logs and the packages' console log.
        for (const auto& [name, content] : readDirectory(state)) {
            if (name == "PackageConsole.log") continue;
            EXPECT_TRUE(name == "U1.xml" || name == "NEXT.xml") << where << "left in the state folder: " << name;
            EXPECT_TRUE(e2e::wholeStatusLog(state + "/" + name)) << where << name << " does not parse";
            if (name == "U1.xml") expectHonest(content, where + name + ": ");
        }
        EXPECT_TRUE(fs::is_empty(units)) << where << "left in the unit folder: "
                                         << (fs::is_empty(units) ? "" : fs::directory_iterator(units)->path().string());
        if (::testing::Test::HasFailure()) break;
    }
    std::cout << "power-cut states: " << g_recording.cuts.size() << " recorded at " << g_recording.steps << " steps, "
              << replayed << " replayed" << std::endl;
    RecordProperty("states", replayed);
    EXPECT_GT(g_recording.cuts.size(), 100u);
}

} // namespace
