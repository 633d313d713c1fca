// A recording stand-in for the notification library: every call appends one
// line "<message>|<first argument>" to the file named by
// ZUINTF_STANDIN_RECORD (nothing is written when that is not set).
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) void VorkNNNotify(const char* message, const char** arguments) {
    const char* file = std::getenv("ZUINTF_STANDIN_RECORD");
    if (file == nullptr) return;
    std::FILE* out = std::fopen(file, "a");
    if (out == nullptr) return;
    const char* first = arguments != nullptr && arguments[0] != nullptr ? arguments[0] : "(null)";
    std::fprintf(out, "%s|%s\n", message != nullptr ? message : "(null)", first);
    std::fclose(out);
}
