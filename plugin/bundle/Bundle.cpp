#include "Bundle.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "BAXMLDoc.h"
#include "FailureStatus.h"
#include "BundlePackage.h"
#include "BundlePackageGZ.h"
#include "BundlePackageMSI.h"
#include "BundlePackageMSP.h"
#include "BundlePackageQPK.h"
#include "FixedLogTexts.h"
#include "SigningTimeRecord.h"
#include "StatusCode.h"
#include "TrustStore.h"
#include "VerifiedCopy.h"
#include "VorkException.h"
#include "VorkLibrary.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "XPathNodeList.h"
#include "getAbsolutePath.h"
#include "zuacs64.h"

using VorkSupport::VorkException;
using VorkSupport::VorkFailureKind;

namespace {

const char* kindText(Bundle::PackageType kind) {
    switch (kind) {
        case Bundle::MSP: return "Package is MSP";
        case Bundle::MSI: return "Package is MSI";
        case Bundle::GZ: return "Package is GZ";
        case Bundle::QPK: break;
    }
    return "Package is QPK";
}

std::unique_ptr<BundlePackage> makePackage(Bundle::PackageType kind, BAXMLDoc* statusLog, const std::string& releaseID,
                                           const std::string& path, const std::string& packageType,
                                           const std::string& installParams, int updateOnly) {
    switch (kind) {
        case Bundle::MSP:
            return std::make_unique<BundlePackageMSP>(statusLog, releaseID, path, packageType, installParams,
                                                      updateOnly);
        case Bundle::MSI:
            return std::make_unique<BundlePackageMSI>(statusLog, releaseID, path, packageType, installParams,
                                                      updateOnly);
        case Bundle::GZ:
            return std::make_unique<BundlePackageGZ>(statusLog, releaseID, path, packageType, installParams,
                                                     updateOnly);
        case Bundle::QPK: break;
    }
    return std::make_unique<BundlePackageQPK>(statusLog, releaseID, path, packageType, installParams, updateOnly);
}

std::unique_ptr<BundlePackage> makePackage(Bundle::PackageType kind, BAXMLDoc* statusLog, xmlNodePtr entry) {
    switch (kind) {
        case Bundle::MSP: return std::make_unique<BundlePackageMSP>(statusLog, entry);
        case Bundle::MSI: return std::make_unique<BundlePackageMSI>(statusLog, entry);
        case Bundle::GZ: return std::make_unique<BundlePackageGZ>(statusLog, entry);
        case Bundle::QPK: break;
    }
    return std::make_unique<BundlePackageQPK>(statusLog, entry);
}

// The last n characters of a text, or "" when it is shorter.
std::string suffix(const std::string& text, std::size_t n) {
    return text.size() >= n ? text.substr(text.size() - n) : std::string();
}

const char* const kSettingsPath = "/BundleLog/BundleSettings";
const char* const kVerifyAttribute = "verify";
const char* const kAllowOlderAttribute = "allowolder";

// Names a package that failed its digest check in the Validation section.
void recordRefusal(BAXMLDoc& log, const BundlePackage& package, const std::string& problem) {
    xmlNodePtr line = xmlNewTextChild(log.getFirstNode("/BundleLog/Validation"), nullptr,
                                      reinterpret_cast<const xmlChar*>("Integrity"),
                                      reinterpret_cast<const xmlChar*>(problem.c_str()));
    if (line == nullptr)
        throw VorkException("recordRefusal: unable to allocate Integrity node", VorkFailureKind::AllocationFailure);
    if (!package.getReleaseID().empty()) BAAnyXMLDoc::setStringAttribute(line, "releaseID", package.getReleaseID());
    BAAnyXMLDoc::setStringAttribute(line, "path", package.getPackageAbsFileName());
}

// The entry point of the notification library.
using NotifyFunction = void (*)(const char* message, const char** arguments);

} // namespace

Bundle::Bundle(BAXMLDoc* statusLog, bool resume) : m_pStatusLog(statusLog) {
    VORK_TRACE("Bundle::Bundle");
    std::string directory;
    std::string definitionFile;
    std::string relocationName;
    m_pStatusLog->getStartParameters(directory, definitionFile, relocationName);
    m_sVerifyPolicy = verifyPolicy(*m_pStatusLog);
    const TrustStore trustStore(TrustStore::defaultDirectory(), m_sVerifyPolicy == "signed");
    m_pDefinition = std::make_unique<BundleDefinition>(directory + "/" + definitionFile, &trustStore);
    refuseDuplicateKeys();
    refuseOlderDefinition();
    m_pRelocation = std::make_unique<RelocationDefinition>(relocationName, directory,
                                                           m_sVerifyPolicy == "signed" ? &trustStore : nullptr);

    if (!resume) {
        VORK_LOG(3, "Bundle::Bundle: starting fresh update");
        const std::vector<std::string>& ids = m_pDefinition->packageIDs();
        m_packages.reserve(ids.size());
        for (const std::string& id : ids) m_packages.push_back(freshPackage(id));
        return;
    }

    VORK_LOG(3, "Bundle::Bundle: resuming incomplete update");
    resumePackages();
}

void Bundle::resumePackages() {
    std::vector<std::unique_ptr<BundlePackage>> fresh;
    // The definition's packages by release id and path; the first of a key
    // gives its digest, as every lookup of the definition does.
    std::unordered_map<std::string, const BundlePackage*> defined;
    for (const std::string& id : m_pDefinition->packageIDs()) {
        fresh.push_back(freshPackage(id));
        defined.emplace(packageKey(fresh.back()->getReleaseID(), fresh.back()->getPackageAbsFileName()),
                        fresh.back().get());
    }
    XPathNodeList entries(m_pStatusLog->getDocument(), "/BundleLog/Package");
    m_packages.reserve(entries.size() + fresh.size());
    // How many entries each package (release id and path) has in the log.
    std::unordered_map<std::string, std::size_t> recorded;
    for (xmlNodePtr entry : entries) {
        const std::string path = BAAnyXMLDoc::getStringAttribute(entry, "path");
        std::string packageType;
        if (xmlHasProp(entry, reinterpret_cast<const xmlChar*>("packageType")) != nullptr)
            packageType = BAAnyXMLDoc::getStringAttribute(entry, "packageType");
        const PackageType kind = determinePackageType(path, packageType);
        VORK_LOG(3, kindText(kind));
        m_packages.push_back(makePackage(kind, m_pStatusLog, entry));
        BundlePackage& package = *m_packages.back();
        const std::string key = packageKey(package.getReleaseID(), path);
        ++recorded[key];
        // The digest the update checked is the one the resume checks,
        // whatever the definition says now; the time limit comes from the
        // definition, read and checked again now.
        const std::string checkedDigest = BAXMLPackageNode(m_pStatusLog, entry).sha256();
        if (!checkedDigest.empty()) package.setExpectedDigest(checkedDigest);
        const auto definedPackage = defined.find(key);
        if (definedPackage == defined.end()) {
            package.markUnmatched();
            continue;
        }
        if (checkedDigest.empty() && definedPackage->second->hasExpectedDigest())
            package.setExpectedDigest(definedPackage->second->expectedDigest());
        package.setTimeout(definedPackage->second->getTimeout());
    }
    // A run that stopped before it reached some packages (a crash, a
    // restart) left them without entries: they run after the rebuilt ones,
    // in definition order, as in a fresh run.
    for (std::unique_ptr<BundlePackage>& package : fresh) {
        auto found = recorded.find(packageKey(package->getReleaseID(), package->getPackageAbsFileName()));
        if (found != recorded.end() && found->second > 0) {
            --found->second;
            continue;
        }
        VORK_LOG(3, "Bundle::resumePackages: package never started, adding it: |" << package->getPackageAbsFileName()
                                                                                  << "|");
        m_packages.push_back(std::move(package));
    }
}

void Bundle::refuseDuplicateKeys() const {
    // Two packages under one key run the first twice and the second never;
    // where digests are to decide what runs, that is a malformed bundle.
    const std::string& key = m_pDefinition->duplicateKey();
    if (key.empty() || (m_sVerifyPolicy.empty() && !m_pDefinition->carriesDigest())) return;
    VORK_LOG(1, "Bundle::refuseDuplicateKeys: two packages of the definition share the key |" << key << "|");
    throw VorkException("Bundle::refuseDuplicateKeys: two packages share the release id " + key,
                        StatusCode::DefinitionMissing);
}

void Bundle::refuseOlderDefinition() const {
    if (m_sVerifyPolicy != "signed") return;
    if (allowsOlder(*m_pStatusLog)) {
        VORK_LOG(3, "Bundle::refuseOlderDefinition: older definitions are allowed");
        return;
    }
    const std::string refusal =
        SigningTimeRecord(SigningTimeRecord::defaultFileName()).refusal(m_pDefinition->signers());
    if (refusal.empty()) return;
    VORK_LOG(1, "Bundle::refuseOlderDefinition: refused: " << refusal);
    // The administrator who started the call learns it at once.
    std::fprintf(stderr, "plimo: the bundle is refused: %s\n", refusal.c_str());
    throw VorkException("Bundle::refuseOlderDefinition: " + refusal, StatusCode::IntegrityFailed);
}

std::string Bundle::packageKey(const std::string& releaseID, const std::string& path) {
    return releaseID + '\0' + path;
}

std::unique_ptr<BundlePackage> Bundle::freshPackage(const std::string& id) {
    const std::string releaseID = m_pDefinition->hasReleaseID(id) ? id : std::string();
    const std::string name = m_pDefinition->packageName(id);
    const std::string packageType = m_pDefinition->packageType(id);
    const std::string installParams = m_pDefinition->pkgInstParms(id);
    const int updateOnly = BundlePackage::readUpdateOnly(m_pDefinition->pkgUpdateOnly(id));
    std::string packagePath = m_pRelocation->packageLocation(id) + "/" + name;
    const PackageType kind = determinePackageType(name, packageType);
    getAbsolutePath(packagePath, packagePath);
    VORK_LOG(3, FixedLogText::Bundle::kCreatingPackage << "|" << releaseID << "|, packagePath: "
                                                       << "|" << packagePath << "|");
    VORK_LOG(3, kindText(kind));
    std::unique_ptr<BundlePackage> package =
        makePackage(kind, m_pStatusLog, releaseID, packagePath, packageType, installParams, updateOnly);
    std::string digest;
    if (m_pDefinition->findAttribute(id, "sha256", digest)) package->setExpectedDigest(digest);
    package->setTimeout(m_pDefinition->pkgTimeout(id));
    return package;
}

void Bundle::setVerifyPolicy(BAXMLDoc& statusLog, const std::string& policy) {
    if (policy != "digests" && policy != "signed") {
        VORK_LOG(1, "Bundle::setVerifyPolicy: unknown verify policy |" << policy << "|");
        throw VorkException("Bundle::setVerifyPolicy: unknown verify policy: " + policy, StatusCode::IntegrityFailed);
    }
    statusLog.setStringAttribute(kSettingsPath, kVerifyAttribute, policy);
}

void Bundle::setAllowOlder(BAXMLDoc& statusLog) {
    statusLog.setStringAttribute(kSettingsPath, kAllowOlderAttribute, "true");
}

bool Bundle::allowsOlder(BAXMLDoc& statusLog) {
    return BAAnyXMLDoc::findStringAttribute(statusLog.findFirstNode(kSettingsPath), kAllowOlderAttribute)
               .value_or(std::string()) == "true";
}

std::string Bundle::verifyPolicy(BAXMLDoc& statusLog) {
    // No settings, or none that names one: no policy.
    return BAAnyXMLDoc::findStringAttribute(statusLog.findFirstNode(kSettingsPath), kVerifyAttribute)
        .value_or(std::string());
}

bool Bundle::checkIntegrity() {
    bool intact = true;
    for (const auto& package : m_packages) {
        const std::string problem = package->validateIntegrity(!m_sVerifyPolicy.empty());
        if (problem.empty()) continue;
        recordRefusal(*m_pStatusLog, *package, problem);
        intact = false;
    }
    return intact;
}

Bundle::~Bundle() = default;

Bundle::PackageType Bundle::determinePackageType(const std::string& path, const std::string& packageType) {
    VORK_TRACE("Bundle::determinePackageType");
    if (!packageType.empty()) {
        VORK_LOG(5, "Bundle::determinePackageType: packageType = " << packageType);
        if (BundlePackage::equalsNoCase(packageType, "lwxp") || BundlePackage::equalsNoCase(packageType, "llxp"))
            return QPK;
        if (BundlePackage::equalsNoCase(packageType, "gz")) return GZ;
        if (BundlePackage::equalsNoCase(packageType, "msi")) return MSI;
        if (BundlePackage::equalsNoCase(packageType, "msp")) return MSP;
        return QPK;
    }
    const std::string first = suffix(path, 4);
    const std::string second = suffix(path, 7);
    VORK_LOG(5, "Bundle::determinePackageType: Package extension #1 is: " << first
                                                                          << ", Package extension #2 is: " << second);
    if (!first.empty() && BundlePackage::equalsNoCase(first, ".msp")) return MSP;
    if (!first.empty() && BundlePackage::equalsNoCase(first, ".msi")) return MSI;
    if (!second.empty() && BundlePackage::equalsNoCase(second, ".tar.gz")) return GZ;
    return QPK;
}

int Bundle::combineResult(int current, int packageResult, bool rebootPending, bool continueOnFailure) {
    using namespace StatusCode;
    const bool failedBefore = current == FailedAndContinued || current == RebootRequiredWithFailures;
    switch (packageResult) {
        case PackageFailed:
            if (rebootPending) return RebootRequiredWithFailures;
            return continueOnFailure ? FailedAndContinued : PackageFailed;
        case RebootRequired:
            if (failedBefore) return RebootRequiredWithFailures;
            return current == ResumeRequired ? ResumeRequired : RebootRequired;
        case ResumeRequired: return failedBefore ? RebootRequiredWithFailures : ResumeRequired;
        case EngineUpgradeMissing:
        case PackagesSkipped:
            if (failedBefore || current == PackageFailed || current == RebootRequired || current == ResumeRequired)
                return current;
            return packageResult;
        case PackageNotApplied: return PackageNotApplied;
        default: return current;
    }
}

int Bundle::validate(bool ignore, bool keepProgress) {
    VORK_TRACE("Bundle::validate");
    const bool osValid = m_pDefinition->validOS();
    const bool systemValid = m_pDefinition->validSystem();
    m_pStatusLog->osSupported(osValid);
    m_pStatusLog->systemSupported(systemValid);

    int result = 0;
    if (!ignore) {
        // Every package is checked, so each missing one records itself.
        for (const auto& package : m_packages) {
            const int rc = package->validate();
            if (result == 0) result = rc;
        }
    }
    if (!osValid || !systemValid) result = StatusCode::NotApplicable;
    // A bundle that was tampered with says so first: none of its claims can
    // be trusted.
    if (!checkIntegrity()) result = StatusCode::IntegrityFailed;
    if (!keepProgress) m_pStatusLog->progressPercent(100);
    return result;
}

int Bundle::execute(bool keepProgress) {
    VORK_TRACE("Bundle::execute");
    if (m_pStatusLog->SMStatus() == StatusCode::PackageFailed) return StatusCode::PackageFailed;

    // validate answers a status code: 0 when the bundle may run.
    const auto rc = static_cast<StatusCode::Value>(validate(m_pStatusLog->ignore(), keepProgress));
    if (rc != StatusCode::Success) {
        VORK_LOG(1, "Bundle::execute: bundle validation failed: rc=" << rc);
        throw VorkException("Bundle::execute: bundle validation failed", rc);
    }
    // The update starts: its signer's definitions signed before this one
    // are older from now on.
    if (m_sVerifyPolicy == "signed")
        SigningTimeRecord(SigningTimeRecord::defaultFileName()).record(m_pDefinition->signers());

    m_pStatusLog->stable(false);
    m_pStatusLog->progressPercent(0);
    m_pStatusLog->save();
    // Only one run holds the state folder: a private copy there is what a
    // killed run left.
    const std::string::size_type slash = m_pStatusLog->qpkLogName.find_last_of('/');
    if (slash != std::string::npos) VerifiedCopy::removeStale(m_pStatusLog->qpkLogName.substr(0, slash));

    const std::vector<bool> skipped = passedOver();
    RunState run;
    try {
        for (std::size_t i = 0; i < m_packages.size(); ++i) {
            if (!skipped[i]) runPackage(*m_packages[i], run);
        }
    } catch (const VorkException& e) {
        // A run cut short is never a success: the packages after this one
        // did not run. A failure already reached stays.
        if (!StatusCode::reportsFailedPackages(run.result))
            run.result = FailureStatus::of(e, StatusCode::UnknownException);
        VORK_LOG(2, "Bundle::execute: package loop ended by exception: " << e.getMessageNarrow()
                                                                         << "; result=" << run.result);
        m_pStatusLog->SMStatus(run.result);
    }

    m_pStatusLog->stable(true);
    return run.result;
}

std::vector<bool> Bundle::passedOver() const {
    // A package recorded as "resume after reboot required", or as in
    // progress, is passed over when the same package (release identifier and
    // path) comes again later in the list: the later entry is the one that
    // runs (an older log kept an interrupted run's entry beside the entry of
    // the run after it). Found in one pass from the end.
    struct Key {
        std::string_view releaseID;
        std::string_view path;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const {
            const std::size_t h = std::hash<std::string_view>()(key.releaseID);
            return h ^ (std::hash<std::string_view>()(key.path) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2));
        }
    };
    const std::size_t total = m_packages.size();
    std::vector<bool> skipped(total, false);
    std::unordered_set<Key, KeyHash> seen;
    seen.reserve(total);
    for (std::size_t i = total; i-- > 0;) {
        const BundlePackage& package = *m_packages[i];
        const bool repeatedLater = !seen.insert(Key{package.getReleaseID(), package.getPackageAbsFileName()}).second;
        skipped[i] = repeatedLater && (package.getState() == BundlePackage::STATE_IN_PROGRESS ||
                                       (package.getState() == BundlePackage::STATE_COMPLETE &&
                                        package.getStatus() == BundlePackage::STATUS_RESUME_REQUIRED));
    }
    return skipped;
}

void Bundle::runPackage(BundlePackage& package, RunState& run) {
    bool notRun = false;
    const int packageResult = package.execute(notRun);
    bool continueOnFailure = false;
    if (packageResult == StatusCode::PackageFailed) {
        VORK_LOG(1, FixedLogText::Bundle::kPackageFailed);
        continueOnFailure = m_pStatusLog->continueOnFailure();
    } else if (packageResult == StatusCode::RebootRequired) {
        VORK_LOG(1, FixedLogText::Bundle::kPackageNeedsReboot);
    } else if (packageResult == StatusCode::ResumeRequired) {
        VORK_LOG(1, FixedLogText::Bundle::kPackageNeedsRestart);
    }
    run.result = combineResult(run.result, packageResult, run.rebootPending, continueOnFailure);
    const bool asksForReboot =
        packageResult == StatusCode::RebootRequired || packageResult == StatusCode::ResumeRequired;
    if (asksForReboot) run.rebootPending = true;
    if (!asksForReboot && packageResult != StatusCode::PackageNotApplied) {
        ++run.done;
        m_pStatusLog->progressPercent(
            static_cast<int>(static_cast<long long>(run.done) * 100 / static_cast<long long>(m_packages.size())));
    }
    m_pStatusLog->SMStatus(run.result);
    if (packageResult == StatusCode::PackageFailed && !continueOnFailure)
        throw VorkException("Bundle::execute: QPK Failed", StatusCode::PackageFailed);
}

void Bundle::notifyConsumers(bool completed) {
    VORK_TRACE("Bundle::notifyConsumers");
    const bool skip = std::getenv("PLIMO_SKIP_NOTIFICATION") != nullptr;
    VORK_LOG(4, "Bundle::notifyConsumers: completed = " << completed << ", skipNotification = " << skip);

    if (completed && !skip) {
        try {
            const int status = m_pStatusLog->SMStatus();
            // The host files a failed update under the code of a failed package.
            const uint32_t commandId = status != 0 ? uint32_t{StatusCode::PackageFailed} : 6101u;
            const uint16_t type = status != 0 ? 1 : 0;
            const std::string userInfo = m_pStatusLog->UserInfo();
            VORK_LOG(3, "Bundle::notifyConsumers: calling ZCSAppendToCmdLog(): cmdId = "
                            << commandId << ", pUserInfo = \"" << userInfo << "\", type = " << type);
            (void)ZCSAppendToCmdLog(commandId, userInfo.c_str(), "PLIMO", "Bundle Update", type);
        } catch (const VorkException& e) {
            // A status log without a status code cannot fail the update here.
            VORK_LOG(1, "Bundle::notifyConsumers: no command log entry: " << e.getMessageNarrow());
        }
    }

    try {
        VorkSupport::VorkLibrary library("zuintf32", false);
        auto notifyFunction = reinterpret_cast<NotifyFunction>(library.getProcAddr("VorkNNNotify"));
        if (notifyFunction != nullptr) {
            const char* message = completed ? "cm.bundle.completeUpdate" : "cm.bundle.beginUpdate";
            const bool notify = m_pStatusLog->notify();
            const char* arguments[4] = {notify && !skip ? "notify=true" : "notify=false", nullptr, nullptr, nullptr};
            VORK_LOG(3, "Bundle::notifyConsumers: calling VorkNNNotify(): message = " << message);
            notifyFunction(message, arguments);
            if (completed && notify && !skip) {
                const std::string root = m_pStatusLog->dumpRoot();
                const char* updateArguments[4] = {root.c_str(), nullptr, nullptr, nullptr};
                VORK_LOG(3, "Bundle::notifyConsumers: calling VorkNNNotify(): message = \""
                                << "cm.bundle.update"
                                << "\"");
                notifyFunction("cm.bundle.update", updateArguments);
            }
        } else {
            VORK_LOG(2, "Bundle::notifyConsumers: loaded zuintf library, but failed to find function VorkNNNotify()");
        }
    } catch (const VorkException& e) {
        VORK_LOG(3, "Bundle::notifyConsumers: failed to load the zuintf library.  " << e.getMessageNarrow()
                                                                                    << ".  Not sending notification.");
    }
}
