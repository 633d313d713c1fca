#include "statusMessage.h"

const char* statusMessage(int code)
{
    switch (code) {
    case 0: return "";
    case 3072: return "Update Package failed during execution.";
    case 3073: return "All update packages executed successfully.  System reboot required for updates to be applied.";
    case 3074:
    case 3078:
        return "Not all update packages executed.  System reboot required, and update resumed, to execute "
               "remaining update packages.";
    case 3075: return "Bundle references a missing update package.  Bundle not executed.";
    case 3076: return "Bundle does not apply to the current OS or system.  Bundle not executed.";
    case 3077: return "System update is in progress.";
    case 3079: return "Unknown exception occurred during system update.";
    case 3080: return "Unable to resume system update, or retrieve progress.  No system update is in progress.";
    case 3081: return "Definition file bundle.xml missing for package.";
    case 3082:
        return "All update packages executed successfully.  System reboot required for updates to be applied.  "
               "Rebooting the system automatically.";
    case 3083:
        return "Not all update packages executed.  System reboot required, and update resumed, to execute "
               "remaining update packages.  Rebooting the system automatically.";
    case 3084:
        return "One or more Update Packages require a reboot, but one or more other packages failed during "
               "execution.";
    case 3085: return "One or more Update Packages failed during execution, but the update continued running to the end.";
    case 3086: return "MSI engine upgrade is needed, but the upgrade package was not provided.";
    case 3087:
        return "One or more Update Packages within the System Update Set were skipped. This could be because the "
               "package was an MSI Installation, and MSI's are allowed only when deploying Valtheon to a target "
               "system.";
    case 3088: return "One or more Update Packages within the System Update Set was not applied.";
    case 3089: return "Unable to resume update after reboot.";
    case 3090: return "One or more Update Packages in the System Update Set may not have applied.";
    case 3091: return "All the Update Packages within the System Update Set may have applied successfully.";
    case 3092: return "Bundle integrity verification failed.  Bundle not executed.";
    default: return "Unknown status";
    }
}
