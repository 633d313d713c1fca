#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The console front end: turns the command line into a command vector,
// hands it to the update plug-in through the host's data manager, prints and
// logs the answer and derives the exit code from the status it carries.
class AnswerDocument;

class OrvaneFrontEnd {
public:
    OrvaneFrontEnd(int argc, char** argv);

    // Runs the whole program; answers the process's exit code.
    int run();

    // The exit code for an answer text of the command "zuacmd=update",
    // "zuacmd=validate" (as update) or "zuacmd=progress": -1 when the answer
    // carries no status, or one that is not in the command's table.
    static int exitCodeFromAnswer(const std::string& answer, const std::string& command);

    OrvaneFrontEnd(const OrvaneFrontEnd&) = delete;
    OrvaneFrontEnd& operator=(const OrvaneFrontEnd&) = delete;

private:
    struct Option {
        const char* option;
        const char* vectorText;
        const char* marker;
    };
    static const Option s_options[];

    static void printHelp();
    int printVersion();
    uint64_t findPlugin();
    static const Option* findExact(const std::string& argument);
    static const Option* findContained(const std::string& argument);
    static bool takesValue(const Option& option);
    static bool isLocal(const Option& option);
    static bool isAbsolute(const std::string& path);
    static bool tooLong(const std::string& path);

    // Whether an option stands among the arguments (not as a value), and
    // the value that follows it ("" when it is absent).
    bool hasOption(const char* option) const;
    std::string optionValue(const char* option) const;
    // A message for the user on its stream; with -json, kept for the JSON
    // error object instead.
    void report(std::FILE* stream, const std::string& message);
    // Ends on a failure: the JSON error object with -json, else the help
    // text when asked. Answers -1.
    int fail(bool withHelp);
    bool readWatchOptions(const std::string& command, double& interval);
    // Prints an answer (as it came, or as JSON), writes the result log and
    // answers the exit code.
    int showAnswer(const char* answer, const std::string& command);
    void showPlan(const AnswerDocument& answer) const;
    int watchProgress(uint64_t plugin, double interval);
    int showHistory();

    void fixBaseDirectory();
    bool checkArguments();
    bool buildVector();
    bool addBundleEntries(const std::string& argument);
    std::string findCommand() const;
    bool writeResultLog(const char* answer) const;
    std::string resultLogPath() const;
    // Why the default result log at path, in folder, would be another
    // user's to redirect or block: the folder (or one on its way) may be
    // changed by others, or something other than the caller's own regular
    // file stands at path. "" when neither.
    static std::string sharedPlace(const std::string& folder, const std::string& path);
    std::string withBase(const std::string& path) const;

    std::vector<std::string> m_arguments;
    std::string m_sBaseDirectory;
    bool m_bDebugEcho;
    bool m_bJson = false;
    std::string m_sError;
    std::string m_sBundleFile;
    std::vector<std::string> m_commandVector;
};
