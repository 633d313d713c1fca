#pragma once
#include <string>
#include <utility>
#include <vector>

// The content of a status log answer (the BundleLog element that the
// plug-in's update, resume, progress, validate and clean answer with), read
// from its text. Whatever the answer does not carry keeps its default.
class AnswerDocument {
public:
    struct Log {
        long code = 0;
        bool hasOsErrorCode = false;
        long osErrorCode = 0;
        std::string text;
    };
    struct Package {
        std::string releaseId;
        std::string path;
        std::string type; // packageType as the definition gives it
        std::string installParams;
        std::string updateOnly; // "true", "false" or "" (not given)
        std::string state;      // in-progress, complete, missing, skipped
        bool hasCode = false;
        long code = 0;
        bool hasStatus = false;
        long status = 0;
        std::string command;
        std::vector<Log> logs;

        // qpk, msi, msp or gz, by the rule the plug-in chooses a package kind.
        std::string kind() const;
        // A package the digest check refused (recorded as missing).
        bool refused() const;
        // A package that ran and failed, or that the digest check refused.
        bool failed() const;
        // The file name after the last separator.
        std::string fileName() const;
    };
    struct Integrity {
        std::string releaseId;
        std::string path;
        std::string problem;
    };
    using Attributes = std::vector<std::pair<std::string, std::string>>;

    // An answer whose text is no status log reads as invalid.
    static AnswerDocument parse(const std::string& text);
    // The kind of a package of that file and packageType.
    static std::string kindOf(const std::string& path, const std::string& packageType);

    bool valid = false;
    // The status code as the front end reads it from the first
    // "<SMStatus result=" of the text; hasStatus is false without one.
    bool hasStatus = false;
    long status = 0;
    std::string message;
    int statusNumber = -1;
    std::string dateTime;
    std::string updateId;
    std::string installParams;
    bool hasSettings = false;
    Attributes settings; // BundleSettings, in document order
    Attributes bundle;   // BundleSettings/Bundle
    std::string bundlePackage;
    bool hasValidation = false;
    bool systemSupported = false;
    bool osSupported = false;
    std::vector<Integrity> integrity;
    // The Progress element is present only while a run is below 100.
    bool hasProgress = false;
    int progress = 100;
    // The rebootCount element is absent until the update has restarted.
    int rebootCount = 0;
    std::vector<Package> packages;

    std::string setting(const std::string& name) const;
    std::string bundleAttribute(const std::string& name) const;
    // Whether a package entry is still running.
    bool running() const;

    // Counts over the package entries.
    int countRun() const;     // complete
    int countFailed() const;  // failed()
    int countSkipped() const; // skipped
    int countMissing() const; // missing and not refused
};
