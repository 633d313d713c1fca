#!/bin/sh
# Stand-in for an update program of the bundle. The applicator starts it as
#   firmware-update.sh [/f] /s /l=<log file> [installer arguments]
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
    echo "Firmware EX-FW-100: version 1.0.0 applied."
    echo "arguments: $*"
  } > "$log"
fi
exit 0
