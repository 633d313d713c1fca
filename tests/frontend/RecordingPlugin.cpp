// A stand-in plug-in for the front end's tests. It writes the command vector
// that it receives to the file named by PLIMOREC_RECORD (the count on the
// first line, then one entry per line, then "bypass=" with the value of
// MNF_BYPASS_PLUGIN_INSTALL_CHECK) and answers the text of
// PLIMOREC_ANSWER, or null when that is not set. Every answer handed back is
// noted in the same file as a line "freed".
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void record(const char* text) {
    const char* name = std::getenv("PLIMOREC_RECORD");
    if (name == nullptr) return;
    if (std::FILE* file = std::fopen(name, "a")) {
        std::fputs(text, file);
        std::fclose(file);
    }
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) char* plimorec_sendCmd(int argc, char** argv) {
    char line[64];
    std::snprintf(line, sizeof line, "%d\n", argc);
    record(line);
    for (int i = 0; i < argc; ++i) {
        record(argv[i]);
        record("\n");
    }
    const char* bypass = std::getenv("MNF_BYPASS_PLUGIN_INSTALL_CHECK");
    record("bypass=");
    record(bypass != nullptr ? bypass : "<unset>");
    record("\n");
    const char* answer = std::getenv("PLIMOREC_ANSWER");
    if (answer == nullptr) return nullptr;
    char* copy = static_cast<char*>(std::malloc(std::strlen(answer) + 1));
    if (copy != nullptr) std::strcpy(copy, answer);
    return copy;
}

__attribute__((visibility("default"))) void plimorec_freeData(void* data) {
    if (data == nullptr) return;
    record("freed\n");
    std::free(data);
}
}
