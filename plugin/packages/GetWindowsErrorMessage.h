#pragma once
#include <string>

// The English text of an installer or system error code, without leading or
// trailing white space; the empty text (and a logged failure) for a code
// without a text.
void GetWindowsErrorMessage(int errorCode, std::string& message);
