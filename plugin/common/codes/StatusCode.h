#pragma once

// The status codes of the system: the outcome of every update, resume,
// progress, validate and clean call, kept in the SMStatus element of the
// status log. One table gives each code its user message, its status number
// and the exit codes of the console front end's -update and -progress (-1:
// not in that command's table). Header only: the plug-in and the front end,
// which must not link each other, read the same table.
namespace StatusCode {

enum Value : int {
    Success = 0,
    PackageFailed = 3072,
    RebootRequired = 3073,
    ResumeRequired = 3074,
    MissingPackage = 3075,
    NotApplicable = 3076,
    UpdateInProgress = 3077,
    // An older code of the same outcome as ResumeRequired; it keeps its own
    // number in the log.
    ResumeRequiredAlias = 3078,
    UnknownException = 3079,
    NoUpdateInProgress = 3080,
    DefinitionMissing = 3081,
    Rebooting = 3082,
    RebootingToResume = 3083,
    RebootRequiredWithFailures = 3084,
    FailedAndContinued = 3085,
    EngineUpgradeMissing = 3086,
    PackagesSkipped = 3087,
    PackageNotApplied = 3088,
    ResumeFailed = 3089,
    MayNotHaveApplied = 3090,
    MayHaveApplied = 3091,
    IntegrityFailed = 3092,
};

struct Info {
    Value code;
    const char* message;
    int statusNumber;
    int updateExitCode;
    int progressExitCode;
};

inline constexpr Info kTable[] = {
    {Success, "", 2, 0, 0},
    {PackageFailed, "Update Package failed during execution.", 5, 3, -1},
    {RebootRequired, "All update packages executed successfully.  System reboot required for updates to be applied.", 3,
     4, -1},
    {ResumeRequired,
     "Not all update packages executed.  System reboot required, and update resumed, to execute remaining update "
     "packages.",
     3, 5, -1},
    {MissingPackage, "Bundle references a missing update package.  Bundle not executed.", 4, 2, -1},
    {NotApplicable, "Bundle does not apply to the current OS or system.  Bundle not executed.", 3, 1, -1},
    {UpdateInProgress, "System update is in progress.", 4, 6, 0},
    {ResumeRequiredAlias,
     "Not all update packages executed.  System reboot required, and update resumed, to execute remaining update "
     "packages.",
     3, -1, -1},
    {UnknownException, "Unknown exception occurred during system update.", 4, 3, -1},
    {NoUpdateInProgress, "Unable to resume system update, or retrieve progress.  No system update is in progress.", 0,
     -1, 1},
    {DefinitionMissing, "Definition file bundle.xml missing for package.", 4, -1, -1},
    {Rebooting,
     "All update packages executed successfully.  System reboot required for updates to be applied.  Rebooting "
     "the system automatically.",
     4, -1, -1},
    {RebootingToResume,
     "Not all update packages executed.  System reboot required, and update resumed, to execute remaining update "
     "packages.  Rebooting the system automatically.",
     4, -1, -1},
    {RebootRequiredWithFailures,
     "One or more Update Packages require a reboot, but one or more other packages failed during execution.", 1, 8, -1},
    {FailedAndContinued,
     "One or more Update Packages failed during execution, but the update continued running to the end.", 5, 7, 7},
    {EngineUpgradeMissing, "MSI engine upgrade is needed, but the upgrade package was not provided.", 4, -1, -1},
    {PackagesSkipped,
     "One or more Update Packages within the System Update Set were skipped. This could be because the package "
     "was an MSI Installation, and MSI's are allowed only when deploying Valtheon to a target system.",
     3, -1, -1},
    {PackageNotApplied, "One or more Update Packages within the System Update Set was not applied.", 3, -1, -1},
    {ResumeFailed, "Unable to resume update after reboot.", 4, -1, -1},
    {MayNotHaveApplied, "One or more Update Packages in the System Update Set may not have applied.", 4, -1, -1},
    {MayHaveApplied, "All the Update Packages within the System Update Set may have applied successfully.", 3, -1, -1},
    {IntegrityFailed, "Bundle integrity verification failed.  Bundle not executed.", 3, 1, -1},
};

// What a code the table does not hold gets.
inline constexpr const char* kUnknownMessage = "Unknown status";
inline constexpr int kUnknownStatusNumber = 1;

// The row of a code; null for a code the table does not hold.
constexpr const Info* find(long code) {
    for (const Info& row : kTable) {
        if (row.code == code) return &row;
    }
    return nullptr;
}

constexpr const char* message(long code) {
    const Info* row = find(code);
    return row != nullptr ? row->message : kUnknownMessage;
}

constexpr int statusNumber(long code) {
    const Info* row = find(code);
    return row != nullptr ? row->statusNumber : kUnknownStatusNumber;
}

// Whether a code reports packages that failed: a later outcome of the same
// run (a reboot it asks for, an exception that cuts it short) never hides it.
constexpr bool reportsFailedPackages(long code) {
    return code == PackageFailed || code == RebootRequiredWithFailures || code == FailedAndContinued;
}

} // namespace StatusCode
