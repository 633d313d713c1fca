#!/bin/sh
# Fuzzes the SMBIOS table code: builds the libFuzzer target smbios_fuzz with
# clang in build-fuzz/ and runs it for the given number of seconds (default
# 60) over a copy of the seed corpus in tests/data/smbios/. Exits non-zero
# when the fuzzer finds a crash; skips (exit 0) when clang++ is missing.
set -eu

seconds=${1:-60}
case $seconds in
  ''|*[!0-9]*) echo "usage: $0 [seconds]" >&2; exit 2 ;;
esac

if ! command -v clang++ >/dev/null 2>&1 || ! command -v clang >/dev/null 2>&1; then
  echo "fuzz-smbios: clang++ not found, fuzzing skipped"
  exit 0
fi

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-fuzz"
jobs=${PLIMO_FUZZ_JOBS:-2}

cmake -S "$repo" -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DPLIMO_FUZZ=ON -DPLIMO_TESTS=ON >/dev/null
cmake --build "$build" -j"$jobs" --target smbios_fuzz

work=$(mktemp -d "${TMPDIR:-/tmp}/smbios-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
mkdir "$work/corpus" "$work/artifacts"
for seed in "$repo"/tests/data/smbios/*; do
  case $seed in *.py) continue ;; esac
  cp "$seed" "$work/corpus/"
done

status=0
TMPDIR="$work" "$build/tests/bin/smbios_fuzz" \
  -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus" || status=$?

if [ "$status" -ne 0 ]; then
  keep="$build/fuzz-artifacts"
  mkdir -p "$keep"
  cp "$work"/artifacts/* "$keep"/ 2>/dev/null || true
  echo "fuzz-smbios: the fuzzer failed (exit $status); crashing inputs kept in $keep" >&2
  exit 1
fi
echo "fuzz-smbios: ran clean for $seconds seconds"
