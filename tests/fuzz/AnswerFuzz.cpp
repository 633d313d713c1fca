// libFuzzer target: the input is an answer of the plug-in as Orvane receives
// it (a text up to its first NUL byte), read as Orvane reads it for each
// command that answers a status log: its exit code, the answer's content and
// the JSON printed for -json. The JSON must parse, and carry the status and
// the exit code that Orvane ends with.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "AnswerDocument.h"
#include "AnswerJson.h"
#include "OrvaneFrontEnd.h"

namespace {

[[noreturn]] void finding(const std::string& what, const std::string& json) {
    std::fprintf(stderr, "AnswerFuzz: %s\n%s\n", what.c_str(), json.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string answer(reinterpret_cast<const char*>(data), ::strnlen(reinterpret_cast<const char*>(data), size));
    const AnswerDocument document = AnswerDocument::parse(answer);
    for (const char* command : {"update", "validate", "progress", "resume", "clean"}) {
        const int exitCode = OrvaneFrontEnd::exitCodeFromAnswer(answer, std::string("zuacmd=") + command);
        const std::string json = AnswerJson::answer(document, answer, command, exitCode);
        nlohmann::json object;
        try {
            object = nlohmann::json::parse(json);
        } catch (const nlohmann::json::exception& e) {
            finding(std::string("the JSON does not parse: ") + e.what(), json);
        }
        const nlohmann::json status = document.hasStatus ? nlohmann::json(document.status) : nlohmann::json(nullptr);
        if (object.value("command", "") != command || object["status"] != status)
            finding("the JSON does not carry the answer's status", json);
        if (object["exit_code"] != AnswerJson::shellStatus(exitCode))
            finding("the JSON carries another exit code", json);
    }
    return 0;
}
