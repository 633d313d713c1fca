#!/usr/bin/env bash
# The real-boot test: updates that restart a machine for real. A minimal
# Debian root file system (built once with mmdebstrap, kept in the work
# folder) gets the Debian package and the files under root/, and is booted
# with systemd-nspawn: systemd as PID 1, dbus and logind running. A restart
# the update asks for ends systemd-nspawn with 133 and the machine is booted
# again, so the resume unit is started by systemd at boot, as on a server.
# Every boot is bounded; a machine that must die is killed whole (its PID 1).
#
#   tests/realboot/run.sh <plimo .deb> [work folder, default build/realboot]
#   tests/realboot/run.sh --prepare [work folder]
#
# --prepare only builds the root file system (for the packages the Debian
# package is known to need), so that a test run can have it built while it
# builds everything else.
#
# Each scenario is checked from what the machine kept: its boot ids, the
# stand-in packages' trace, the watch of the state folder, how each boot
# ended, its journal. The last line is "realboot: N passed, M failed".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prepare=no
if [[ ${1:-} == --prepare ]]; then
  prepare=yes
  shift
else
  deb=$(realpath "${1:?usage: run.sh <plimo .deb> [work folder]}")
  shift
fi
work=$(mkdir -p "${1:-build/realboot}" && realpath "${1:-build/realboot}")

skip() {
  echo "realboot: skipped: $*"
  echo "realboot: 0 passed, 0 failed (skipped: $*)"
  exit 0
}
[[ $(id -u) -eq 0 ]] || skip "systemd-nspawn boots a machine only as root"
command -v systemd-nspawn >/dev/null || skip "no systemd-nspawn (Debian package systemd-container)"
command -v mmdebstrap >/dev/null || skip "no mmdebstrap"
unshare --pid --mount --fork --mount-proc true 2>/dev/null || skip "no PID and mount namespaces here"

log() { printf '%s\n' "$*" >&2; }

# --- the root file system -------------------------------------------------

# What the test needs, and what the package needs (its Depends, without
# versions); the package's usual needs are known, so --prepare can start early.
include=(systemd systemd-sysv dbus inotify-tools libarchive13 libc6 libgcc-s1 libssl3 libstdc++6 libsystemd0 libxml2
  zlib1g)
if [[ $prepare == no ]]; then
  # shellcheck disable=SC2207
  include+=($(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed -E 's/\(.*\)//; s/\|.*//; s/[[:space:]]//g' | grep -v '^$'))
fi
include=$(printf '%s\n' "${include[@]}" | sort -u | paste -sd, -)
key=$(printf '%s' "$include" | sha256sum | cut -c1-16)
base="$work/base-$key"
if [[ ! -e $base/.complete ]]; then
  rm -rf "$base"
  log "realboot: building the root file system ($include)"
  started=$SECONDS
  mmdebstrap --quiet --variant=minbase --include="$include" \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' bookworm "$base" >"$work/mmdebstrap.log" 2>&1 ||
    { cat "$work/mmdebstrap.log" >&2; echo "realboot: 0 passed, 1 failed"; exit 1; }
  touch "$base/.complete"
  log "realboot: root file system built in $((SECONDS - started)) s"
fi
[[ $prepare == no ]] || exit 0

# The layer of this run: the package installed on the base, and the test's
# own files. Each machine is an overlay of its own upper folder on this layer
# and the base, so that making and dropping one costs next to nothing.
mounted=()
unmount_all() {
  local m
  for m in "${mounted[@]}"; do umount "$m" 2>/dev/null || true; done
}
trap unmount_all EXIT

overlay() { # <folder> <lower folders, colon-separated>
  local folder=$1 lower=$2
  umount "$folder/root" 2>/dev/null || true
  rm -rf "$folder"
  mkdir -p "$folder/upper" "$folder/work" "$folder/root"
  mount -t overlay overlay -o "lowerdir=$lower,upperdir=$folder/upper,workdir=$folder/work" "$folder/root" || return 1
  mounted+=("$folder/root")
}

layer="$work/layer"
overlay "$layer" "$base" || skip "no overlay file system here"
cp "$deb" "$layer/root/var/tmp/plimo.deb"
if ! systemd-nspawn -q --register=no --keep-unit -D "$layer/root" dpkg -i /var/tmp/plimo.deb >"$work/dpkg.log" 2>&1; then
  cat "$work/dpkg.log" >&2
  echo "realboot: 0 passed, 1 failed"
  exit 1
fi
rm -f "$layer/root/var/tmp/plimo.deb"
cp -a "$here/root/." "$layer/root/"
mkdir -p "$layer/root/var/tmp/rb" "$layer/root/srv/rb" "$layer/root/var/log/journal" \
  "$layer/root/etc/systemd/system/multi-user.target.wants"
ln -sf /etc/systemd/system/plimo-rb-watch.service "$layer/root/etc/systemd/system/multi-user.target.wants/"
ln -sf /etc/systemd/system/plimo-rb-driver.service "$layer/root/etc/systemd/system/multi-user.target.wants/"
umount "$layer/root"

# A machine of one scenario; its root file system is <folder>/root.
machine() { # <folder>
  overlay "$1" "$layer/upper:$base"
}

# One boot, bounded: answers systemd-nspawn's exit code (133 for a restart,
# 0 for a power-off), or "killed" when the package named by kill_at ("name
# run") announced that it hangs and the machine was killed meanwhile, or
# "timeout".
boot() { # <root> <seconds> [kill_at]
  local root=$1 limit=$2 kill_at=${3:-} pid rc
  systemd-nspawn -q -b --register=no --keep-unit --console=pipe -D "$root" </dev/null >>"$root.console.log" 2>&1 &
  pid=$!
  local deadline=$((SECONDS + limit))
  while kill -0 "$pid" 2>/dev/null; do
    if [[ -n $kill_at ]] && grep -qx "$kill_at" "$root/var/tmp/rb/hanging" 2>/dev/null; then
      kill_machine "$pid"
      echo killed
      return
    fi
    if ((SECONDS > deadline)); then
      kill_machine "$pid"
      echo timeout
      return
    fi
    sleep 0.1
  done
  rc=0
  wait "$pid" || rc=$?
  echo "$rc"
}

# Kills the machine whole, as a crash would: its PID 1 with SIGKILL ends
# every process of its PID namespace; then systemd-nspawn ends.
kill_machine() { # <systemd-nspawn pid>
  local pid=$1 child
  for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do kill -KILL "$child" 2>/dev/null || true; done
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# --- checks ----------------------------------------------------------------

failures=()
fail() { failures+=("$scenario: $*"); log "realboot: FAIL $scenario: $*"; }

status_of() { sed -n 's/.*<SMStatus result="\([0-9]*\)".*/\1/p' "$1" 2>/dev/null | head -n 1 || true; }

# Every promise about a restart that the machine can show.
check() { # <root> <caller yes|no> <boots> <final status> <answer statuses|-> <package:runs ...>
  local root=$1 caller=$2 boots=$3 final=$4 answer=$5
  shift 5
  local rb="$root/var/tmp/rb" id n
  n=$(wc -l <"$rb/boots" 2>/dev/null || echo 0)
  [[ $n -eq $boots ]] || fail "booted $n times, expected $boots"
  [[ $(status_of "$rb/final.xml") == "$final" ]] || fail "final status $(status_of "$rb/final.xml"), expected $final"
  if [[ $answer != - ]]; then
    # The caller has the whole answer of the update that restarted.
    [[ $(cat "$rb/answer-1.rc" 2>/dev/null) == 0 ]] || fail "the update's caller got exit code $(cat "$rb/answer-1.rc" 2>/dev/null)"
    grep -q '</BundleLog>' "$rb/answer-1.xml" 2>/dev/null || fail "the update's answer did not reach its caller whole"
    [[ " $answer " == *" $(status_of "$rb/answer-1.xml") "* ]] ||
      fail "the update answered $(status_of "$rb/answer-1.xml"), expected one of $answer"
  fi
  local expected name runs
  for expected in "$@"; do
    name=${expected%%:*} runs=${expected#*:}
    [[ $(grep -c "^$name " "$rb/trace") -eq $runs ]] || fail "$name ran $(grep -c "^$name " "$rb/trace") times, expected $runs"
  done
  # Packages run under the update's inhibitor and never inherit it.
  grep -v ' held=1 inherited=0 ' "$rb/trace" | sed 's/^/  /' | grep . && fail "a package ran without the inhibitor, or inherited it"
  # Nothing in the state folder changes once the restart is asked for: the
  # schedule file of logind, or the flag the caller waits for.
  local request_pattern='^/run/systemd/shutdown/scheduled (MOVED_TO|CREATE|CLOSE_WRITE)'
  [[ $caller == yes ]] && request_pattern='^/run/reboot-required(\.pkgs)? '
  for id in $(cat "$rb/boots"); do
    local watch="$rb/watch-$id.log"
    [[ -s $watch ]] || { fail "no watch of boot $id"; continue; }
    local request
    request=$(grep -nE "$request_pattern" "$watch" | head -n 1 | cut -d: -f1 || true)
    [[ -n $request ]] || continue
    if tail -n +"$request" "$watch" | grep -q '^/var/lib/plimo/'; then
      fail "the state folder changed after the restart request in boot $id:"
      tail -n +"$request" "$watch" | grep '^/var/lib/plimo/' | head -n 5 | sed 's/^/  /' >&2
    fi
    # The journal is folded into the log before the restart.
    grep -q 'BAUpdate.xml.journal ' "$rb/end-$id" 2>/dev/null && fail "boot $id ended with the journal not folded"
  done
  # No unit ever failed, at boot or at its shutdown.
  for id in $(cat "$rb/boots"); do
    [[ -e $rb/end-$id ]] || continue # a killed boot has no end
    sed -n '/^failed:/,/^resume unit:/p' "$rb/end-$id" | grep -vE '^(failed|resume unit):' | grep . &&
      fail "a unit failed in boot $id"
    grep -E '^Result=' "$rb/end-$id" | grep -qv 'Result=success' && fail "the resume unit ended with $(grep '^Result=' "$rb/end-$id") in boot $id"
  done
  systemd-nspawn -q --register=no --keep-unit -D "$root" journalctl --no-pager -o short-monotonic >"$root.journal" 2>&1 || true
  grep -E 'plimo.service: .*(Failed with result|code=killed|status=15)' "$root.journal" | head -n 5 | grep . && fail "the journal records a failed resume unit"
  # Nothing is left over.
  [[ -e $root/etc/systemd/system/plimo.service ]] && fail "the resume unit is left installed"
  [[ -e $root/etc/systemd/system/multi-user.target.wants/plimo.service ]] && fail "the resume unit is left enabled"
  [[ -e $root/var/lib/plimo/TEMP/BAUpdate.xml ]] && fail "the internal log is left behind"
  return 0
}

# --- scenarios -------------------------------------------------------------

passed=0
run_scenario() { # <name> <keys> <caller yes|no> <kill_at|-> <package=codes,...> -- <check args...>
  scenario=$1
  local keys=$2 caller=$3 kill_at=$4 packages=$5 root="$work/machine-$1/root" started=$SECONDS
  shift 5
  [[ $1 == -- ]] && shift
  local before=${#failures[@]}
  machine "$work/machine-$scenario" || { fail "the machine could not be made"; return; }
  local made=$((SECONDS - started))
  local rb="$root/var/tmp/rb" contents="" package name i=0
  printf 'ID=RB-%s\nKEYS="%s"\nCALLER=%s\n' "$scenario" "$keys" "$caller" >"$rb/scenario"
  for package in ${packages//,/ }; do
    name=${package%%=*}
    i=$((i + 1))
    cp "$here/root/usr/local/sbin/rb-package" "$root/srv/rb/$name.sh"
    tr ' ' '\n' <<<"${package#*=}" | tr '/' '\n' >"$root/srv/rb/$name.codes"
    contents+="<Package releaseID=\"RB$i\" path=\"$name.sh\" packageType=\"LWXP\"/>"
  done
  printf '<?xml version="1.0"?>\n<SoftwareBundle><Contents>%s</Contents></SoftwareBundle>\n' "$contents" >"$root/srv/rb/bundle.xml"

  local boots=0 result outcomes=""
  while ((boots < 8)); do
    boots=$((boots + 1))
    result=$(boot "$root" 90 "$([[ $kill_at != - ]] && echo "$kill_at")")
    outcomes+=" $result"
    case $result in
    133) ;;
    killed) kill_at=- ;;
    0) break ;;
    *) fail "boot $boots ended with $result"; break ;;
    esac
  done
  check "$root" "$caller" "$@"
  # Every restart of the update's own went through logind: the boot it ended
  # has logind's schedule file in its watch.
  local index=0 outcome id
  for outcome in $outcomes; do
    index=$((index + 1))
    [[ $outcome == 133 && $caller == no ]] || continue
    id=$(sed -n "${index}p" "$rb/boots")
    grep -qE '^/run/systemd/shutdown/scheduled ' "$rb/watch-$id.log" 2>/dev/null ||
      fail "boot $index restarted, but not through logind"
  done
  # Every answer the resume unit printed reached the journal whole.
  grep -E 'zuasvchost\[[0-9]+\]: <BundleLog' "$root.journal" | grep -v '</BundleLog>' | head -n 3 | grep . &&
    fail "a resume's answer did not reach the journal whole"
  # Each package's runs, by the boot (1, 2, ...) they ran in.
  local runs
  runs=$(awk 'NR == FNR { gsub("-", "", $0); boot[$0] = FNR; next }
              { id = $3; gsub("-", "", id); seen[$1] = seen[$1] (seen[$1] == "" ? "" : ",") boot[id] }
              END { for (p in seen) printf " %s@%s", p, seen[p] }' "$rb/boots" "$rb/trace" 2>/dev/null)
  log "realboot: $scenario: boots ended:$outcomes; package runs by boot:$runs; final status $(status_of "$rb/final.xml"); $((SECONDS - started)) s ($made s to make the machine)"
  ((${#failures[@]} == before)) && passed=$((passed + 1))
  return 0
}

started=$SECONDS
# Two restarts: a package that needs one (2), and one that must run again
# after one (4) and then needs another (2).
run_scenario two-restarts "reboot=true" no - "a=2/0,b=4/2/0" -- 3 0 "3083" a:2 b:3
# The caller restarts the machine when the flag says so.
run_scenario caller-restarts "callerreboot=true" yes - "c=2/0" -- 2 0 "3082" c:2
# A package that answers 2 on every run uses up the three restarts.
run_scenario restart-limit "reboot=true" no - "d=2" -- 4 3072 "3082" d:4
# The machine dies while a package of a resume runs: the resume unit runs it
# once more on its entry at the next boot, and finishes.
run_scenario killed-in-resume "reboot=true" no "e 2" "e=2/hang/0" -- 3 0 "3082" e:3
# The machine dies during the first update (no unit yet): the next progress
# keeps the record as interrupted.
run_scenario killed-in-update "reboot=true" no "f 1" "f=hang/0" -- 2 3079 - f:1

for f in "${failures[@]}"; do log "  $f"; done
log "realboot: $((SECONDS - started)) s"
echo "realboot: $passed passed, ${#failures[@]} failed"
((${#failures[@]} == 0))
