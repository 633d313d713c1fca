#pragma once
#include <cstdio>
#include <string>
#include <vector>

class AnswerDocument;

// What a bundle would do on this machine: the packages of its definition
// file in run order, each with what the plug-in's validation found for it,
// and the bundle's verdict, as a table for a terminal.
class BundlePlan {
public:
    struct Entry {
        std::string releaseId;
        std::string path;    // as the definition gives it
        std::string type;    // packageType
        std::string timeout; // the package's own time limit, "" for none
        bool hasDigest = false;
    };

    // An unreadable definition gives a plan without entries that is not valid.
    static BundlePlan read(const std::string& definitionFile);

    bool valid() const { return m_bValid; }
    const std::vector<Entry>& entries() const { return m_entries; }

    // The table of the plan against the validation answer; defaultTimeout
    // is the time limit of packages without their own ("" for none).
    void render(std::FILE* out, const AnswerDocument& validation, const std::string& defaultTimeout) const;

private:
    bool m_bValid = false;
    bool m_bSignatureFile = false;
    std::vector<Entry> m_entries;
};
