#include "BundlePackageGZ.h"

#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

bool BundlePackageGZ::shouldBeSkipped() {
    VORK_TRACE("BundlePackageGZ::shouldBeSkipped");
    VORK_LOG(4, "BundlePackageGZ::shouldBeSkipped: returning true, GZ type invalid on Windows");
    m_sPrependMessage = "The update package was skipped. GZ package types are invalid for Windows systems.";
    return true;
}

bool BundlePackageGZ::completeAfterReboot() { return m_bRestartAfterReboot; }
