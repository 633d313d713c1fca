#!/usr/bin/env bash
# Times a whole "Orvane -update" over a bundle of N QPK programs that write a
# short log, as real ones do, against a lean loop: one sh script that starts
# the same N programs with the same arguments, one line each, without a
# subshell per program. For N = 100, 1,000 and 10,000 it prints both times per
# package and their ratio, and (when strace is installed) the durable writes
# of the update (fsync and fdatasync of all its processes) per package. Then
# bench/private-copy.sh times the update of one 100 MB package with and
# without a sha256 digest: the difference is what the digest costs (the check
# up front, and the private copy, hashed as it is made, that then runs).
#
#   bench/run.sh [build-dir] [N...]   (default: build/ beside this script's
#                                      parent; N: 100 1000 10000)
#
# Everything the update writes goes to a temporary directory beside the
# build's own files (the same disk) that is removed at the end; the machine is
# never restarted (PLIMO_SKIP_REBOOT).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-"$here/../build"}
build=$(cd "$build" && pwd)
shift || true
sizes=("$@")
((${#sizes[@]})) || sizes=(100 1000 10000)
# shellcheck source=bench/sandbox.sh
source "$here/sandbox.sh"
qpklog="$windir/TEMP/QPK.log"

now() { date +%s.%N; }

# A QPK program that writes a short log to its "/l=" file, marker lines
# included, and succeeds.
logging_qpk() {
    cat >"$1" <<'QPK'
#!/bin/sh
for a; do
    case "$a" in
    /l=*) printf '=== Logging started: now ===\nInstalling the update.\nThe update was applied.\n=== Logging stopped: now ===\n' >"${a#/l=}" ;;
    esac
done
exit 0
QPK
    chmod +x "$1"
}

run_bench() {
    local n=$1 dir="$work/bundle-$1" i
    mkdir -p "$dir"
    logging_qpk "$dir/p.sh"
    {
        echo '<?xml version="1.0"?>'
        echo '<SoftwareBundle><Contents>'
        for ((i = 1; i <= n; i++)); do
            ln "$dir/p.sh" "$dir/p$i.exe"
            echo "<Package releaseID=\"P$i\" path=\"p$i.exe\" packageType=\"LWXP\"/>"
        done
        echo '</Contents></SoftwareBundle>'
    } >"$dir/bundle.xml"
    # The lean loop: the same programs and arguments, one line each.
    {
        echo '#!/bin/sh'
        for ((i = 1; i <= n; i++)); do echo "'$dir/p$i.exe' /s '/l=$qpklog'"; done
    } >"$dir/loop.sh"

    local start end rc=0
    start=$(now)
    "$orvane" -update -path "$dir/bundle.xml" -logc "$work/result-$n.xml" >/dev/null || rc=$?
    end=$(now)
    if ((rc != 0)); then
        echo "bench: Orvane -update on $n packages ended with $rc" >&2
        exit 1
    fi
    local update_time loop_time
    update_time=$(echo "$start $end" | awk '{ printf "%.3f", $2 - $1 }')
    start=$(now)
    sh "$dir/loop.sh"
    end=$(now)
    loop_time=$(echo "$start $end" | awk '{ printf "%.3f", $2 - $1 }')

    echo "$n $update_time $loop_time" | awk '{
        printf "N=%-6d update: %8.3f s (%.3f ms/package)   lean loop: %8.3f s (%.3f ms/package)   ratio: %.2f\n",
               $1, $2, 1000 * $2 / $1, $3, 1000 * $3 / $1, ($3 > 0 ? $2 / $3 : 0) }'
    durable_writes "$n" "$dir"
    rm -rf "$dir"
}

# The same update once more under strace: every fsync and fdatasync of the
# update's processes (the packages themselves make none), in all and per
# package, and the bytes written to the internal log's files.
durable_writes() {
    local n=$1 dir=$2 trace="$work/trace-$1"
    if ! command -v strace >/dev/null; then
        echo "N=$n  durable writes: not measured (no strace)"
        return
    fi
    strace -f -qq -y -e trace=write,fsync,fdatasync -o "$trace" \
        "$orvane" -update -path "$dir/bundle.xml" -logc "$work/result-$n.xml" >/dev/null || true
    awk -v n="$n" -v logname="$windir/TEMP/BAUpdate.xml" '
        / (fsync|fdatasync)\(/ { syncs++ }
        / write\(/ && index($0, "<" logname) > 0 && $NF ~ /^[0-9]+$/ { bytes += $NF }
        END { printf "N=%-6d durable writes: %d fsync/fdatasync (%.3f per package); status log: %.0f bytes per package\n",
                     n, syncs, syncs / n, bytes / n }' "$trace"
    rm -f "$trace"
}

echo "build: $build"
for n in "${sizes[@]}"; do
    run_bench "$n"
done
[[ -n "${BENCH_NO_DIGEST:-}" ]] || "$here/private-copy.sh" "$build"
