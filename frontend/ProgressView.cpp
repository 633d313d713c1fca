#include "ProgressView.h"

#include <algorithm>

#include "AnswerDocument.h"
#include "ControlText.h"

namespace {

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", value < 0 ? 0.0 : value);
    return text;
}

bool ended(const AnswerDocument::Package& package) { return package.state != "in-progress"; }

} // namespace

ProgressView::ProgressView(std::FILE* out, bool terminal, int total)
    : m_pOut(out), m_bTerminal(terminal), m_nTotal(total) {}

std::string ProgressView::label(const AnswerDocument& answer, std::size_t index) const {
    const AnswerDocument::Package& package = answer.packages[index];
    const int total = std::max<int>(m_nTotal, static_cast<int>(answer.packages.size()));
    std::string text = "[" + std::to_string(index + 1) + "/" + (total > 0 ? std::to_string(total) : "?") + "] ";
    if (!package.releaseId.empty()) text += package.releaseId + " ";
    return text + package.fileName() + " \u2026";
}

std::string ProgressView::outcome(const AnswerDocument& answer, std::size_t index, const std::string& unfinished) {
    const AnswerDocument::Package& package = answer.packages[index];
    if (package.state == "skipped") return "skipped";
    if (package.refused()) return "refused by the digest check";
    if (package.state == "missing") return "missing";
    if (package.state == "in-progress") return unfinished;
    std::string text = (package.kind() == "qpk" ? "exit " : "result ") + std::to_string(package.code);
    if (package.failed()) return text + ", failed";
    if (package.code == 4 || package.status == 4) return text + ", runs again after a restart";
    if (package.status == 3) return text + ", restart needed";
    if (package.status == 2) return text + ", ok";
    return text;
}

std::string ProgressView::shown(const std::string& line) {
    // Release ids, file names and messages come from the bundle and the
    // packages: none of their control characters reaches the terminal.
    return VorkCommon::ControlText::forTerminal(line);
}

void ProgressView::closeOpenLine() {
    if (!m_bOpenLine) return;
    std::fputc('\n', m_pOut);
    m_bOpenLine = false;
}

void ProgressView::showEnd(const AnswerDocument& answer, std::size_t index, double now, const std::string& unfinished) {
    Seen& seen = m_seen[index];
    std::string line = label(answer, index) + " " + outcome(answer, index, unfinished);
    if (seen.started && ended(answer.packages[index])) line += ", " + seconds(now - seen.startedAt);
    if (m_bOpenLine) {
        // The start line of this package is the open one: replace it.
        std::fputs("\r\033[K", m_pOut);
        m_bOpenLine = false;
    }
    std::fprintf(m_pOut, "%s\n", shown(line).c_str());
    seen.ended = true;
}

void ProgressView::begin(double now) {
    if (m_bBegun) return;
    m_bBegun = true;
    m_dBegin = now;
}

void ProgressView::observe(const AnswerDocument& answer, double now) {
    begin(now);
    if (m_seen.size() < answer.packages.size()) m_seen.resize(answer.packages.size());
    for (std::size_t i = 0; i < answer.packages.size(); ++i) {
        Seen& seen = m_seen[i];
        if (seen.ended) continue;
        if (ended(answer.packages[i])) {
            showEnd(answer, i, now, "");
            continue;
        }
        if (seen.started) continue;
        seen.started = true;
        seen.startedAt = now;
        if (!m_bTerminal) continue;
        closeOpenLine();
        std::fputs(shown(label(answer, i)).c_str(), m_pOut);
        m_bOpenLine = true;
    }
    std::fflush(m_pOut);
}

void ProgressView::finish(const AnswerDocument& answer, double now, const std::string& note,
                          const std::string& unfinished) {
    begin(now);
    if (m_seen.size() < answer.packages.size()) m_seen.resize(answer.packages.size());
    for (std::size_t i = 0; i < answer.packages.size(); ++i)
        if (!m_seen[i].ended) showEnd(answer, i, now, unfinished);
    closeOpenLine();
    std::string line = "update ended: status " + std::to_string(answer.status);
    if (!answer.message.empty()) line += " (" + answer.message + ")";
    line += "; " + std::to_string(answer.countRun()) + " run, " + std::to_string(answer.countFailed()) + " failed, " +
            std::to_string(answer.countSkipped()) + " skipped, " + std::to_string(answer.countMissing()) +
            " missing; restarts " + std::to_string(answer.rebootCount) + "; " + seconds(now - m_dBegin);
    if (!note.empty()) line += "; " + note;
    std::fprintf(m_pOut, "%s\n", shown(line).c_str());
    std::fflush(m_pOut);
}
