#!/usr/bin/env bash
# Drives the real Orvane and zuasvchost of a test build (its support library
# honours VSUPT_FAULT) into every save fault and kill point it can reach, in a
# sandbox, and checks after each run what a restart, a crash or a full disk
# must never cost:
#   - every status log on disk parses (BAUpdate.xml and the final logs), and
#     no final log holds an entry still in progress;
#   - a run whose save failed never answers 0 (a failed flush of the unit
#     folder after the unit's removal is no save: the update's record is
#     durable, and 0 is its honest answer), and a failed history entry,
#     written after the answer is made, never changes the answer;
#   - no temporary file of a save outlives the next save;
#   - "progress" answers, and the next update is not blocked and succeeds;
#   - no journal of the internal log outlives the calls that follow.
# Faults: the N-th write, fsync (or fdatasync) or rename fails, is cut short,
# or kills the process: in a whole write of a log, in a journal record, and
# in the middle of the run, where two large package logs make the journal
# outgrow the log and fold into it; kills at random moments; file-size limits
# (a disk that fills up).
#
#   scripts/fault-sweep.sh [build-dir] [random-kills] [calls]
#
# calls bounds how many calls of each kind are tried per fault (default: all
# until none is left, up to 200); CI runs a bounded sweep.
#
# Needs xmllint (libxml2-utils). Never restarts the machine.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
randomKills=${2:-60}
maxCalls=${3:-200}
orvane="$build/bin/Orvane"
svchost="$build/bin/zuasvchost"
for tool in xmllint prlimit setsid; do
    command -v $tool >/dev/null || { echo "fault-sweep: needs $tool (libxml2-utils, util-linux)" >&2; exit 2; }
done
[[ -x "$orvane" && -x "$svchost" ]] || { echo "fault-sweep: build $build first" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/plimo-faults-XXXXXX")
trap 'rm -rf "$work"' EXIT
export windir="$work/win" TEMP="$work/tmp" TMP="$work/tmp" TMPDIR="$work/tmp"
export VSUPT_SERVICE_DIR="$work/units" ZUA_CMDLOG="$work/cmdlog" XDG_STATE_HOME="$work/state"
export PLIMO_SKIP_REBOOT=1 PLIMO_SKIP_NOTIFICATION=1 PLIMO_MEMFILE="$work/no-memory-image" PLIMO_DMI_DIR="$work/no-dmi-tables"
export PLIMO_REBOOT_REQUIRED_FILE="$work/reboot-required" PLIMO_METRICS_DIR="$work/metrics"
unset PLIMO_LOGLEVEL PLIMO_LOGTARGET PLIMO_CMDLINE_TEST VSUPT_FAULT
state="$windir/TEMP"
bundle="$work/bundle"
mkdir -p "$state" "$TEMP" "$VSUPT_SERVICE_DIR" "$bundle"
chmod 0700 "$state"

runs=0 kills=0 injected=0 lost=0
# The name of a history entry (and of its temporary file), as a fault names it.
historyEntry='^[0-9]{8}T[0-9]{6}\.[0-9]{9}Z-[0-9]+-(update|resume)\.xml'

problem() { lost=$((lost + 1)); echo "LOST: $*" >&2; }
statusOf() { sed -n 's/.*<SMStatus result="\(-\{0,1\}[0-9]*\)".*/\1/p' <<<"$1" | head -1; }

# Three packages; "b" asks for a restart and a resume on its first run of
# each update; "b" and "c" write 40 kB logs.
qpk() { # <name> <first exit code> [log bytes]
    cat >"$bundle/$1.sh" <<EOF
#!/bin/sh
for a; do case "\$a" in /l=*) echo "$1 output" > "\${a#/l=}"; head -c ${3:-0} /dev/zero | tr '\\0' x >> "\${a#/l=}";; esac; done
if [ -f "$bundle/$1.again" ]; then rm -f "$bundle/$1.again"; exit 0; fi
[ "$2" = 4 ] && : > "$bundle/$1.again"
exit $2
EOF
    chmod +x "$bundle/$1.sh"
}
qpk a 0; qpk b 4 40000; qpk c 0 40000
cat >"$bundle/bundle.xml" <<EOF
<?xml version="1.0"?>
<SoftwareBundle><Contents>
<Package releaseID="A" path="a.sh"/><Package releaseID="B" path="b.sh"/><Package releaseID="C" path="c.sh"/>
</Contents></SoftwareBundle>
EOF

update() { "$svchost" plimo zuacmd=update "bundlepath=$bundle" bundle=bundle.xml zuausrinfo=sweep "$@"; }

# What must hold after any run, faulted or killed.
checkState() { # <label>
    local f
    for f in "$state"/*.xml; do
        [[ -e "$f" ]] || continue
        if ! xmllint --noout --nonet "$f" 2>/dev/null || ! grep -q '<BundleLog' "$f"; then
            problem "$1: $(basename "$f") does not parse"
        fi
        [[ $(basename "$f") != BAUpdate.xml ]] && grep -q 'in-progress' "$f" &&
            problem "$1: the final log $(basename "$f") holds an entry in progress"
    done
    ls "$state" | grep -q '\.unreadable-' && problem "$1: a log was unreadable: $(ls "$state" | grep unreadable)"
}

# Then the machine must go on: progress answers, and a fresh update runs to
# its end (a waiting update is resumed first, as after a restart).
recover() { # <label>
    local answer status
    answer=$("$orvane" -progress 2>/dev/null); status=$(statusOf "$answer")
    [[ -n "$status" ]] || problem "$1: progress gave no answer"
    # The machine restarts as often as its unit asks for.
    local round
    for ((round = 0; round < 4; round++)); do
        [[ -e "$VSUPT_SERVICE_DIR/plimo.service" ]] || break
        "$svchost" plimo zuacmd=resume >/dev/null 2>&1
    done
    rm -f "$bundle"/*.again
    answer=$(update reboot=false updateid=NEXT 2>/dev/null); status=$(statusOf "$answer")
    [[ "$status" == 3073 || "$status" == 3074 ]] || problem "$1: the next update answered ${status:-nothing}"
    ls "$state" | grep -q '\.tmp' && problem "$1: temporary files left: $(ls "$state" | grep '\.tmp' | tr '\n' ' ')"
    [[ -e "$state/BAUpdate.xml.journal" ]] && problem "$1: the internal log's journal outlived the calls"
    checkState "$1 (after recovery)"
    "$svchost" plimo zuacmd=clean updateid=NEXT >/dev/null 2>&1
    "$svchost" plimo zuacmd=clean updateid=U1 >/dev/null 2>&1
    rm -f "$bundle"/*.again "$state"/*.unreadable-* "$state"/*.interrupted-*
}

# One run under a fault plan; answers 1 when no fault fired (past the end).
faultRun() { # <plan> <label> <command...>
    local plan=$1 label=$2 answer status err="$work/stderr"
    shift 2
    runs=$((runs + 1))
    answer=$(VSUPT_FAULT=$plan "$@" 2>"$err")
    local rc=$?
    grep -q "VSUPT_FAULT fired" "$err" || { checkState "$label"; recover "$label"; return 1; }
    local hit
    hit=$(sed -n 's/^VSUPT_FAULT fired: //p' "$err" | head -1)
    if [[ $plan == *:kill ]]; then
        kills=$((kills + 1))
        ((rc == 137)) || problem "$label: not killed (exit $rc)"
    else
        injected=$((injected + 1))
        status=$(statusOf "$answer")
        if [[ "$hit" == "$VSUPT_SERVICE_DIR" && "$status" == 0 ]]; then
            : # the unit's removal could not be flushed: the record is durable
        elif [[ "$hit" == "$state/metrics"* ]]; then
            : # the metrics' record of the last update: it costs a clean those figures, never the answer
        elif [[ "$hit" == "$state/history"* || "${hit##*/}" =~ $historyEntry ]]; then
            # The history entry comes last: its loss costs nothing else.
            [[ -n "$status" && "$status" != 3079 ]] ||
                problem "$label: a history entry that failed ($hit) changed the answer to ${status:-nothing}"
        elif [[ "$status" != 3079 ]]; then
            problem "$label: a failed save ($hit) answered ${status:-nothing}, not 3079"
        fi
    fi
    checkState "$label"
    recover "$label"
    return 0
}

sweep() { # <label> <setup function> <command...>
    local label=$1 setup=$2 call action n
    shift 2
    for call in open write fsync rename; do
        for action in fail short kill; do
            [[ $call != write && $action == short ]] && continue
            for ((n = 1; n <= maxCalls; n++)); do
                $setup
                faultRun "$call:$n:$action" "$label $call:$n:$action" "$@" || break
            done
        done
    done
}

# The plain update: no restart, a user log, a final log.
plainSetup() { rm -f "$bundle"/*.again; }
sweep "update" plainSetup update reboot=false updateid=U1 "logtarget=$work/user.xml"

# The resume after a restart: the update leaves its log waiting, then the
# service's command runs under the fault.
resumeSetup() {
    rm -f "$bundle"/*.again
    local status
    status=$(statusOf "$(update reboot=true updateid=U1 2>/dev/null)")
    [[ $status == 3083 ]] || problem "resume setup: the update answered ${status:-nothing}"
}
sweep "resume" resumeSetup "$svchost" plimo zuacmd=resume updateid=U1

# Kills at random moments of whole updates and resumes.
for ((i = 0; i < randomKills; i++)); do
    rm -f "$bundle"/*.again
    runs=$((runs + 1)) kills=$((kills + 1))
    if ((i % 2)); then
        setsid "$svchost" plimo zuacmd=update "bundlepath=$bundle" bundle=bundle.xml zuausrinfo=sweep reboot=true \
            updateid=U1 >/dev/null 2>&1 &
    else
        resumeSetup
        setsid "$svchost" plimo zuacmd=resume updateid=U1 >/dev/null 2>&1 &
    fi
    pid=$!
    sleep "0.$((RANDOM % 3))$((RANDOM % 10))$((RANDOM % 10))"
    kill -KILL -- "-$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    checkState "random kill $i"
    recover "random kill $i"
done

# A disk that fills up: file-size limits, with the signal ignored so that
# every write past the limit fails instead of ending the process.
for limit in 200 600 1000 1500 2000 3000 4000 6000; do
    rm -f "$bundle"/*.again
    runs=$((runs + 1))
    answer=$(prlimit --fsize=$limit env --ignore-signal=XFSZ "$svchost" plimo zuacmd=update \
        "bundlepath=$bundle" bundle=bundle.xml zuausrinfo=sweep updateid=U1 2>/dev/null)
    status=$(statusOf "$answer")
    if [[ "$status" == 3074 ]]; then
        # Everything fitted: the final log must say so.
        grep -q '<SMStatus result="3074"' "$state/U1.xml" 2>/dev/null || problem "fsize $limit: 3074 without its log"
    else
        injected=$((injected + 1))
        [[ "$status" == 3079 ]] || problem "fsize $limit: answered ${status:-nothing}"
    fi
    checkState "fsize $limit"
    recover "fsize $limit"
done

echo "runs: $runs  kills: $kills  injected failures: $injected  lost: $lost"
((lost == 0))
