#pragma once
#include <string>

class AnswerDocument;

// The JSON form of what the front ends print: one object per answer, with
// the same content as the status log it is made from, or one object for an
// error that left no answer. Every object carries "exit_code", the exit
// status of the program as a shell sees it (0 to 255). The objects follow
// doc/plimo-answer.schema.json. Texts that are not valid UTF-8 get U+FFFD
// in place of each invalid byte.
class AnswerJson {
public:
    // command: "update", "progress", "validate", ... as the caller sent it.
    // error: a failure after the answer came (empty: none).
    static std::string answer(const AnswerDocument& answer, const std::string& text, const std::string& command,
                              int exitCode, const std::string& error = "");
    static std::string error(const std::string& message, int exitCode);

    // The exit status a shell sees for an exit code (-1 is 255).
    static int shellStatus(int exitCode) { return exitCode & 0xff; }
};
