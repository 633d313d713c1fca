#pragma once
#include <libxml/tree.h>

#include <optional>
#include <string>

#include "VorkAtomicFile.h"

// One parsed XML file: the document and the absolute name of the file it
// belongs to. Elements are found by absolute XPath expressions; attributes are
// read and written as strings, booleans and integers, either on an element the
// caller holds (static forms) or on the first element an expression finds.
// A status log (BAXMLDoc) loads and saves through its journal instead.
class BAAnyXMLDoc {
public:
    BAAnyXMLDoc();
    // Makes fileName absolute (its directory must exist, else VorkException
    // "getAbsolutePath: Invalid path") and parses it when loadNow is true.
    BAAnyXMLDoc(const std::string& fileName, bool loadNow);
    virtual ~BAAnyXMLDoc();

    BAAnyXMLDoc(const BAAnyXMLDoc&) = delete;
    BAAnyXMLDoc& operator=(const BAAnyXMLDoc&) = delete;

    // Replaces the document with the parsed file; a missing, unreadable,
    // malformed or hostile file leaves no document. Never reads other files
    // or the network.
    virtual void load();
    // Makes the document durable in its file. A save is whole or it did not
    // happen: on any failure the file reads as before, or as this save when
    // the failure came after the new file was in place (the log says which),
    // the failure is logged at level 1 ("Error:Could not save XML log
    // file!") and raised as VorkException code 3079.
    virtual void save();
    // Whether any save of this object has failed.
    bool saveFailed() const { return m_bSaveFailed; }
    void setFileName(const std::string& fileName);
    const std::string& getFileName() const { return m_sFileName; }
    xmlDocPtr getDocument() const { return m_pDocument; }

    // Files that hold update state are written mode 0600 (the default);
    // with false, a saved file gets the mode the umask leaves.
    void setPrivateFile(bool privateFile) { m_bPrivateFile = privateFile; }
    bool privateFile() const { return m_bPrivateFile; }

    // The first element the expression matches, in document order; raises
    // VorkException "BAAnyXMLDoc::getFirstNode: Node does not exist" (kind
    // NotFound) when there is none.
    xmlNodePtr getFirstNode(const std::string& xpath);
    // The same element, or null when there is none: a miss is no failure
    // here and logs nothing.
    xmlNodePtr findFirstNode(const std::string& xpath);

    static void setStringAttribute(xmlNodePtr node, const std::string& name, const std::string& value);
    static void setBoolAttribute(xmlNodePtr node, const std::string& name, bool value);
    static void setIntAttribute(xmlNodePtr node, const std::string& name, int value);
    static std::string getStringAttribute(xmlNodePtr node, const std::string& name);
    static bool getBoolAttribute(xmlNodePtr node, const std::string& name);
    static int getIntAttribute(xmlNodePtr node, const std::string& name);
    // The attribute's value, or nothing when the element is null or has no
    // such attribute; a miss logs nothing. Raising forms above: a miss raises
    // a NotFound failure with a level-1 record.
    static std::optional<std::string> findStringAttribute(xmlNodePtr node, const std::string& name);
    static std::optional<bool> findBoolAttribute(xmlNodePtr node, const std::string& name);
    static std::optional<int> findIntAttribute(xmlNodePtr node, const std::string& name);

    void setStringAttribute(const std::string& xpath, const std::string& name, const std::string& value);
    void setBoolAttribute(const std::string& xpath, const std::string& name, bool value);
    void setIntAttribute(const std::string& xpath, const std::string& name, int value);
    std::string getStringAttribute(const std::string& xpath, const std::string& name);
    bool getBoolAttribute(const std::string& xpath, const std::string& name);
    int getIntAttribute(const std::string& xpath, const std::string& name);

protected:
    // Writes doc (this document, or one made from it) whole to fileName
    // through VorkAtomicFile (mode 0600 when privateFile, else as the umask
    // allows). The text written stays in m_sSaveText.
    [[nodiscard]] VorkSupport::VorkAtomicFile::Outcome writeWhole(xmlDocPtr doc, const std::string& fileName,
                                                                  bool privateFile);
    // Records and raises a failed save of fileName (VorkException 3079).
    [[noreturn]] void saveFailure(const std::string& fileName, VorkSupport::VorkAtomicFile::Outcome outcome);
    // Replaces the document with doc (owned from now on); frees the old one.
    void replaceDocument(xmlDocPtr doc);
    // Called when the file name changed.
    virtual void fileNameChanged() {}

    xmlDocPtr m_pDocument = nullptr;
    std::string m_sFileName;
    bool m_bPrivateFile = true;
    bool m_bSaveFailed = false;
    // The text of the last save: a log saved after each step of an update
    // reuses its memory instead of claiming fresh pages each time.
    std::string m_sSaveText;
};
