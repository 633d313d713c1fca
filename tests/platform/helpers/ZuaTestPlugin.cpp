// A data-manager plug-in for the host tests. It answers
// "<name>: argc=N [arg0] [arg1]...", or nothing when the first entry is
// "answer=none". Each freed answer is counted in the file named by
// $ZUATEST_FREED (one line per free). With ZUATEST_VERSION it names that
// version in its file's note.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#define ZUATEST_STR2(x) #x
#define ZUATEST_STR(x) ZUATEST_STR2(x)
#define ZUATEST_CAT2(a, b) a##b
#define ZUATEST_CAT(a, b) ZUATEST_CAT2(a, b)

#ifdef ZUATEST_VERSION
#include "ZuaPluginVersionNote.h"
ZUA_PLUGIN_VERSION_NOTE(ZUATEST_VERSION);
#endif

extern "C" __attribute__((visibility("default"))) char* ZUATEST_CAT(ZUATEST_NAME, _sendCmd)(int argc, char** argv) {
    if (argc > 0 && std::strcmp(argv[0], "answer=none") == 0) return nullptr;
    std::string answer = std::string(ZUATEST_STR(ZUATEST_NAME)) + ": argc=" + std::to_string(argc);
    for (int i = 0; i < argc; ++i) answer += std::string(" [") + argv[i] + "]";
    char* result = static_cast<char*>(std::malloc(answer.size() + 1));
    std::memcpy(result, answer.c_str(), answer.size() + 1);
    return result;
}

#ifndef ZUATEST_NO_FREE
extern "C" __attribute__((visibility("default"))) void ZUATEST_CAT(ZUATEST_NAME, _freeData)(void* data) {
    std::free(data);
    if (const char* file = std::getenv("ZUATEST_FREED")) {
        int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ssize_t n = ::write(fd, "freed\n", 6);
            (void)n;
            ::close(fd);
        }
    }
}
#endif
