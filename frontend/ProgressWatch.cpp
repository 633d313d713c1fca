#include "ProgressWatch.h"

#include <chrono>
#include <thread>
#include <vector>

#include "AnswerDocument.h"
#include "BundlePlan.h"
#include "ProgressView.h"
#include "StatusCode.h"
#include "zuadb64.h"

namespace {

// A waiting update shows this in two answers in a row before the view ends:
// one answer may fall between two packages of a run.
constexpr int kWaitingConfirmations = 2;

bool waitsForRestart(const AnswerDocument& answer) {
    return !answer.running() &&
           (answer.status == StatusCode::Rebooting || answer.status == StatusCode::RebootingToResume);
}

} // namespace

ProgressWatch::ProgressWatch(uint64_t plugin, double intervalSeconds)
    : m_nPlugin(plugin), m_dInterval(intervalSeconds) {}

double ProgressWatch::now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void ProgressWatch::pause() const { std::this_thread::sleep_for(std::chrono::duration<double>(m_dInterval)); }

std::string ProgressWatch::ask(const std::string& updateId) const {
    std::vector<std::string> entries = {"zuacmd=progress", "dbgtarget=0"};
    if (!updateId.empty()) entries.push_back("updateid=" + updateId);
    entries.push_back("zuausrmask=7");
    entries.push_back("zuausrinfo=OrvaneUsr");
    std::vector<char*> vector;
    for (std::string& entry : entries) vector.push_back(entry.data());
    const int count = static_cast<int>(vector.size());
    vector.push_back(nullptr);
    char* answer = ZUDBPluginSendCmd(m_nPlugin, count, vector.data());
    if (answer == nullptr) return std::string();
    std::string text(answer);
    ZUDBPluginFreeData(m_nPlugin, answer);
    return text;
}

int ProgressWatch::packagesOfBundle(const std::string& answerText) {
    const AnswerDocument answer = AnswerDocument::parse(answerText);
    std::string directory = answer.setting("bundle-path");
    const std::string name = answer.bundleAttribute("bundle");
    if (directory.empty() || name.empty()) return 0;
    if (directory.back() != '/') directory += '/';
    return static_cast<int>(BundlePlan::read(directory + name).entries().size());
}

std::string ProgressWatch::watch(ProgressView& view, std::string& note) const {
    std::string updateId;
    bool seen = false;
    bool totalKnown = false;
    int firstRebootCount = -1;
    int waiting = 0;
    AnswerDocument last;
    for (;;) {
        std::string text = ask();
        if (text.empty()) return text;
        const AnswerDocument answer = AnswerDocument::parse(text);
        if (answer.status == StatusCode::NoUpdateInProgress) {
            if (!seen) return text;
            // Ended: its final log, when it has an update id to keep it by.
            if (!updateId.empty()) {
                std::string last = ask(updateId);
                const AnswerDocument final = AnswerDocument::parse(last);
                if (final.valid && final.updateId == updateId) {
                    view.finish(final, now());
                    return last;
                }
            }
            // Without one its last state as seen is all there is to show.
            note = "its final log is not kept (the update has no update id)";
            view.finish(last, now(), note, "ended, outcome not kept");
            return text;
        }
        if (answer.valid) {
            seen = true;
            last = answer;
            if (!answer.updateId.empty()) updateId = answer.updateId;
            if (!totalKnown) {
                view.setTotal(packagesOfBundle(text));
                totalKnown = true;
            }
            if (firstRebootCount < 0) firstRebootCount = answer.rebootCount;
            view.observe(answer, now());
            // A restart counted since the view began: the update now waits
            // for it, as it does when it shows so twice in a row.
            waiting = waitsForRestart(answer) ? waiting + 1 : 0;
            if ((answer.rebootCount > firstRebootCount && !answer.running()) || waiting >= kWaitingConfirmations) {
                note = "waiting for a restart";
                view.finish(answer, now(), note);
                return text;
            }
        }
        pause();
    }
}
