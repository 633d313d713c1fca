#pragma once
#include <libxml/tree.h>

#include <memory>
#include <string>

class BAXMLDoc;

// A handle on one Package element of a status log. The element belongs to
// the document; deleting the handle leaves it there.
class BAXMLPackageNode {
public:
    // The OS error code that means "none": no osErrCode attribute is written.
    static constexpr int NO_OS_ERROR_CODE = -31415;

    // A handle on an existing Package element.
    BAXMLPackageNode(BAXMLDoc* doc, xmlNodePtr package);
    // A new in-progress Package element appended to /BundleLog. updateOnly:
    // 1 writes updateonly "true", -1 writes nothing, any other "false".
    BAXMLPackageNode(BAXMLDoc* doc, const std::string& releaseID, const std::string& path,
                     const std::string& exeCmd, const std::string& packageType, const std::string& installParams,
                     int updateOnly);

    BAXMLPackageNode(const BAXMLPackageNode&) = delete;
    BAXMLPackageNode& operator=(const BAXMLPackageNode&) = delete;

    static std::unique_ptr<BAXMLPackageNode> createInProgressPackage(BAXMLDoc* doc, const std::string& releaseID,
                                                                     const std::string& path,
                                                                     const std::string& exeCmd,
                                                                     const std::string& packageType,
                                                                     const std::string& installParams,
                                                                     int updateOnly);
    static void createMissingPackage(BAXMLDoc* doc, const std::string& releaseID, const std::string& path,
                                     const std::string& packageType, const std::string& installParams,
                                     int updateOnly);
    static void createSkippedPackage(BAXMLDoc* doc, const std::string& releaseID, const std::string& path,
                                     const std::string& packageType, const std::string& installParams,
                                     int updateOnly, const std::string& message);

    void setMissing();
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
    xmlNodePtr statusNode();
    // Appends a PkgLog element holding text, with the code attributes.
    void appendPackageLog(const std::string& text, int nResultCode, int nOsErrorCode);

    BAXMLDoc* m_pDoc;
    xmlNodePtr m_pPackage;
};
