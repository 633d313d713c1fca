// The service host: passes a command vector to a plug-in of the data manager
// and prints the answer.
//   zuasvchost <plug-in name> key=value...
// Exit codes: 0 an answer was printed, 1 no plug-in or no answer, 2 usage.
#include <cstdio>
#include <cstring>

#include "zuadb64.h"

int main(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: zuasvchost <plug-in name> [key=value ...]\n");
        return 2;
    }
    const uint64_t plugin = ZUDBPluginGetIDByPrefix(argv[1]);
    if (plugin == 0) {
        std::fprintf(stderr, "zuasvchost: plug-in |%s| not found\n", argv[1]);
        return 1;
    }
    char* answer = ZUDBPluginSendCmd(plugin, argc - 2, argv + 2);
    if (!answer) {
        std::fprintf(stderr, "zuasvchost: plug-in |%s| gave no answer\n", argv[1]);
        return 1;
    }
    const std::size_t length = std::strlen(answer);
    std::fwrite(answer, 1, length, stdout);
    if (length == 0 || answer[length - 1] != '\n') std::fputc('\n', stdout);
    const bool written = std::fflush(stdout) == 0;
    ZUDBPluginFreeData(plugin, answer);
    return written ? 0 : 1;
}
