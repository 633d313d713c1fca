#pragma once
#include <cstdio>
#include <string>
#include <vector>

class AnswerDocument;

// The live view of an update: from the successive progress answers of the
// update, one line per package as it starts and as it ends, and a summary
// line when the update has ended. On a terminal a package's start line is
// replaced by its end line; elsewhere only end lines are written. Durations
// are the time between the answer that first showed a package running and
// the one that first showed it ended, so they are as fine as the polling.
class ProgressView {
public:
    // total: packages in the bundle, 0 when unknown.
    ProgressView(std::FILE* out, bool terminal, int total);

    void setTotal(int total) { m_nTotal = total; }
    // When the update began, if known before its first answer.
    void begin(double now);
    // An answer received at now (seconds on a steady clock).
    void observe(const AnswerDocument& answer, double now);
    // The update's last answer: the packages not yet shown ended, then the
    // summary; note is added to it ("" for none). unfinished says what a
    // package that the answer shows still running came to.
    void finish(const AnswerDocument& answer, double now, const std::string& note = "",
                const std::string& unfinished = "did not end");

    // The outcome of an ended package in words ("exit 2, restart needed").
    static std::string outcome(const AnswerDocument& answer, std::size_t index,
                               const std::string& unfinished = "did not end");

private:
    struct Seen {
        bool started = false;
        bool ended = false;
        double startedAt = 0;
    };

    std::string label(const AnswerDocument& answer, std::size_t index) const;
    // A line as it is written: control characters shown as escapes.
    static std::string shown(const std::string& line);
    void closeOpenLine();
    void showEnd(const AnswerDocument& answer, std::size_t index, double now, const std::string& unfinished);

    std::FILE* m_pOut;
    bool m_bTerminal;
    int m_nTotal;
    bool m_bOpenLine = false;
    bool m_bBegun = false;
    double m_dBegin = 0;
    std::vector<Seen> m_seen;
};
