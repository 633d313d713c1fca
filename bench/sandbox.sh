# Sourced by the benchmark scripts: checks that "$build" holds a built
# Orvane and plug-in, and makes a sandbox "$work" (removed at exit) that every
# file the update writes goes to. The machine is never restarted
# (PLIMO_SKIP_REBOOT), and neither its firmware tables nor its trust store
# decide the figures.
orvane="$build/bin/Orvane"
if [[ ! -x "$orvane" || ! -e "$build/lib/zua/libplimo64.so" ]]; then
    echo "bench: no built Orvane and plug-in under $build (build the project first)" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/plimo-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

export windir="$work/win"
export TEMP="$work/tmp" TMP="$work/tmp" TMPDIR="$work/tmp"
export VSUPT_SERVICE_DIR="$work/units"
export ZUA_CMDLOG="$work/cmdlog"
export XDG_STATE_HOME="$work/state"
export PLIMO_SKIP_REBOOT=1 PLIMO_SKIP_NOTIFICATION=1 PLIMO_SKIP_INHIBIT=1
export PLIMO_REBOOT_REQUIRED_FILE="$work/reboot-required" PLIMO_METRICS_DIR="$work/metrics"
export PLIMO_MEMFILE="$work/no-memory-image" PLIMO_DMI_DIR="$work/no-dmi-tables"
export PLIMO_TRUST_DIR="$work/trust.d"
unset PLIMO_LOGLEVEL PLIMO_LOGTARGET PLIMO_CMDLINE_TEST
mkdir -p "$windir/TEMP" "$TEMP" "$VSUPT_SERVICE_DIR"
chmod 0700 "$windir/TEMP"
