#pragma once
#include <memory>
#include <string>

#include "BAAnyXMLDoc.h"
#include "BAXMLPackageNode.h"

// The status log of one update (root element BundleLog): the persistent
// state of the update, the user's log and the answer text of every plug-in
// function. Sections are created when first written; the stripped outputs
// (saveTo, dumpRoot) leave out the internal attributes log-target and stable.
class BAXMLDoc : public BAAnyXMLDoc {
public:
    BAXMLDoc();
    // The name is made absolute (may raise); the file is not read.
    explicit BAXMLDoc(const std::string& fileName);
    ~BAXMLDoc();

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
    // Ends the internal log: saved whole as finished and renamed to the
    // final log of its update id (made durable), or deleted with its journal
    // without an update id. A save or rename that fails raises VorkException
    // code 3079 and leaves the internal log in place.
    void cleanup();

    // Deletes a status log file and its journal.
    static void removeFile(const std::string& fileName);
    // Writes a status log file whole with its journal replayed, and drops
    // the journal, so that the file alone tells the whole log. Nothing when
    // it has no journal; a journal without its file goes. A failed write
    // raises VorkException code 3079 and leaves both files as they were.
    static void foldJournal(const std::string& fileName);

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

    // Package entries (see BAXMLPackageNode).
    std::unique_ptr<BAXMLPackageNode> createPackage(const std::string& releaseID, const std::string& path,
                                                    const std::string& exeCmd, const std::string& packageType,
                                                    const std::string& installParams, int updateOnly);
    void createMissingPackage(const std::string& releaseID, const std::string& path, const std::string& packageType,
                              const std::string& installParams, int updateOnly);
    void createSkippedPackage(const std::string& releaseID, const std::string& path, const std::string& packageType,
                              const std::string& installParams, int updateOnly, const std::string& message);

private:
    // A copy of the document without log-target and stable; caller frees it.
    xmlDocPtr strippedCopy(const char* writer);
    // The element of an absolute path, or null when there is none.
    xmlNodePtr findNode(const std::string& xpath);
    std::string stringSettingOrEmpty(const std::string& xpath, const std::string& name);
    void setRootAttribute(const std::string& name, const std::string& value);
    std::string rootAttributeOrEmpty(const std::string& name);
};
