#!/usr/bin/env bash
# Times "Orvane -update" of one 100 MB QPK package without and with a sha256
# digest, the fastest of five runs each, and prints what the digest costs: the
# check when the update opens the bundle, and the private copy into the state
# folder (hashed as it is copied) that then runs.
#
#   bench/private-copy.sh [build-dir] [size-in-MB]   (default: build/, 100)
#
# Everything the update writes goes to a temporary directory that is removed
# at the end; the machine is never restarted (PLIMO_SKIP_REBOOT).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-"$here/../build"}
build=$(cd "$build" && pwd)
size_mb=${2:-100}
# shellcheck source=bench/sandbox.sh
source "$here/sandbox.sh"

now() { date +%s.%N; }

# The fastest of five "Orvane -update" runs of a bundle, in seconds.
best_update() {
    local best="" i start end
    for i in 1 2 3 4 5; do
        start=$(now)
        "$orvane" -update -path "$1" -logc "$work/result.xml" >/dev/null
        end=$(now)
        best=$(echo "$start $end ${best:-1e9}" | awk '{ t = $2 - $1; printf "%.3f", (t < $3 ? t : $3) }')
    done
    echo "$best"
}

dir="$work/bundle"
mkdir -p "$dir"
# A no-op program that writes its "/l=" log, followed by data the shell
# never reads.
cat >"$dir/big.exe" <<'QPK'
#!/bin/sh
for a; do case "$a" in /l=*) : > "${a#/l=}";; esac; done
exit 0
QPK
head -c $((size_mb * 1024 * 1024)) /dev/urandom >>"$dir/big.exe"
chmod +x "$dir/big.exe"
digest=$(sha256sum "$dir/big.exe" | cut -d' ' -f1)
printf '<?xml version="1.0"?>\n<SoftwareBundle><Contents><Package releaseID="BIG" path="big.exe"/></Contents></SoftwareBundle>\n' \
    >"$dir/plain.xml"
printf '<?xml version="1.0"?>\n<SoftwareBundle><Contents><Package releaseID="BIG" path="big.exe" sha256="%s"/></Contents></SoftwareBundle>\n' \
    "$digest" >"$dir/checked.xml"
plain=$(best_update "$dir/plain.xml")
checked=$(best_update "$dir/checked.xml")
echo "$size_mb $plain $checked" | awk '{
    printf "%d MB package  without digest: %7.3f s   with digest (checked, copied privately): %7.3f s   the digest adds: %.3f s\n", $1, $2, $3, $3 - $2 }'
