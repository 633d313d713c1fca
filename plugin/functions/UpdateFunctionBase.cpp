#include "UpdateFunctionBase.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "BAXMLDoc.h"
#include "FunctionCall.h"
#include "StatusCode.h"
#include "VorkBootId.h"
#include "VorkException.h"
#include "VorkExecuteProgram.h"
#include "VorkLogRecord.h"
#include "VorkLoginManager.h"
#include "VorkRestartMark.h"
#include "VorkScopeTrace.h"
#include "getAbsolutePath.h"
#include "raiseRebootRequiredFlag.h"

namespace {

// Whether this process may restart the machine: root, or CAP_SYS_BOOT in its
// effective capability set.
bool mayRestartMachine() {
    if (::geteuid() == 0) return true;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("CapEff:", 0) != 0) continue;
        std::istringstream hex(line.substr(7));
        unsigned long long capabilities = 0;
        hex >> std::hex >> capabilities;
        constexpr int kCapSysBoot = 22;
        return (capabilities >> kCapSysBoot) & 1ULL;
    }
    return false;
}

} // namespace

UpdateFunctionBase::UpdateFunctionBase() { VORK_TRACE("UpdateFunctionBase::UpdateFunctionBase"); }

UpdateFunctionBase::~UpdateFunctionBase() { endExclusiveUpdate(); }

bool UpdateFunctionBase::startIt() { return false; }

bool UpdateFunctionBase::pauseIt() { return false; }

bool UpdateFunctionBase::restartMayBeAsked() {
    return std::getenv("PLIMO_SKIP_REBOOT") == nullptr && mayRestartMachine();
}

unsigned UpdateFunctionBase::restartDelaySeconds() {
    constexpr unsigned kDefault = 5;
    constexpr unsigned long kLongest = 300;
    const char* text = std::getenv("PLIMO_RESTART_DELAY");
    if (text == nullptr || *text == '\0') return kDefault;
    char* end = nullptr;
    errno = 0;
    const unsigned long seconds = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || *text == '-' || *text == '+' || seconds > kLongest) {
        VORK_LOG(2, "UpdateFunctionBase::restartDelaySeconds: PLIMO_RESTART_DELAY |"
                        << text << "| is not 0 to " << kLongest << "; using " << kDefault);
        return kDefault;
    }
    return static_cast<unsigned>(seconds);
}

bool UpdateFunctionBase::reboot() {
    VORK_TRACE("UpdateFunctionBase::reboot");
    VORK_LOG(4, "UpdateFunctionBase::reboot: starting system reboot");
    // Without the switch off or the right to restart, the request is quietly
    // dropped.
    if (!restartMayBeAsked()) return false;

    // A SIGTERM from here on is the shutdown this process asked for.
    VorkSupport::VorkRestartMark::set();
    const unsigned delay = restartDelaySeconds();
    VorkSupport::VorkLoginManager logind;
    if (logind.rebootIn(delay)) {
        VORK_LOG(4, "UpdateFunctionBase::reboot: reboot initiated - " << 0u);
        VORK_LOG(4, "UpdateFunctionBase::reboot: the machine restarts in " << delay << " s");
        return true;
    }
    std::string text = logind.error();
    if (logind.unreachable()) {
        VORK_LOG(3, "UpdateFunctionBase::reboot: no login manager (" << text << "), asking the system manager");
        VorkSupport::VorkProgramCall call;
        call.programText = "systemctl";
        call.arguments = {"--no-wall", "reboot"};
        call.commandLine = call.joined();
        const VorkSupport::VorkProgramResult run = VorkSupport::VorkExecuteProgram(call);
        const bool started = run.started;
        const int exitCode = run.exitCode;
        if (started && exitCode == 0) {
            VORK_LOG(4, "UpdateFunctionBase::reboot: reboot initiated - " << 0u);
            return true;
        }
        text = started ? "the system manager refused the restart (exit code " + std::to_string(exitCode) + ")"
                       : std::string("the system manager could not be started");
    }
    VorkSupport::VorkRestartMark::clear();
    VORK_LOG(1, "UpdateFunctionBase::reboot: reboot failed - " << text);
    throw VorkSupport::VorkException(text);
}

void UpdateFunctionBase::rebootOrFlag() {
    bool restarting = false;
    try {
        restarting = reboot();
    } catch (...) {
        flagRebootRequired();
        throw;
    }
    if (!restarting) flagRebootRequired();
}

void UpdateFunctionBase::prepareRestart(BAXMLDoc& statusLog) {
    statusLog.rebootCount(statusLog.rebootCount() + 1);
    // A restart skipped on purpose (or one that cannot be asked for) is
    // waited for by no boot: a resume goes on whenever it is started.
    const bool restarts =
        std::getenv("PLIMO_SKIP_REBOOT") == nullptr && (statusLog.callerReboot() || mayRestartMachine());
    std::optional<std::string> bootId;
    if (restarts) {
        bootId = VorkSupport::VorkBootId::current();
        if (!bootId)
            VORK_LOG(2, "UpdateFunctionBase::prepareRestart: the boot id cannot be read; a resume will not know "
                        "whether the machine has restarted");
    }
    statusLog.restartBootId(bootId.value_or(std::string()));
    // Whole, so the one file tells the update across the restart.
    statusLog.saveWhole();
    const std::string logTarget = statusLog.logTarget();
    if (!logTarget.empty()) statusLog.saveTo(logTarget);
}

void UpdateFunctionBase::requestRestart(BAXMLDoc& statusLog) {
    if (!statusLog.callerReboot()) return rebootOrFlag();
    // The caller restarts the machine when it sees the flag or the answer.
    VORK_LOG(4, "UpdateFunctionBase::requestRestart: the restart is left to the caller");
    flagRebootRequired();
}

void UpdateFunctionBase::flagRebootRequired() { (void)raiseRebootRequiredFlag(); }

VorkSupport::VorkShutdownInhibitor UpdateFunctionBase::inhibitShutdown(const std::string& updateId) {
    VORK_TRACE("UpdateFunctionBase::inhibitShutdown");
    if (std::getenv("PLIMO_SKIP_INHIBIT") != nullptr) {
        VORK_LOG(4, "UpdateFunctionBase::inhibitShutdown: skipped (PLIMO_SKIP_INHIBIT)");
        return VorkSupport::VorkShutdownInhibitor();
    }
    std::string why = "Applying update bundle";
    if (!updateId.empty()) why += " " + updateId;
    VorkSupport::VorkShutdownInhibitor inhibitor("plimo", why);
    if (inhibitor.held()) {
        VORK_LOG(4, "UpdateFunctionBase::inhibitShutdown: shutdown and sleep blocked: |" << why << "|");
    } else {
        VORK_LOG(
            3, "UpdateFunctionBase::inhibitShutdown: no shutdown inhibitor, going on without: " << inhibitor.failure());
    }
    return inhibitor;
}

void UpdateFunctionBase::setQpkLog(BAXMLDoc& statusLog) {
    VORK_TRACE("UpdateFunctionBase::setQpkLog");
    std::string name = internalLogName();
    std::string::size_type cut = name.find_last_of("\\/");
    if (cut != std::string::npos) name.erase(cut);
    name += "/QPK.log";
    getAbsolutePath(name, name, false);
    statusLog.qpkLogName = name;
}

int UpdateFunctionBase::checkedRunResult(const BAXMLDoc& statusLog, int result) {
    if (!statusLog.saveFailed() || StatusCode::reportsFailedPackages(result)) return result;
    VORK_LOG(1, "UpdateFunctionBase::checkedRunResult: the status log could not be saved during the run. code="
                    << StatusCode::UnknownException);
    return StatusCode::UnknownException;
}

bool UpdateFunctionBase::saveRecords(BAXMLDoc& statusLog) {
    bool saved = true;
    auto attempt = [&](auto write) {
        try {
            write();
        } catch (const VorkSupport::VorkException&) {
            statusLog.SMStatus(
                FunctionCall::statusOfCaught(FunctionCall::Reporting::withPrefix("UpdateFunctionBase::saveRecords: ")));
            saved = false;
        }
    };
    attempt([&] { statusLog.save(); });
    const std::string logTarget = statusLog.logTarget();
    if (!logTarget.empty()) attempt([&] { statusLog.saveTo(logTarget); });
    return saved;
}
