#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The console front end: turns the command line into a command vector,
// hands it to the update plug-in through the host's data manager, prints and
// logs the answer and derives the exit code from the status it carries.
class OrvaneFrontEnd {
public:
    OrvaneFrontEnd(int argc, char** argv);

    // Runs the whole program; answers the process's exit code.
    int run();

    // The exit code for an answer text of the command "zuacmd=update" or
    // "zuacmd=progress": -1 when the answer carries no status, or one that
    // is not in the command's table.
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
    static int printVersion();
    static uint64_t findPlugin();
    static const Option* findExact(const std::string& argument);
    static const Option* findContained(const std::string& argument);
    static bool takesValue(const Option& option);
    static bool isLocal(const Option& option);
    static bool isAbsolute(const std::string& path);
    static bool tooLong(const std::string& path);

    void fixBaseDirectory();
    bool checkArguments();
    bool buildVector();
    bool addBundleEntries(const std::string& argument);
    std::string findCommand() const;
    bool writeResultLog(const char* answer) const;
    std::string resultLogPath() const;
    std::string withBase(const std::string& path) const;

    std::vector<std::string> m_arguments;
    std::string m_sBaseDirectory;
    bool m_bDebugEcho;
    std::vector<std::string> m_commandVector;
};
