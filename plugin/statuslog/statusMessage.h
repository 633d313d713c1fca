#pragma once

// The user message of a status code; "" for 0, "Unknown status" for a code
// the system does not know. The text lives as long as the program.
const char* statusMessage(int code);
