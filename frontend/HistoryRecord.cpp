#include "HistoryRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "FileHandle.h"
#include "StatusCode.h"

namespace {

const char* const kCutMark = "...";

bool named(const xmlChar* name, const char* wanted) {
    return std::strcmp(reinterpret_cast<const char*>(name), wanted) == 0;
}

void appendCapped(std::string& text, const char* bytes, std::size_t size, std::size_t cap) {
    if (text.size() < cap) text.append(bytes, std::min(size, cap - text.size()));
}

// Keeps the last keep bytes of text, from the first whole character on.
void keepEnd(std::string& text, std::size_t keep) {
    std::size_t cut = text.size() - keep;
    while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) ++cut;
    text.erase(0, cut);
}

// SAX2 hands attributes over as five pointers each: name, prefix, URI,
// value and the value's end.
std::string attribute(int count, const xmlChar** attributes, const char* name) {
    for (int i = 0; i < count; ++i) {
        const xmlChar** one = attributes + 5 * i;
        if (!named(one[0], name)) continue;
        std::string value;
        appendCapped(value, reinterpret_cast<const char*>(one[3]), static_cast<std::size_t>(one[4] - one[3]),
                     HistoryRecord::kMaxText);
        return value;
    }
    return std::string();
}

bool hasAttribute(int count, const xmlChar** attributes, const char* name) {
    for (int i = 0; i < count; ++i)
        if (named(attributes[5 * i], name)) return true;
    return false;
}

long number(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }

// What one pass has seen so far. Depth 1 is the root element.
struct Pass {
    Pass(HistoryRecord& into, bool packages) : record(into), withPackages(packages) {}

    HistoryRecord& record;
    bool withPackages;
    xmlParserCtxtPtr context = nullptr;
    int depth = 0;
    bool root = false;
    bool declaration = false;
    bool hasStatus = false;
    bool statusSeen = false;
    enum class Text { None, Message, Log } text = Text::None;
    // The package being read.
    bool inPackage = false;
    bool packageStatusSeen = false;
    HistoryRecord::Package package;
    int logs = 0;
    AnswerDocument::Log lastLog;
    bool logCut = false;
    bool refusedEarlier = false;
    AnswerDocument::Log refusal;

    void startPackage(int count, const xmlChar** attributes) {
        inPackage = true;
        packageStatusSeen = false;
        package = HistoryRecord::Package();
        package.entry.releaseId = attribute(count, attributes, "releaseID");
        package.entry.path = attribute(count, attributes, "path");
        package.entry.type = attribute(count, attributes, "packageType");
        logs = 0;
        lastLog = AnswerDocument::Log();
        refusedEarlier = false;
    }

    void startLog(int count, const xmlChar** attributes) {
        // The log before this one is no longer the last: a refusal stays
        // known, without its text.
        if (logs > 0 && lastLog.code == StatusCode::IntegrityFailed && !refusedEarlier) {
            refusedEarlier = true;
            refusal = lastLog;
            refusal.text.clear();
        }
        ++logs;
        lastLog = AnswerDocument::Log();
        lastLog.code = number(attribute(count, attributes, "code"));
        lastLog.hasOsErrorCode = hasAttribute(count, attributes, "osErrCode");
        lastLog.osErrorCode = number(attribute(count, attributes, "osErrCode"));
        logCut = false;
        text = Text::Log;
    }

    void logText(const char* bytes, std::size_t size) {
        if (!withPackages) return;
        // The end of a log tells most: the front goes when it grows long.
        std::string& kept = lastLog.text;
        kept.append(bytes, size);
        if (kept.size() > 2 * HistoryRecord::kMaxLogText) {
            keepEnd(kept, HistoryRecord::kMaxLogText);
            logCut = true;
        }
    }

    void endLog() {
        std::string& kept = lastLog.text;
        if (kept.size() > HistoryRecord::kMaxLogText) {
            keepEnd(kept, HistoryRecord::kMaxLogText);
            logCut = true;
        }
        if (logCut) kept.insert(0, kCutMark);
        text = Text::None;
    }

    void endPackage() {
        inPackage = false;
        AnswerDocument::Package& entry = package.entry;
        if (refusedEarlier) entry.logs.push_back(refusal);
        if (logs > 0) entry.logs.push_back(std::move(lastLog));
        package.runs = entry.state == "skipped" || entry.state == "missing" ? 0 : logs;
        if (entry.state == "complete") ++record.run;
        if (entry.failed()) ++record.failed;
        if (entry.state == "skipped") ++record.skipped;
        if (entry.state == "missing" && !entry.refused()) ++record.missing;
        if (!withPackages) return;
        if (record.packages.size() < HistoryRecord::kMaxPackages) record.packages.push_back(std::move(package));
        else ++record.packagesLeftOut;
    }
};

Pass& passOf(void* context) { return *static_cast<Pass*>(context); }

void startElement(void* context, const xmlChar* name, const xmlChar*, const xmlChar*, int, const xmlChar**, int count,
                  int, const xmlChar** attributes) {
    Pass& pass = passOf(context);
    ++pass.depth;
    HistoryRecord& record = pass.record;
    if (pass.depth == 1) {
        pass.root = named(name, "BundleLog");
        record.date = attribute(count, attributes, "dateTime");
        record.updateId = attribute(count, attributes, "update-id");
    } else if (pass.depth == 2 && named(name, "SMStatus") && !pass.statusSeen) {
        pass.statusSeen = true;
        pass.hasStatus = hasAttribute(count, attributes, "result");
        record.status = number(attribute(count, attributes, "result"));
        pass.text = Pass::Text::Message;
    } else if (pass.depth == 2 && named(name, "rebootCount")) {
        record.restarts = static_cast<int>(number(attribute(count, attributes, "rebootCount")));
    } else if (pass.depth == 2 && named(name, "Package")) {
        pass.startPackage(count, attributes);
    } else if (pass.depth == 3 && pass.inPackage && named(name, "Status") && !pass.packageStatusSeen) {
        pass.packageStatusSeen = true;
        AnswerDocument::Package& entry = pass.package.entry;
        entry.state = attribute(count, attributes, "state");
        entry.hasCode = hasAttribute(count, attributes, "code");
        entry.code = number(attribute(count, attributes, "code"));
        entry.hasStatus = hasAttribute(count, attributes, "status");
        entry.status = number(attribute(count, attributes, "status"));
    } else if (pass.depth == 3 && pass.inPackage && named(name, "PkgLog")) {
        pass.startLog(count, attributes);
    }
}

void endElement(void* context, const xmlChar* name, const xmlChar*, const xmlChar*) {
    Pass& pass = passOf(context);
    if (pass.depth == 3 && pass.text == Pass::Text::Log && named(name, "PkgLog")) pass.endLog();
    else if (pass.depth == 2 && pass.inPackage) pass.endPackage();
    else if (pass.depth == 2) pass.text = Pass::Text::None;
    --pass.depth;
}

void characters(void* context, const xmlChar* bytes, int size) {
    Pass& pass = passOf(context);
    const char* text = reinterpret_cast<const char*>(bytes);
    if (pass.text == Pass::Text::Message)
        appendCapped(pass.record.message, text, static_cast<std::size_t>(size), HistoryRecord::kMaxText);
    else if (pass.text == Pass::Text::Log) pass.logText(text, static_cast<std::size_t>(size));
}

// A declaration could expand or fetch what the file does not hold: the
// file is refused, and the pass ends there.
void documentType(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    Pass& pass = passOf(context);
    pass.declaration = true;
    xmlStopParser(pass.context);
}

void quiet(void*, xmlErrorPtr) {}

struct FileSource {
    int fd;
};

int readFile(void* context, char* buffer, int size) {
    for (;;) {
        const ssize_t n = ::read(static_cast<FileSource*>(context)->fd, buffer, static_cast<std::size_t>(size));
        if (n >= 0) return static_cast<int>(n);
        if (errno != EINTR) return -1;
    }
}

struct TextSource {
    const char* data;
    std::size_t left;
};

int readText(void* context, char* buffer, int size) {
    TextSource& source = *static_cast<TextSource*>(context);
    const std::size_t n = std::min(source.left, static_cast<std::size_t>(size));
    std::memcpy(buffer, source.data, n);
    source.data += n;
    source.left -= n;
    return static_cast<int>(n);
}

} // namespace

HistoryRecord HistoryRecord::parse(Source next, void* context, bool withPackages) {
    HistoryRecord record;
    Pass pass(record, withPackages);
    xmlSAXHandler handler{};
    handler.initialized = XML_SAX2_MAGIC;
    handler.startElementNs = startElement;
    handler.endElementNs = endElement;
    handler.characters = characters;
    handler.cdataBlock = characters;
    handler.internalSubset = documentType;
    handler.serror = quiet;
    xmlParserCtxtPtr parser = xmlCreateIOParserCtxt(&handler, &pass, next, nullptr, context, XML_CHAR_ENCODING_NONE);
    if (parser == nullptr) return record;
    pass.context = parser;
    // Entities replaced: without a declaration only the predefined ones and
    // character references can stand in the text.
    xmlCtxtUseOptions(parser, XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    const bool parsed = xmlParseDocument(parser) == 0 && parser->wellFormed != 0;
    xmlFreeParserCtxt(parser);
    const bool readable = parsed && pass.root && !pass.declaration && pass.hasStatus;
    if (!readable) return HistoryRecord();
    record.readable = true;
    return record;
}

HistoryRecord HistoryRecord::open(int directory, const std::string& name, bool withPackages) {
    VorkSupport::FileHandle file(::openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (!file.isOpen() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return HistoryRecord();
    FileSource source{file.get()};
    return parse(readFile, &source, withPackages);
}

HistoryRecord HistoryRecord::fromText(const char* data, std::size_t size, bool withPackages) {
    TextSource source{data, size};
    return parse(readText, &source, withPackages);
}
