#include "BundlePackageGZ.h"

#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

using VorkSupport::VorkException;

bool BundlePackageGZ::shouldBeSkipped() {
    VORK_TRACE("BundlePackageGZ::shouldBeSkipped");
    VORK_LOG(4, "BundlePackageGZ::shouldBeSkipped: returning true, GZ type invalid on Windows");
    m_sPrependMessage = "The update package was skipped. GZ package types are invalid for Windows systems.";
    return true;
}

bool BundlePackageGZ::completeAfterReboot() { return m_bRestartAfterReboot; }

bool BundlePackageGZ::executeImpl() {
    throw VorkException("BundlePackageGZ::executeImpl: invalid code path encountered");
}

void BundlePackageGZ::buildCommandLine() {
    throw VorkException("BundlePackageGZ::buildCommandLine: invalid code path encountered");
}

void BundlePackageGZ::performReturnMapping() {
    throw VorkException("BundlePackageGZ::performReturnMapping: invalid code path encountered");
}

bool BundlePackageGZ::shouldUseOutputLog() {
    throw VorkException("BundlePackageGZ::shouldUseOutputLog: invalid code path encountered");
}
