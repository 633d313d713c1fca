// The service host: passes a command vector to a plug-in of the data manager
// and prints the answer.
//   zuasvchost [--json] <plug-in name> key=value...
//   zuasvchost --help | --version
// Exit codes: 0 an answer was printed, 1 no plug-in or no answer, 2 usage.
// With --json the answer, or the error that left none, is printed as one
// JSON object.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "AnswerDocument.h"
#include "AnswerJson.h"
#include "ControlText.h"
#include "VorkRestartMark.h"
#include "zuadb64.h"

namespace {

const char* const usage = "usage: zuasvchost [--json] <plug-in name> [key=value ...]\n"
                          "       zuasvchost --help | --version\n";

// The command vector as one line, for messages.
std::string joined(int argc, char** argv) {
    std::string text;
    for (int i = 0; i < argc; ++i) text += (i > 0 ? " " : "") + std::string(argv[i]);
    return text;
}

// The command a vector sends ("update" for zuacmd=update), "" for none.
std::string commandOf(int argc, char** argv) {
    for (int i = 0; i < argc; ++i)
        if (std::strncmp(argv[i], "zuacmd=", 7) == 0) return argv[i] + 7;
    return std::string();
}

// A failure: its message on standard error, or as the JSON object.
int failure(bool json, const std::string& message, int exitCode) {
    if (json) std::printf("%s\n", AnswerJson::error(message, exitCode).c_str());
    else std::fprintf(stderr, "zuasvchost: %s\n", message.c_str());
    return exitCode;
}

// A SIGTERM that comes once the plug-in has asked for the restart is the
// shutdown it asked for: the answer is still written whole and the program
// ends with 0, so that the unit that ran it is not counted as failed. Any
// other SIGTERM ends the program as it always did.
void onTerminate(int signal) {
    if (VorkSupport::VorkRestartMark::isSet()) return;
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void endInOrderOnTheRestartsSigterm() {
    struct sigaction action {};
    action.sa_handler = onTerminate;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    const bool json = argc >= 2 && std::strcmp(argv[1], "--json") == 0;
    if (json) {
        // The program's name stays in front of the rest.
        argv[1] = argv[0];
        ++argv;
        --argc;
    }
    if (argc < 2 || argv[1][0] == '\0') {
        if (json) return failure(true, "no plug-in name given", 2);
        std::fputs(usage, stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0) {
        std::fputs(usage, stdout);
        std::fputs("Sends the key=value command to the first plug-in whose name begins with\n"
                   "<plug-in name> and prints its answer. See zuasvchost(8).\n",
                   stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("zuasvchost %s\n", PLIMO_VERSION);
        return 0;
    }
    endInOrderOnTheRestartsSigterm();
    const uint64_t plugin = ZUDBPluginGetIDByPrefix(argv[1]);
    if (plugin == 0) return failure(json, "plug-in |" + std::string(argv[1]) + "| not found", 1);
    char* answer = ZUDBPluginSendCmd(plugin, argc - 2, argv + 2);
    if (!answer)
        return failure(json,
                       "plug-in |" + std::string(argv[1]) + "| gave no answer to the command |" +
                           joined(argc - 2, argv + 2) + "|",
                       1);
    if (json) {
        const std::string text =
            AnswerJson::answer(AnswerDocument::parse(answer), answer, commandOf(argc - 2, argv + 2), 0);
        std::fputs(text.c_str(), stdout);
        std::fputc('\n', stdout);
    } else {
        // A terminal shows the package logs' control characters as escapes;
        // a pipe or a file gets the answer as it came.
        const std::string text =
            ::isatty(STDOUT_FILENO) == 1 ? VorkCommon::ControlText::forTerminal(answer, true) : std::string(answer);
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (text.empty() || text.back() != '\n') std::fputc('\n', stdout);
    }
    const bool written = std::fflush(stdout) == 0;
    ZUDBPluginFreeData(plugin, answer);
    return written ? 0 : 1;
}
