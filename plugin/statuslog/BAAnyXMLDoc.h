#pragma once
#include <libxml/tree.h>

#include <memory>
#include <string>

class BAJournal;

// One parsed XML file: the document and the absolute name of the file it
// belongs to. Elements are found by absolute XPath expressions; attributes are
// read and written as strings, booleans and integers, either on an element the
// caller holds (static forms) or on the first element an expression finds.
class BAAnyXMLDoc {
public:
    BAAnyXMLDoc();
    // Makes fileName absolute (its directory must exist, else VorkException
    // "getAbsolutePath: Invalid path") and parses it when loadNow is true.
    BAAnyXMLDoc(const std::string& fileName, bool loadNow);
    ~BAAnyXMLDoc();

    BAAnyXMLDoc(const BAAnyXMLDoc&) = delete;
    BAAnyXMLDoc& operator=(const BAAnyXMLDoc&) = delete;

    // Replaces the document with the parsed file; a missing, unreadable,
    // malformed or hostile file leaves no document. Never reads other files
    // or the network. A status log's journal is replayed onto its file.
    void load();
    // Makes the document durable in its file. A save is whole or it did not
    // happen: on any failure the file reads as before (or, for a status log
    // whose record reached the disk before the failure, as this save), the
    // failure is logged at level 1 ("Error:Could not save XML log file!")
    // and raised as VorkException code 3079. A status log appends what
    // changed to its journal; any other document is written whole.
    void save();
    // Replaces the file atomically with the whole document, and drops a
    // status log's journal. Failures as for save().
    void saveWhole();
    // Whether any save of this object has failed.
    bool saveFailed() const { return m_bSaveFailed; }
    void setFileName(const std::string& fileName);
    // Takes over the document and file name of other, which keeps neither.
    void takeDocument(BAAnyXMLDoc& other);
    const std::string& getFileName() const { return m_sFileName; }
    xmlDocPtr getDocument() const { return m_pDocument; }

    // Files that hold update state are written mode 0600 (the default);
    // with false, a saved file gets the mode the umask leaves.
    void setPrivateFile(bool privateFile) { m_bPrivateFile = privateFile; }
    bool privateFile() const { return m_bPrivateFile; }

    // The first element the expression matches, in document order; raises
    // VorkException "BAAnyXMLDoc::getFirstNode: Node does not exist" (code 0)
    // when there is none.
    xmlNodePtr getFirstNode(const std::string& xpath);

    static void setStringAttribute(xmlNodePtr node, const std::string& name, const std::string& value);
    static void setBoolAttribute(xmlNodePtr node, const std::string& name, bool value);
    static void setIntAttribute(xmlNodePtr node, const std::string& name, int value);
    static std::string getStringAttribute(xmlNodePtr node, const std::string& name);
    static bool getBoolAttribute(xmlNodePtr node, const std::string& name);
    static int getIntAttribute(xmlNodePtr node, const std::string& name);

    void setStringAttribute(const std::string& xpath, const std::string& name, const std::string& value);
    void setBoolAttribute(const std::string& xpath, const std::string& name, bool value);
    void setIntAttribute(const std::string& xpath, const std::string& name, int value);
    std::string getStringAttribute(const std::string& xpath, const std::string& name);
    bool getBoolAttribute(const std::string& xpath, const std::string& name);
    int getIntAttribute(const std::string& xpath, const std::string& name);

    // Parses a file safely: no network, no external DTD or entity, no entity
    // substitution, no error output, and no document whose DTD declares
    // anything (elements, attributes and their defaults, entities,
    // notations): the parse stops at the first declaration. Null when the
    // file cannot be parsed.
    static xmlDocPtr parseFile(const std::string& fileName);
    // The same for a text in memory.
    static xmlDocPtr parseText(const std::string& text);

    // The document as the file that save() writes (XML declaration, no
    // indentation), or the element alone (no declaration, no indentation,
    // no final newline). False, text undefined, when libxml2 cannot
    // serialise it.
    [[nodiscard]] static bool serialiseDocument(xmlDocPtr doc, std::string& text);
    [[nodiscard]] static bool serialiseElement(xmlDocPtr doc, xmlNodePtr element, std::string& text);

    // Writes doc (this document, or one made from it) to fileName through
    // VorkAtomicFile (mode 0600 when privateFile, else as the umask allows).
    // False, the target unchanged, on any failure.
    [[nodiscard]] bool writeFileAtomically(xmlDocPtr doc, const std::string& fileName, bool privateFile);

protected:
    // Makes this document a status log: saved through a journal (BAJournal).
    void keepJournal();
    // Forgets what the file holds: the next save writes the document whole.
    void forgetJournal();

    xmlDocPtr m_pDocument = nullptr;
    std::string m_sFileName;
    bool m_bPrivateFile = true;
    bool m_bSaveFailed = false;
    // The text of the last save: a log saved after each step of an update
    // reuses its memory instead of claiming fresh pages each time.
    std::string m_sSaveText;
    // A status log's journal; null for other documents.
    std::unique_ptr<BAJournal> m_pJournal;

private:
    [[noreturn]] void saveFailure();
};
