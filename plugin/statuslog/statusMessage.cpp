#include "statusMessage.h"

#include "StatusCode.h"

const char* statusMessage(int code) { return StatusCode::message(code); }
