#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <utility>

#include "StatusCode.h"

class BAXMLDoc;
class BundleApplicatorBase;

// What one call of a plug-in function holds from its start to its answer:
// the applicator, which holds the exclusive-update lock while the call has
// it, the status log that becomes the answer, and whether that log is
// finished off (BAXMLDoc::cleanup) before it answers. The lock never
// outlives the call.
//
// It is also the one place where an exception that a plug-in function
// catches becomes a status: reported once at level 1 as a prefix, the
// exception's message (narrowed in the default locale) or what(), ". code="
// and the status; the status is the one the exception's kind reports
// (FailureStatus: its status code, 3079 for an allocation failure, the
// fallback, 3079 unless set, when it names none), and 3079 for any other
// exception.
class FunctionCall {
public:
    struct Reporting {
        // The text before a VorkException's message.
        std::string vorkPrefix;
        // The text before what() of any other exception.
        std::string stdPrefix;
        // The status of a VorkException that carries no code.
        int fallback = StatusCode::UnknownException;
        // Whatever is caught, of any kind, is reported as the prefix alone
        // with status 3079.
        bool generic = false;

        // "<function>: VorkException: \n" and "<function>: std::exception: \n".
        static Reporting of(const std::string& function);
        // The same text before either kind.
        static Reporting withPrefix(const std::string& prefix);
    };

    // function names the plug-in function in its reports
    // ("UpdateFunctionDispatch::execute").
    FunctionCall(const std::string& function, BundleApplicatorBase& applicator, BAXMLDoc& log);
    // Releases the lock when the call still holds it.
    ~FunctionCall();
    FunctionCall(const FunctionCall&) = delete;
    FunctionCall& operator=(const FunctionCall&) = delete;

    BAXMLDoc& log() { return m_log; }
    // Seconds since the call began.
    double elapsedSeconds() const;

    // Takes the exclusive-update lock, waiting (up to ten seconds) for a
    // holder that has it only for a moment (a "progress" call, LockProbe).
    // When an update holds it, or it cannot be made, the log records why
    // (setStatus) and the call answers that without finishing anything off.
    [[nodiscard]] bool takeLock();
    void releaseLock();
    void cleanupAtEnd(bool cleanup) { m_bCleanupAtEnd = cleanup; }
    bool cleanupAtEnd() const { return m_bCleanupAtEnd; }

    // Records a status and the time of the answer. A log taken from a file
    // that has no status element answers afresh.
    void setStatus(int code);

    // Runs step; an exception it raises is reported (with the function's own
    // prefixes, or reporting's) and its status recorded. False when it raised.
    template <typename Step>
    bool guard(Step&& step) {
        return guard(m_reporting, std::forward<Step>(step));
    }
    template <typename Step>
    bool guard(const Reporting& reporting, Step&& step) {
        try {
            std::forward<Step>(step)();
            return true;
        } catch (...) {
            setStatus(statusOfCaught(reporting));
            return false;
        }
    }

    // The request that ends the call once its answer is complete: the
    // restart of the machine, or the flag that tells the caller to restart
    // it. It raises when the restart is refused or cannot be asked for.
    void restartAtEnd(std::function<void()> request) { m_restart = std::move(request); }
    // What keeps the answer text once the call has let the lock go, before
    // any restart is asked for (the history entry).
    void keepAnswer(std::function<void(const std::string&)> keep) { m_keep = std::move(keep); }
    // The records of the call's end (the metrics): take runs while the call
    // still holds the lock and answers what writes them once it is let go,
    // before any restart is asked for; a refused restart takes them again.
    using Records = std::function<std::function<void()>()>;
    void recordsAtEnd(Records take) { m_records = std::move(take); }

    // The answer: the log finished off when so decided (a failure there
    // becomes its status), the lock released, the log's root element as text.
    // The records are taken under the lock and written, and the answer kept
    // (keepAnswer), once the lock is released. With a
    // restart to ask for, the log is saved whole first (its journal folded),
    // and the request is the last thing the call does: nothing of the update
    // changes after it. A refusal is recorded under the lock again, kept,
    // and answered.
    std::string answer();

    // Within a handler: reports the exception being handled and answers its
    // status. An exception that is neither a VorkException nor a
    // std::exception goes on, unless the reporting is generic.
    static int statusOfCaught(const Reporting& reporting);

private:
    // The restart, asked for outside the lock; a refusal becomes the status
    // of the answer and of the log, under the lock when it can be had again.
    // False when it was refused.
    bool askForRestart();
    // Takes the records, lets the lock go, keeps the answer and writes the
    // records; answers the answer's text.
    std::string endRecords();
    static int report(const std::string& prefix, const std::string& message, int status);

    BundleApplicatorBase& m_applicator;
    BAXMLDoc& m_log;
    Reporting m_reporting;
    bool m_bCleanupAtEnd = false;
    std::function<void()> m_restart;
    std::function<void(const std::string&)> m_keep;
    Records m_records;
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
};
