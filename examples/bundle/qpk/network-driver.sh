#!/bin/sh
# Stand-in for an update program of the bundle. The applicator starts it as
#   network-driver.sh [/f] /s /l=<log file> [installer arguments]
# It writes its log to the /l= file and reports its outcome in its exit code:
# 0 success, 1 failure, 2 reboot required, 4 resume after reboot required.
#
# The first run installs the driver and asks for a restart (exit 2). The run
# after the restart finds the driver installed and succeeds (exit 0). The
# "installed" mark lives in the temporary directory, so a fresh TEMP starts
# over.
log=
for arg in "$@"; do
  case "$arg" in
    /l=*) log="${arg#/l=}" ;;
  esac
done
mark="${TEMP:-${TMPDIR:-/tmp}}/EX-NIC-210.installed"
if [ -f "$mark" ]; then
  message="Network driver EX-NIC-210: version 2.1.0 is loaded; nothing left to do."
  status=0
else
  : > "$mark"
  message="Network driver EX-NIC-210: version 2.1.0 installed; a restart is needed to load it."
  status=2
fi
if [ -n "$log" ]; then
  {
    echo "$message"
    echo "arguments: $*"
  } > "$log"
fi
exit $status
