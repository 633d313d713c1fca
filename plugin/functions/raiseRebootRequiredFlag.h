#pragma once

// Tells the machine's administrators and their tools, the Debian way, that
// a restart is needed: creates the flag file /run/reboot-required (or the
// file named by PLIMO_REBOOT_REQUIRED_FILE) empty with mode 0644 unless it
// exists, and adds the line "plimo" to the ".pkgs" file beside it unless
// that line is there. Never removes or empties what another program wrote.
// False, after a level-1 record, when either file cannot be written; the
// update goes on either way.
[[nodiscard]] bool raiseRebootRequiredFlag();
