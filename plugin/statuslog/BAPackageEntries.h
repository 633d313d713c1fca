#pragma once
#include <libxml/tree.h>

#include <string>
#include <unordered_set>

class BALogChanges;

// The Package entries of a status log, and the one way they are written. An
// entry is created here and every change to it goes through here: each marks
// the entry in BALogChanges, so the next save records it and no caller has to
// remember to. BAXMLPackageNode, the handle the package classes hold, builds
// its operations on these.
//
// The entry format is the status log's (one Package per package under the
// root: attributes releaseID, packageType, installparams, updateonly, path;
// children Status, ExeCmd, then PkgLog lines).
class BAPackageEntries {
public:
    explicit BAPackageEntries(BALogChanges& changes) : m_changes(changes) {}
    BAPackageEntries(const BAPackageEntries&) = delete;
    BAPackageEntries& operator=(const BAPackageEntries&) = delete;

    // The document whose entries are owned (null for none): the entries
    // still in progress are found with one walk.
    void attachEntries(xmlDocPtr doc);

    // A new in-progress entry appended to the log. updateOnly: 1 writes
    // updateonly "true", -1 writes nothing, any other "false". Raises
    // an allocation failure when libxml2 cannot allocate it.
    xmlNodePtr createEntry(const std::string& releaseID, const std::string& path, const std::string& exeCmd,
                           const std::string& packageType, const std::string& installParams, int updateOnly);

    // The writes. Each raises VorkException when the entry lacks its Status
    // element (a damaged log) or libxml2 cannot allocate what it writes.
    void setEntryState(xmlNodePtr entry, const std::string& state);
    // An attribute of the entry's Status element (code, status).
    void setEntryNumber(xmlNodePtr entry, const std::string& name, int value);
    // An attribute of the Package element itself.
    void setEntryAttribute(xmlNodePtr entry, const std::string& name, const std::string& value);
    void setEntryCommand(xmlNodePtr entry, const std::string& exeCmd);
    // A PkgLog line: text, code, and osErrCode unless it is -31415.
    void appendEntryLog(xmlNodePtr entry, const std::string& text, int code, int osErrorCode);

    // The bundle's reboot option, read as BAXMLDoc::reboot() reads it
    // (raises VorkException when absent).
    bool rebootOption() const;

    // Closes every entry still in progress, as a package whose run was cut
    // off: state complete, code -1 with its status number, and a PkgLog line
    // saying so. Answers how many there were.
    int closeInterruptedEntries(const std::string& text);
    bool hasEntriesInProgress() const { return !m_inProgress.empty(); }

private:
    xmlNodePtr statusOf(xmlNodePtr entry) const;

    BALogChanges& m_changes;
    xmlDocPtr m_pEntriesDocument = nullptr;
    std::unordered_set<xmlNodePtr> m_inProgress;
};
