#!/usr/bin/env bash
# Times a whole "Orvane -update" over a bundle of N no-op QPK programs against
# a plain loop that starts the same N programs with the same arguments, for
# N = 100 and 1,000, and prints both times and their ratio. When strace is
# installed, a second update of each bundle runs under it and the disk work of
# the status log is printed: the bytes written to the internal log's files,
# and the fsync and fdatasync calls, in all and per package. Then
# bench/private-copy.sh times the update of one 100 MB package with and
# without a sha256 digest: the difference is what the digest costs (the check
# up front, and the private copy, hashed as it is made, that then runs).
#
#   bench/run.sh [build-dir]      (default: build/ beside this script's parent)
#
# Everything the update writes goes to a temporary directory that is removed
# at the end; the machine is never restarted (PLIMO_SKIP_REBOOT).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-"$here/../build"}
build=$(cd "$build" && pwd)
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
# An empty trust store: the machine's own must not decide the figures.
export PLIMO_TRUST_DIR="$work/trust.d"
unset PLIMO_LOGLEVEL PLIMO_LOGTARGET PLIMO_CMDLINE_TEST
mkdir -p "$windir/TEMP" "$TEMP" "$VSUPT_SERVICE_DIR"
chmod 0700 "$windir/TEMP"
qpklog="$windir/TEMP/QPK.log"

now() { date +%s.%N; }

# A no-op QPK program: writes its "/l=" log and succeeds.
noop_qpk() {
    cat >"$1" <<'QPK'
#!/bin/sh
for a; do case "$a" in /l=*) : > "${a#/l=}";; esac; done
exit 0
QPK
    chmod +x "$1"
}

run_bench() {
    local n=$1 dir="$work/bundle-$1" i
    mkdir -p "$dir"
    {
        echo '<?xml version="1.0"?>'
        echo '<SoftwareBundle><Contents>'
        for ((i = 1; i <= n; i++)); do
            noop_qpk "$dir/p$i.exe"
            echo "<Package releaseID=\"P$i\" path=\"p$i.exe\" packageType=\"LWXP\"/>"
        done
        echo '</Contents></SoftwareBundle>'
    } >"$dir/bundle.xml"

    local start end rc=0
    start=$(now)
    "$orvane" -update -path "$dir/bundle.xml" -logc "$work/result-$n.xml" >/dev/null || rc=$?
    end=$(now)
    if ((rc != 0)); then
        echo "bench: Orvane -update on $n packages ended with $rc" >&2
        exit 1
    fi
    local update_time
    update_time=$(echo "$start $end" | awk '{ printf "%.3f", $2 - $1 }')

    # The same programs with the same arguments, started one after another.
    start=$(now)
    for ((i = 1; i <= n; i++)); do
        "$dir/p$i.exe" /s "/l=$qpklog"
    done
    end=$(now)
    local loop_time
    loop_time=$(echo "$start $end" | awk '{ printf "%.3f", $2 - $1 }')

    echo "$n $update_time $loop_time" | awk '{
        printf "N=%-5d  Orvane -update: %8.3f s   plain loop: %8.3f s   ratio: %.2f\n", $1, $2, $3, ($3 > 0 ? $2 / $3 : 0) }'
    disk_work "$n" "$dir"
}

# The same update once more under strace (one trace file per process, the
# descriptors named): the bytes written to the internal log's files
# (BAUpdate.xml and everything named after it), and every fsync and fdatasync
# of the update's processes.
disk_work() {
    local n=$1 dir=$2 trace="$work/trace-$1"
    if ! command -v strace >/dev/null; then
        echo "N=$n  disk work: not measured (no strace)"
        return
    fi
    strace -f -ff -qq -y -e trace=write,pwrite64,writev,fsync,fdatasync,rename,renameat,renameat2 -o "$trace" \
        "$orvane" -update -path "$dir/bundle.xml" -logc "$work/result-$n.xml" >/dev/null || true
    cat "$trace".* | awk -v n="$n" -v logname="$windir/TEMP/BAUpdate.xml" '
        /^(fsync|fdatasync)\(/ { syncs++ }
        /^rename/ { renames++ }
        /^(write|pwrite64|writev)\(/ && index($0, "<" logname) > 0 && $NF ~ /^[0-9]+$/ { bytes += $NF }
        END { printf "N=%-5d  status log disk work: %d bytes (%.0f per package), %d fsync/fdatasync (%.2f per package), %d renames\n",
                     n, bytes, bytes / n, syncs, syncs / n, renames }'
    rm -f "$trace".*
}

echo "build: $build"
for n in 100 1000; do
    run_bench "$n"
done
"$here/private-copy.sh" "$build"
