// libFuzzer target: the input is a status log as a power cut or a disk may
// leave it, its file and its journal, loaded as the plug-in loads the
// internal log. Whatever loads must survive a save: saved and loaded again,
// it is the same log; then changed as a resumed run changes it and saved
// again (through the journal), it loads as it was saved. A log that differs
// is lost or corrupted data: the target aborts, so that libFuzzer keeps the
// input.
//
// Input: the log file's bytes up to the first NUL byte (all of them without
// one). What follows is the journal: taken as it stands when it begins with
// the journal's magic "PLJRNL01", else split at NUL bytes into record
// payloads that are framed, with the header naming the log file, as the
// plug-in frames its own.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "BAJournal.h"
#include "BAJournalFormat.h"
#include "BAXMLDoc.h"
#include "BAXmlText.h"
#include "FuzzSandbox.h"
#include "StatusCode.h"
#include "VorkException.h"
#include "XPathNodeList.h"
#include "XmlOwnership.h"

namespace {

const char kMagic[] = "PLJRNL01";

std::string journalOf(const std::string& snapshot, const std::string& rest) {
    if (rest.compare(0, sizeof kMagic - 1, kMagic) == 0) return rest;
    const std::uint64_t number = 0x1234;
    std::string journal = BAJournalFormat::header(snapshot.size(), BAJournalFormat::crc(snapshot), number);
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find('\0', start);
        if (end == std::string::npos) end = rest.size();
        journal += BAJournalFormat::record(number, rest.substr(start, end - start));
        start = end + 1;
    }
    return journal;
}

// A document's text as a parse gives it back: an element with an empty text
// reads as one without (<E></E> as <E/>), which is the same log.
std::string textOf(xmlDocPtr doc) {
    std::string text;
    if (!BAXmlText::serialiseDocument(doc, text)) return "(cannot be serialised)";
    const XmlDoc parsed(BAXmlText::parseText(text));
    if (parsed == nullptr || !BAXmlText::serialiseDocument(parsed.get(), text)) return "(does not parse again)";
    return text;
}

// The log in the file (with its journal) must be the one in memory.
void expectSaved(BAXMLDoc& log, const char* step) {
    BAXMLDoc again(log.getFileName());
    again.load();
    const std::string saved = textOf(log.getDocument());
    const std::string loaded = again.getDocument() != nullptr ? textOf(again.getDocument()) : "(no document)";
    if (loaded == saved) return;
    std::fprintf(stderr,
                 "StatusLogFuzz: %s: the log loads otherwise than it was saved\n--- saved\n%s\n--- loaded\n%s\n", step,
                 saved.c_str(), loaded.c_str());
    std::abort();
}

// What a resumed run does to its log before its next save: a cut-off entry
// is closed, an entry of the log is started again, the bundle's status and
// progress move on and a package that never started gets its entry.
void resumeRun(BAXMLDoc& log) {
    log.closeInterruptedEntries(BAXMLDoc::kInterruptedRunText);
    XPathNodeList entries(log.getDocument(), "/BundleLog/Package");
    if (!entries.empty()) {
        BAXMLPackageNode entry(&log, entries.nodes().front());
        entry.restart("/bin/true fuzz");
        entry.setComplete(StatusCode::PackageFailed, "", "fuzz run", 2);
    }
    log.SMStatus(StatusCode::PackageFailed);
    log.progressPercent(50);
    log.createMissingPackage("FUZZ-1", "/fuzz/update.sh", "LWXP", "", 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzSandbox& sandbox = FuzzSandbox::instance();
    static const std::string file = sandbox.path("win/TEMP/BAUpdate.xml");
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string snapshot = input.substr(0, split);
    sandbox.write(file, snapshot);
    if (split == std::string::npos) ::unlink(BAJournal::journalName(file).c_str());
    else sandbox.write(BAJournal::journalName(file), journalOf(snapshot, input.substr(split + 1)));

    BAXMLDoc log(file);
    log.load();
    if (log.getDocument() == nullptr) return 0;
    try {
        log.save();
    } catch (const VorkSupport::VorkException&) {
        // A log that cannot be written says so (3079); the file stays.
        return 0;
    }
    expectSaved(log, "saved whole");
    try {
        resumeRun(log);
        log.save();
    } catch (const VorkSupport::VorkException&) {
        // A damaged log refuses the change; the update reports it.
        return 0;
    }
    expectSaved(log, "saved through the journal");
    return 0;
}
