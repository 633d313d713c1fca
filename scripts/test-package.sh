#!/usr/bin/env bash
# Checks the Debian package and the /usr layout:
#  - builds the package (scripts/package.sh) and runs lintian on it: no error,
#    and every warning explained in doc/guide/debian-package.md;
#  - unpacks it with dpkg-deb -x into a temporary root and updates the example
#    bundle with the unpacked programs: the plug-in is found, and the resume
#    unit names the unpacked service host;
#  - installs the same /usr build into a DESTDIR and updates from there;
#  - renders every manual page without warnings and tries the completion.
# Everything runs sandboxed as the tests do: state, service units and the
# command log stay in a temporary directory, and nothing restarts the machine.
# Ends with the line "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/.."
source_root=$(pwd)
export PLIMO_SKIP_REBOOT=1

passed=0
failed=0
check() { # <description> <command...>
  if "${@:2}"; then
    passed=$((passed + 1))
    echo "ok: $1"
  else
    failed=$((failed + 1))
    echo "FAILED: $1"
  fi
}
finish() {
  echo "$passed passed, $failed failed"
  ((failed == 0))
  exit
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
work=$(realpath "$work")

if ! deb=$(scripts/package.sh 2>"$work/package.log" | tail -n 1) || [[ ! -f $deb ]]; then
  tail -n 40 "$work/package.log"
  check "the package builds" false
  finish
fi
version=$(dpkg-deb -f "$deb" Version)

# lintian: no error; each warning's tag named in the user guide.
lintian "$deb" >"$work/lintian.txt" 2>&1
check "lintian reports no error" bash -c "! grep -q '^E:' '$work/lintian.txt'"
for tag in $(sed -n 's/^W: [^ ]* \([^ ]*\).*/\1/p' "$work/lintian.txt" | sort -u); do
  check "lintian warning $tag is explained in the user guide" grep -q "$tag" doc/guide/debian-package.md
done

# The sandbox of one tree: every variable the tests point at their own directory.
sandbox() { # <directory>
  mkdir -p "$1/win/TEMP" "$1/tmp" "$1/units" "$1/trust"
  chmod 0700 "$1/win/TEMP"
  export windir="$1/win" TEMP="$1/tmp" TMP="$1/tmp" TMPDIR="$1/tmp" HOME="$1" XDG_STATE_HOME="$1/state"
  export VSUPT_SERVICE_DIR="$1/units" ZUA_CMDLOG="$1/cmdlog" PLIMO_MEMFILE="$1/no-memory-image" PLIMO_DMI_DIR="$1/no-dmi-tables"
  export PLIMO_SKIP_NOTIFICATION=1 PLIMO_SKIP_INHIBIT=1 PLIMO_REBOOT_REQUIRED_FILE="$1/reboot-required"
  export PLIMO_METRICS_DIR="$1/metrics"
  export PLIMO_TRUST_DIR="$1/trust"
  unset ZUA_PLUGIN_PATH PLIMO_LOGLEVEL PLIMO_LOGTARGET PLIMO_CMDLINE_TEST NOTIFY_SOCKET
}

# Updates the example bundle with the programs under <root>/usr/bin.
update_from() { # <root> <name>
  local root=$1 name=$2 bin=$1/usr/bin rc=0
  sandbox "$work/$name-state"
  local manager
  manager=$(ldd "$bin/Orvane" | awk '/libzuadb64/ { print $3 }')
  check "$name: Orvane links the data manager of its own tree" \
    test "$(realpath "$manager")" = "$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/libzuadb64.so"
  check "$name: Orvane -version names the plug-in's version" \
    bash -c "'$bin/Orvane' -version | grep -qx 'plug-in plimo $version'"
  "$bin/Orvane" -update -path "$source_root/examples/bundle/bundle.xml" -logc "$TEMP/update.xml" >/dev/null || rc=$?
  check "$name: Orvane updates the example bundle (exit 4, restart required)" test "$rc" -eq 4
  sandbox "$work/$name-restart" # the network driver asks for a restart only once per state
  "$bin/zuasvchost" plimo zuacmd=update bundlepath="$source_root/examples/bundle" bundle=bundle.xml \
    zuausrinfo=ci reboot=true updateid=PKG-1 >/dev/null
  check "$name: the resume unit runs the service host of this tree" \
    grep -qx "ExecStart=$bin/zuasvchost plimo zuacmd=resume updateid=PKG-1" "$VSUPT_SERVICE_DIR/plimo.service"
}

dpkg-deb -x "$deb" "$work/unpacked"
update_from "$work/unpacked" package

DESTDIR="$work/destdir" cmake --install build-deb >/dev/null
update_from "$work/destdir" destdir

for page in "$work"/unpacked/usr/share/man/man*/*; do
  check "man renders $(basename "$page") without warnings" \
    bash -c "[[ -z \$(MANWIDTH=80 man --warnings -l '$page' 2>&1 >/dev/null) ]]"
done

# The completion offers options and, after -path, file names.
completion="$work/unpacked/usr/share/bash-completion/completions/Orvane"
complete_words() { # <word...>: the completions of the last word
  bash -c 'source /usr/share/bash-completion/bash_completion && source "$0" &&
    COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE="$*" && COMP_POINT=${#COMP_LINE} &&
    _comp_plimo_orvane Orvane "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"; echo "${COMPREPLY[*]}"' \
    "$completion" "$@"
}
check "completion offers -path" bash -c "[[ '$(complete_words Orvane -update -pa)' == -path ]]"
check "completion offers the bundle file after -path" \
  bash -c "[[ '$(cd examples/bundle && complete_words Orvane -update -path bund)' == bundle.xml ]]"

finish
