#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: an update of the
# example bundle through Orvane, then its progress, then the resume of an
# update that asked for a restart. Nothing outside build/demo is touched and
# the machine is never restarted.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

export PLIMO_SKIP_REBOOT=1

scripts/install-deps.sh
mkdir -p build
echo "Building (log in build/demo-build.log) ..."
if ! { cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target Orvane zuasvchost plimo64; } \
     >build/demo-build.log 2>&1; then
  tail -n 40 build/demo-build.log
  exit 1
fi

# A private sandbox for the demo's state: windir, temporary files, the resume
# service's unit and the command log all live under build/demo.
demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo/win/TEMP" "$demo/tmp" "$demo/units"
chmod 0700 "$demo/win/TEMP"
export windir="$demo/win" TEMP="$demo/tmp" TMP="$demo/tmp"
export VSUPT_SERVICE_DIR="$demo/units" ZUA_CMDLOG="$demo/cmdlog" PLIMO_DMI_DIR="$demo/no-dmi-tables" PLIMO_MEMFILE="$demo/no-memory-image"
# An empty trust store of the demo's own: the example bundle is not signed,
# and the machine's /etc/plimo/trust.d must not decide the demo.
export PLIMO_TRUST_DIR="$demo/trust.d"
# The restart flag goes here instead of /run; no shutdown inhibitor is asked
# of the machine's login manager.
export PLIMO_REBOOT_REQUIRED_FILE="$demo/reboot-required" PLIMO_SKIP_INHIBIT=1 PLIMO_METRICS_DIR="$demo/metrics"
orvane="$root/build/bin/Orvane"

step() { printf '\n=== %s\n' "$*"; }
run() { # prints the command, runs it, prints its exit code
  printf '$ %s\n' "$*"
  local rc=0
  "$@" || rc=$?
  printf '\n[exit code %d]\n' "$rc"
}

step "main job: update of the example bundle (every package checked against its SHA-256 digest)"
run "$orvane" -update -path "$root/examples/bundle/bundle.xml" -verify digests

step "the restart it leaves undone is flagged the Debian way"
ls -l "$PLIMO_REBOOT_REQUIRED_FILE"
cat "$PLIMO_REBOOT_REQUIRED_FILE.pkgs"

step "progress of the update (it has ended, so no update is in progress)"
run "$orvane" -progress

# An update that may restart the machine: the service host sends the plug-in
# the keys Orvane has no options for ("reboot", "updateid"). The network
# driver asks for a restart, so the update installs the resume service and
# "restarts" (PLIMO_SKIP_REBOOT turns the restart into a log record).
rm -f "$TEMP/EX-NIC-210.installed"
step "an update that asks for a restart"
run "$root/build/bin/zuasvchost" plimo zuacmd=update bundlepath="$root/examples/bundle" bundle=bundle.xml \
  zuausrinfo=demo reboot=true updateid=DEMO-1
step "the resume service it installed"
cat "$VSUPT_SERVICE_DIR/plimo.service"

step "progress while the update waits for its resume (status 3082, which -progress reports as exit code 255)"
run "$orvane" -progress

# What the machine would run after the restart: the unit's ExecStart line.
step "the resume after the restart (status 3087: the tar.gz package is always skipped)"
read -r -a resume <<<"$(sed -n 's/^ExecStart=//p' "$VSUPT_SERVICE_DIR/plimo.service")"
run "${resume[@]}"
step "after the resume: no unit left, the final log of the update is kept"
ls -l "$VSUPT_SERVICE_DIR" "$windir/TEMP"
run "$root/build/bin/zuasvchost" plimo zuacmd=progress updateid=DEMO-1
