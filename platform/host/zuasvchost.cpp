// The service host: passes a command vector to a plug-in of the data manager
// and prints the answer.
//   zuasvchost <plug-in name> key=value...
//   zuasvchost --help | --version
// Exit codes: 0 an answer was printed, 1 no plug-in or no answer, 2 usage.
#include <cstdio>
#include <cstring>
#include <string>

#include "zuadb64.h"

namespace {

const char* const usage = "usage: zuasvchost <plug-in name> [key=value ...]\n"
                          "       zuasvchost --help | --version\n";

// The command vector as one line, for messages.
std::string joined(int argc, char** argv) {
    std::string text;
    for (int i = 0; i < argc; ++i) text += (i > 0 ? " " : "") + std::string(argv[i]);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '\0') {
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
    const uint64_t plugin = ZUDBPluginGetIDByPrefix(argv[1]);
    if (plugin == 0) {
        std::fprintf(stderr, "zuasvchost: plug-in |%s| not found\n", argv[1]);
        return 1;
    }
    char* answer = ZUDBPluginSendCmd(plugin, argc - 2, argv + 2);
    if (!answer) {
        std::fprintf(stderr, "zuasvchost: plug-in |%s| gave no answer to the command |%s|\n", argv[1],
                     joined(argc - 2, argv + 2).c_str());
        return 1;
    }
    const std::size_t length = std::strlen(answer);
    std::fwrite(answer, 1, length, stdout);
    if (length == 0 || answer[length - 1] != '\n') std::fputc('\n', stdout);
    const bool written = std::fflush(stdout) == 0;
    ZUDBPluginFreeData(plugin, answer);
    return written ? 0 : 1;
}
