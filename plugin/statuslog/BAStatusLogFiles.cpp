#include "BAStatusLogFiles.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>

#include "BAJournal.h"
#include "BAXmlText.h"
#include "VorkAtomicFile.h"
#include "VorkFaultSeam.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "XmlOwnership.h"

using VorkSupport::VorkAtomicFile;
using VorkSupport::VorkFaultSeam;

bool BAStatusLogFiles::hasJournal(const std::string& fileName) {
    struct stat status;
    return ::lstat(BAJournal::journalName(fileName).c_str(), &status) == 0;
}

void BAStatusLogFiles::remove(const std::string& fileName) {
    (void)VorkFaultSeam::unlink(fileName);
    (void)VorkFaultSeam::unlink(BAJournal::journalName(fileName));
}

bool BAStatusLogFiles::fold(const std::string& fileName, bool privateFile) {
    VORK_TRACE("BAStatusLogFiles::fold");
    if (!hasJournal(fileName)) return true;
    const XmlDoc log(BAJournal::load(fileName));
    if (!log) {
        // Nothing it could apply to: a journal whose file was removed.
        if (::access(fileName.c_str(), F_OK) != 0) (void)VorkFaultSeam::unlink(BAJournal::journalName(fileName));
        return true;
    }
    VORK_LOG(4, "BAStatusLogFiles::fold: writing |" << fileName << "| whole");
    std::string text;
    if (!BAXmlText::serialiseDocument(log.get(), text) ||
        VorkAtomicFile::write(fileName, text, privateFile) != VorkAtomicFile::Outcome::Written)
        return false;
    // The journal names the snapshot it was written for: beside the new file
    // it is ignored, so its removal need not be durable.
    (void)VorkFaultSeam::unlink(BAJournal::journalName(fileName));
    return true;
}

bool BAStatusLogFiles::moveTo(const std::string& fileName, const std::string& newName, bool noReplace) {
    if (VorkFaultSeam::renameAt(AT_FDCWD, fileName, AT_FDCWD, newName, noReplace ? RENAME_NOREPLACE : 0) != 0)
        return false;
    return VorkAtomicFile::syncDirectory(newName);
}

std::string BAStatusLogFiles::asideName(const std::string& fileName, const std::string& tag) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    return fileName + "." + tag + "-" + stamp;
}

std::string BAStatusLogFiles::moveAside(const std::string& fileName, const std::string& tag) {
    const std::string aside = asideName(fileName, tag);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string target = attempt == 0 ? aside : aside + "-" + std::to_string(attempt);
        if (VorkFaultSeam::renameAt(AT_FDCWD, fileName, AT_FDCWD, target, RENAME_NOREPLACE) == 0) {
            // Its journal stays with it, as part of the same record.
            (void)VorkFaultSeam::renameAt(AT_FDCWD, BAJournal::journalName(fileName), AT_FDCWD,
                                          BAJournal::journalName(target), RENAME_NOREPLACE);
            if (!VorkAtomicFile::syncDirectory(target))
                VORK_LOG(1, "BAStatusLogFiles::moveAside: |" << target
                                                             << "| is in place, but its directory could "
                                                                "not be flushed");
            return target;
        }
        if (errno != EEXIST) break;
    }
    return std::string();
}
