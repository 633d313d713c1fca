#pragma once
#include <memory>
#include <string>
#include <vector>

#include "BundleDefinition.h"
#include "RelocationDefinition.h"

class BAXMLDoc;
class BundlePackage;

// One run of a bundle over one status log: builds the package objects in run
// order (fresh from the definition file, or resumed from the status log),
// checks applicability, runs the packages and combines their results into
// one status code, keeping progress and status in the status log current.
class Bundle {
public:
    // Kind of a package, which selects its class.
    enum PackageType { QPK = 0, MSP = 1, MSI = 2, GZ = 3 };

    // The status log is borrowed and must outlive the Bundle. A resumed
    // bundle rebuilds its packages from the log's entries, followed by the
    // definition's packages that have no entry yet. Every package gets the
    // time limit its definition gives it; a malformed one raises
    // VorkException 3081 before anything runs, as do two packages under one
    // release id when digests or a policy are in force. Under the policy
    // "signed" the relocation file must be signed too (3092 otherwise), and
    // a definition signed before the newest one its signer signed for this
    // machine is refused (3092) unless the update allows older ones. A
    // resumed package is checked against the digest its log entry recorded.
    Bundle(BAXMLDoc* statusLog, bool resume);
    virtual ~Bundle();

    Bundle(const Bundle&) = delete;
    Bundle& operator=(const Bundle&) = delete;

    // Checks OS, system, (unless ignore) the package files and the package
    // digests; answers a status code (0, 3075, 3076, or 3092 when a package
    // fails its digest check, which each refused package's entry and the
    // Validation section tell).
    int validate(bool ignore, bool keepProgress);
    // Validates, then runs the packages; answers the combined status code.
    // A validation failure raises VorkException with its code. A
    // VorkException that ends the package loop makes its code (3079 when 0)
    // the result, unless a failure (3072, 3084, 3085) was reached before.
    int execute(bool keepProgress);
    // Tells the host's command log and the notification library that the
    // update begins (false) or has completed (true).
    void notifyConsumers(bool completed);

    // The bundle result after one more package result: "current" is the
    // bundle result so far, rebootPending whether an earlier package asked
    // for a reboot.
    static int combineResult(int current, int packageResult, bool rebootPending, bool continueOnFailure);

    static PackageType determinePackageType(const std::string& path, const std::string& packageType);

    // The verify policy of an update, kept in the status log's settings: ""
    // (the digests present are checked, a signature when the trust store
    // holds certificates), "digests" (every package must carry a digest) or
    // "signed" (the definition must be signed as well). Setting any other
    // value raises VorkException 3092.
    static void setVerifyPolicy(BAXMLDoc& statusLog, const std::string& policy);
    static std::string verifyPolicy(BAXMLDoc& statusLog);
    // Whether the update runs a signed definition that is older than the
    // newest one its signer signed for this machine (key allowolder), kept
    // in the status log's settings so that its resume allows it too.
    static void setAllowOlder(BAXMLDoc& statusLog);
    static bool allowsOlder(BAXMLDoc& statusLog);

    // The packages in run order (read-only view, for callers and tests).
    std::size_t packageCount() const { return m_packages.size(); }
    const BundlePackage& package(std::size_t index) const { return *m_packages.at(index); }

private:
    // Where a run over the packages stands: the combined result so far, the
    // packages that count as done, and whether one asked for a reboot.
    struct RunState {
        int result = 0;
        int done = 0;
        bool rebootPending = false;
    };

    // Which packages the run passes over: one recorded as "resume after
    // reboot required" that comes again later in the list.
    std::vector<bool> passedOver() const;
    // Runs one package and brings the result, progress and status up to date;
    // a failure that ends the run raises VorkException 3072.
    void runPackage(BundlePackage& package, RunState& run);
    // The packages of a resumed run: rebuilt from the log's entries, then
    // the definition's packages that have none yet.
    void resumePackages();
    // A fresh package for the definition's package id.
    std::unique_ptr<BundlePackage> freshPackage(const std::string& id);
    // Checks every package against its digest; false when one is refused.
    bool checkIntegrity();
    // Raises VorkException 3081 when two packages of the definition share a
    // key while a verify policy is set or any package carries a digest.
    void refuseDuplicateKeys() const;
    // Under "signed": raises VorkException 3092 when the definition was
    // signed before the newest definition of its signer that this machine
    // started an update with, unless the update allows older ones.
    void refuseOlderDefinition() const;
    // The text that identifies a package among the log entries.
    static std::string packageKey(const std::string& releaseID, const std::string& path);

    BAXMLDoc* m_pStatusLog;
    std::string m_sVerifyPolicy;
    std::unique_ptr<BundleDefinition> m_pDefinition;
    std::unique_ptr<RelocationDefinition> m_pRelocation;
    std::vector<std::unique_ptr<BundlePackage>> m_packages;
};
