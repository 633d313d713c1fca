#pragma once
#include <libxml/tree.h>

#include <memory>
#include <string>

class BAPackageEntries;

// A handle on one Package entry of a status log. The entry belongs to the
// log; deleting the handle leaves it there. Every write goes through the
// log's BAPackageEntries, which marks the entry for the next save. A status
// log (BAXMLDoc) is the BAPackageEntries of its entries.
class BAXMLPackageNode {
public:
    // The OS error code that means "none": no osErrCode attribute is written.
    static constexpr int NO_OS_ERROR_CODE = -31415;

    // A handle on an existing Package element.
    BAXMLPackageNode(BAPackageEntries* doc, xmlNodePtr package);
    // A new in-progress Package element appended to /BundleLog. updateOnly:
    // 1 writes updateonly "true", -1 writes nothing, any other "false".
    BAXMLPackageNode(BAPackageEntries* doc, const std::string& releaseID, const std::string& path,
                     const std::string& exeCmd, const std::string& packageType, const std::string& installParams,
                     int updateOnly);

    BAXMLPackageNode(const BAXMLPackageNode&) = delete;
    BAXMLPackageNode& operator=(const BAXMLPackageNode&) = delete;

    static std::unique_ptr<BAXMLPackageNode> createInProgressPackage(BAPackageEntries* doc,
                                                                     const std::string& releaseID,
                                                                     const std::string& path, const std::string& exeCmd,
                                                                     const std::string& packageType,
                                                                     const std::string& installParams, int updateOnly);
    static void createMissingPackage(BAPackageEntries* doc, const std::string& releaseID, const std::string& path,
                                     const std::string& packageType, const std::string& installParams, int updateOnly);
    static void createSkippedPackage(BAPackageEntries* doc, const std::string& releaseID, const std::string& path,
                                     const std::string& packageType, const std::string& installParams, int updateOnly,
                                     const std::string& message);

    // A run of the package starts again on this entry (after its earlier
    // run was cut off, or asked to run again after a restart): state
    // "in-progress" and the new command line; what the earlier run recorded
    // stays until the new run records its own.
    void restart(const std::string& exeCmd);
    // The command line of the run that starts now.
    void setCommand(const std::string& exeCmd);
    void setMissing();
    // State "skipped", status and code 3, and a PkgLog (code 3) with the
    // message, also when it is empty.
    void setSkipped(const std::string& message);
    // The SHA-256 digest the package was checked against (attribute sha256,
    // only on entries of packages that carry one); "" when none is recorded.
    void setSha256(const std::string& digest);
    std::string sha256() const;
    // Writes the status number of a package result code on Status.
    void setStatus(int nResultCode);
    // state "complete", code, status, then the package log (setPackageLog).
    void setComplete(int nResultCode, const std::string& sQpkLogName, const std::string& sPrependMessage,
                     int nOsErrorCode);
    // Appends a PkgLog with the prepended message and the package's own log
    // file (UTF-16 with FF FE mark, or UTF-8). When the log file cannot be
    // opened the PkgLog says so and VorkException code 3079 is raised.
    void setPackageLog(int nResultCode, const std::string& sQpkLogName, const std::string& sPrependMessage,
                       int nOsErrorCode);

    static std::string ConvertWideToUtf8(const std::u16string& text);

    xmlNodePtr getPackageNode() const { return m_pPackage; }

private:
    BAPackageEntries* m_pEntries;
    xmlNodePtr m_pPackage;
};
