#pragma once

namespace VorkSupport {

// Whether this process has asked for the restart of the machine. It is set
// just before the request goes out, so that the SIGTERM of the shutdown the
// process asked for can be told from any other: a program that sees it set
// ends in order (its answer written, exit code 0) instead of dying by the
// signal. Readable from a signal handler.
class VorkRestartMark {
public:
    static void set();
    // The request did not go out after all.
    static void clear();
    static bool isSet();
};

} // namespace VorkSupport
