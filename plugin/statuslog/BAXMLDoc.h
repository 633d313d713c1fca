#pragma once
#include <memory>
#include <string>

#include "BAAnyXMLDoc.h"
#include "BAJournal.h"
#include "BALogChanges.h"
#include "BALogSections.h"
#include "BAPackageEntries.h"
#include "BAXMLPackageNode.h"

// The status log of one update (root element BundleLog): the persistent
// state of the update, the user's log and the answer text of every plug-in
// function. Sections are created when first written and found through a table
// (BALogSections); the stripped outputs (saveTo, dumpRoot) leave out the
// internal attributes log-target and stable. It owns its Package entries
// (BAPackageEntries), and is saved through its journal (BAJournal): a save
// writes only what changed.
class BAXMLDoc : public BAAnyXMLDoc, public BAPackageEntries {
public:
    BAXMLDoc();
    // The name is made absolute (may raise); the file is not read.
    explicit BAXMLDoc(const std::string& fileName);
    ~BAXMLDoc() override;

    // Replaces the document with the file and its journal replayed; a
    // missing, unreadable or hostile file leaves no document.
    void load() override;
    // Makes the log durable: what changed is appended to the journal and
    // flushed, together with everything saveWithNext() wrote before (or the
    // log is written whole when the journal cannot take it). Failures as
    // BAAnyXMLDoc::save().
    void save() override;
    // Writes what changed now without flushing it: it becomes durable with
    // the next save(). A kill leaves it in the file; a power cut may not.
    void saveWithNext();
    // Replaces the file atomically with the whole document, and drops the
    // journal. Failures as save().
    void saveWhole();
    // Takes over the document and file name of other, which keeps neither.
    void takeDocument(BAXMLDoc& other);

    // Absolute name of the log file that QPK packages are told to write.
    // Not part of the XML.
    std::string qpkLogName;

    void init();
    void setDocDateTime();
    // A stripped copy written to fileName (mode as the umask allows); a
    // failure raises VorkException code 3079, the file unchanged.
    void saveTo(const std::string& fileName);
    // The text of the root element of a stripped copy; a document that
    // cannot be serialised answers a fresh log with status 3079.
    std::string dumpRoot();
    void getStartParameters(std::string& directory, std::string& definitionFile, std::string& relocationName);
    void removeTempFiles();
    // Ends the internal log, as the call that ran the update does: an entry
    // still in progress is closed as interrupted (closeInterruptedEntries);
    // the log is saved whole as finished and renamed to the final log of
    // its update id (made durable), or deleted with its journal without an
    // update id. A save or rename that fails raises VorkException code 3079
    // and leaves the internal log in place.
    void cleanup();
    // Ends the internal log of an update whose own call died before it
    // could (interrupted: a run was cut off, its status becomes 3079), and
    // keeps it: it becomes the final log of its update id, or, without one,
    // "BAUpdate.xml.interrupted-<UTC time>" beside it. Never deletes it.
    // Answers the name it now has; failures as cleanup().
    std::string keepAsRecord(bool interrupted);

    // Deletes a status log file and its journal.
    static void removeFile(const std::string& fileName);
    // Writes a status log file whole with its journal replayed, and drops
    // the journal, so that the file alone tells the whole log. Nothing when
    // it has no journal; a journal without its file goes. A failed write
    // raises VorkException code 3079 and leaves both files as they were.
    static void foldJournal(const std::string& fileName);
    // The line that closes an entry whose run was cut off.
    static const char* const kInterruptedRunText;

    void addBundleSettingsNode();
    void addValidationNode();
    void addBundleSettingsBundleNode();

    // Settings. Getters of updateId, installParams, logTarget, bundleName,
    // relocationFile, UserInfo and bundlePackage answer "" when absent; the
    // other getters raise VorkException; stable() answers true when absent.
    void updateId(const std::string& value);
    std::string updateId();
    void installParams(const std::string& value);
    std::string installParams();
    void bundlePath(const std::string& value);
    std::string bundlePath();
    void logTarget(const std::string& value);
    std::string logTarget();
    void reboot(bool value);
    bool reboot();
    void force(bool value);
    bool force();
    void ignore(bool value);
    bool ignore();
    void clearPackage(bool value);
    bool clearPackage();
    void notify(bool value);
    bool notify();
    void continueOnFailure(bool value);
    bool continueOnFailure();
    void preInstallEnv(bool value);
    bool preInstallEnv();
    void updateOnly(bool value);
    bool updateOnly();
    // Whether the caller restarts the machine for the update (attribute
    // callerReboot): the update counts and prepares each restart, but never
    // asks for one itself. A log without the attribute reads false.
    void callerReboot(bool value);
    bool callerReboot();
    // The boot id of the boot that asked for the update's last restart
    // (attribute restartBootId, internal like log-target): a resume in that
    // same boot knows that the restart has not happened yet. Empty removes
    // it; a log without it answers "".
    void restartBootId(const std::string& value);
    std::string restartBootId();
    // The time limit in seconds of the packages that carry none of their
    // own; 0 (absent) means no limit.
    void packageTimeout(int seconds);
    int packageTimeout();
    void bundleName(const std::string& value);
    std::string bundleName();
    void relocationFile(const std::string& value);
    std::string relocationFile();
    void UserInfo(const std::string& value);
    std::string UserInfo();
    void bundlePackage(const std::string& value);
    std::string bundlePackage();
    void systemSupported(bool value);
    bool systemSupported();
    void osSupported(bool value);
    bool osSupported();
    void stable(bool value);
    bool stable();

    // Counters: Progress exists only below 100 (absent reads 100) and never
    // goes back; rebootCount exists only below 100 (absent reads 0).
    void progressPercent(int percent);
    int progressPercent();
    void rebootCount(int count);
    int rebootCount();

    // Records a status code with its status number and message (3073/3074
    // become 3082/3083 when reboot is "true"); SMStatus() reads the code.
    void SMStatus(int code);
    int SMStatus();

    // Package entries (see BAXMLPackageNode and BAPackageEntries).
    std::unique_ptr<BAXMLPackageNode> createPackage(const std::string& releaseID, const std::string& path,
                                                    const std::string& exeCmd, const std::string& packageType,
                                                    const std::string& installParams, int updateOnly);
    void createMissingPackage(const std::string& releaseID, const std::string& path, const std::string& packageType,
                              const std::string& installParams, int updateOnly);
    void createSkippedPackage(const std::string& releaseID, const std::string& path, const std::string& packageType,
                              const std::string& installParams, int updateOnly, const std::string& message);

private:
    using Section = BALogSections::Section;

    void fileNameChanged() override { m_journal.forget(); }
    // After the document was replaced: its sections and entries are found
    // anew, and the next save writes it whole.
    void attachDocument();
    void persist(bool durable);
    // Saved whole as finished and moved to newName.
    void finishAs(const std::string& newName, bool noReplace);
    // A copy of the document without log-target and stable; caller frees it.
    xmlDocPtr strippedCopy(const char* writer);
    // The section's element; raises as getFirstNode does when there is none.
    xmlNodePtr requireSection(Section section);
    // A new section's element; raises an allocation failure with the text when
    // libxml2 cannot allocate it.
    xmlNodePtr createSection(Section section, const char* failure);
    std::string stringSettingOrEmpty(Section section, const char* name);
    void setSetting(Section section, const char* name, const std::string& value);
    void setBoolSetting(Section section, const char* name, bool value);
    bool boolSetting(Section section, const char* name);
    void setRootAttribute(const std::string& name, const std::string& value);
    std::string rootAttributeOrEmpty(const char* name);

    BALogChanges m_changes;
    BALogSections m_sections;
    BAJournal m_journal;
};
