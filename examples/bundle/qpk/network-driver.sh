#!/bin/sh
# Stand-in for an update program of the bundle. The applicator starts it as
#   network-driver.sh [/f] /s /l=<log file> [installer arguments]
# It writes its log to the /l= file and reports its outcome in its exit code:
# 0 success, 1 failure, 2 reboot required, 4 resume after reboot required.
log=
for arg in "$@"; do
  case "$arg" in
    /l=*) log="${arg#/l=}" ;;
  esac
done
if [ -n "$log" ]; then
  {
    echo "Network driver EX-NIC-210: version 2.1.0 installed; a restart is needed to load it."
    echo "arguments: $*"
  } > "$log"
fi
exit 2
