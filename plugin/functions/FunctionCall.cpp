#include "FunctionCall.h"

#include <chrono>
#include <exception>
#include <thread>

#include "BAXMLDoc.h"
#include "BundleApplicatorBase.h"
#include "FailureStatus.h"
#include "LockProbe.h"
#include "raiseRebootRequiredFlag.h"
#include "VorkException.h"
#include "VorkLocaleFactory.h"
#include "VorkLogRecord.h"
#include "VorkStringUtilities.h"

using VorkSupport::VorkException;

namespace {

// How long a call waits for a lock that a moment's holder has (LockProbe),
// and how often it tries again. "progress" holds the lock for a moment when
// it looks at an update whose process died; meeting it must not make an
// update, a resume or a clean report an update in progress. A lock that a
// running update holds is reported at once.
constexpr std::chrono::milliseconds kLockPatience{10000};
constexpr std::chrono::milliseconds kLockRetryStep{50};

} // namespace

FunctionCall::Reporting FunctionCall::Reporting::of(const std::string& function) {
    return Reporting{function + ": VorkException: \n", function + ": std::exception: \n"};
}

FunctionCall::Reporting FunctionCall::Reporting::withPrefix(const std::string& prefix) {
    return Reporting{prefix, prefix};
}

FunctionCall::FunctionCall(const std::string& function, BundleApplicatorBase& applicator, BAXMLDoc& log)
    : m_applicator(applicator), m_log(log), m_reporting(Reporting::of(function)) {}

FunctionCall::~FunctionCall() { releaseLock(); }

double FunctionCall::elapsedSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
}

bool FunctionCall::takeLock() {
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    for (;;) {
        if (m_applicator.startExclusiveUpdate()) return true;
        // A lock that cannot be made at all does not come by waiting.
        if (m_applicator.lockFailureStatus() != StatusCode::UpdateInProgress) break;
        if (!LockProbe::held(m_applicator.lockFileName())) {
            // The moment's holder lets the lock go before its probe: once
            // the probe is free, one more try tells who had the lock.
            if (m_applicator.startExclusiveUpdate()) return true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(kLockRetryStep);
    }
    setStatus(m_applicator.lockFailureStatus());
    return false;
}

void FunctionCall::releaseLock() { m_applicator.endExclusiveUpdate(); }

void FunctionCall::setStatus(int code) {
    try {
        m_log.SMStatus(code);
    } catch (const VorkException&) {
        m_log.init();
        m_log.SMStatus(code);
    }
    m_log.setDocDateTime();
}

std::string FunctionCall::answer() {
    if (m_bCleanupAtEnd) guard([this] { m_log.cleanup(); });
    // What is not durable now never will be: a log that cannot be saved whole
    // restarts nothing, and the machine stays up with its flag raised.
    if (m_restart && !guard([this] { m_log.saveWhole(); })) {
        m_restart = nullptr;
        (void)raiseRebootRequiredFlag();
    }
    std::string text = endRecords();
    if (m_restart && !askForRestart()) text = endRecords();
    return text;
}

std::string FunctionCall::endRecords() {
    // Taken only under the lock: a refused restart may not get it again.
    const std::function<void()> write =
        m_records && m_applicator.holdsExclusiveUpdate() ? m_records() : std::function<void()>();
    releaseLock();
    std::string text = m_log.dumpRoot();
    if (m_keep) m_keep(text);
    if (write) write();
    return text;
}

bool FunctionCall::askForRestart() {
    const std::function<void()> request = std::move(m_restart);
    m_restart = nullptr;
    int status = 0;
    try {
        request();
        return true;
    } catch (...) {
        status = statusOfCaught(m_reporting);
    }
    // The machine stays up: the record says so, and the next boot resumes it.
    if (takeLock()) {
        setStatus(status);
        guard([this] {
            m_log.saveWhole();
            const std::string logTarget = m_log.logTarget();
            if (!logTarget.empty()) m_log.saveTo(logTarget);
        });
    }
    setStatus(status);
    return false;
}

int FunctionCall::statusOfCaught(const Reporting& reporting) {
    try {
        throw;
    } catch (const VorkException& e) {
        if (reporting.generic) return report(reporting.vorkPrefix, "", StatusCode::UnknownException);
        using VorkSupport::VorkLocaleFactory;
        const std::string message =
            VorkSupport::VorkStringUtilities::narrow(e.getMessage(), VorkLocaleFactory::getDefaultLocale());
        return report(reporting.vorkPrefix, message, FailureStatus::of(e, reporting.fallback));
    } catch (const std::exception& e) {
        return report(reporting.stdPrefix, reporting.generic ? "" : e.what(), StatusCode::UnknownException);
    } catch (...) {
        if (!reporting.generic) throw;
        return report(reporting.stdPrefix, "", StatusCode::UnknownException);
    }
}

int FunctionCall::report(const std::string& prefix, const std::string& message, int status) {
    VORK_LOG(1, prefix << message << ". code=" << status);
    return status;
}
