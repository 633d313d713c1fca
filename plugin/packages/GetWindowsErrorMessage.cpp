#include "GetWindowsErrorMessage.h"

#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

namespace {

struct ErrorText {
    int code;
    const char* text;
};

// The installer and system codes that package runs meet, with a short
// English explanation each.
const ErrorText kErrorTexts[] = {
    {2, "The system could not find the file named."},
    {3, "The system could not find the path named."},
    {5, "Access was denied."},
    {87, "A parameter is not valid."},
    {1603, "A fatal error occurred while installing."},
    {1613, "The installer engine on this system is too old to install this package. Update the installer "
           "service and try again."},
    {1618, "Another installation is already running. Let it finish before starting this one."},
    {1619, "The installation package could not be opened. Check that it exists and that you can read it, "
           "or ask the vendor whether it is a valid installer package."},
    {1620, "The installation package could not be opened. Ask the vendor whether it is a valid installer "
           "package."},
    {1624, "The transforms given for this installation could not be applied. Check that the transform "
           "paths are right."},
    {1625, "System policy forbids this installation. Ask your system administrator."},
    {1633, "This installation package does not support this processor type. Ask your product vendor."},
    {1634, "A component is not used on this computer."},
    {1638, "Another version of this product is already installed, so this version cannot be installed. "
           "Remove the installed version first or configure it through the system's program settings."},
    {1639, "The command line arguments are not valid. Consult the installer's documentation for its "
           "command line help."},
    {1641, "The installer has started a restart to finish the operation. The operation goes on after the "
           "restart."},
    {1642, "The upgrade patch cannot be installed: the program it upgrades is missing, or the patch "
           "updates a different version of that program. Check that the program to be upgraded is on this "
           "computer and that you have the right patch."},
    {3010, "A restart is required to finish the changes. The system must be restarted for them to take "
           "effect."},
};

// The code the system's message lookup reports for a number it has no text
// for.
constexpr int kMessageNotFound = 317;

} // namespace

void GetWindowsErrorMessage(int errorCode, std::string& message) {
    VORK_TRACE("GetWindowsErrorMessage");
    message.clear();
    for (const ErrorText& entry : kErrorTexts) {
        if (entry.code == errorCode) {
            message = entry.text;
            return;
        }
    }
    VORK_LOG(2, "GetWindowsErrorMessage: unable to get Windows error message for errorCode = "
                    << errorCode << ": FormatMessage errorCode = " << kMessageNotFound);
}
