#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehavior-
# Sanitizer, in build-fuzz/) and runs each for the given number of seconds
# (default 30), PLIMO_FUZZ_JOBS (default 2) at a time:
#
#   scripts/fuzz.sh [seconds] [target...]     targets: see the table below
#   scripts/fuzz.sh --build                   only builds the targets
#
# Each target starts from its seeds in tests/fuzz/seeds/<target>/, the
# corpus it grew in earlier runs (build-fuzz/fuzz/corpus/<target>/) and, when
# present, the outside data in ../shared/realdata (PLIMO_FUZZ_REALDATA names
# another place), which is only read. A crash, a leak, an input that takes
# more than 10 seconds or a broken check of a target fails the run; the input
# is kept in build-fuzz/fuzz/artifacts/<target>/ and its report in
# build-fuzz/fuzz/logs/<target>.log. Ends with "fuzz: N passed, M failed";
# skips (exit 0) when clang++ is missing.
set -euo pipefail

# Never the machine's restart, nor its login manager.
export PLIMO_SKIP_REBOOT=1
export PLIMO_SKIP_INHIBIT=1

build_only=no
if [[ ${1:-} == --build ]]; then
  build_only=yes
  shift
fi
seconds=${1:-30}
if [[ ! $seconds =~ ^[0-9]+$ ]] || ((seconds == 0)); then
  echo "usage: $0 [seconds] [target...]" >&2
  exit 2
fi
shift || true

# target, dictionary (tests/fuzz/dicts), kind of outside data
table=(
  "definition xml xml"
  "relocation xml xml"
  "signature - -"
  "truststore - -"
  "archive zip zip"
  "statuslog xml xml"
  "answer xml xml"
  "history xml xml"
  "smbios - smbios"
)

selected=()
if (($# == 0)); then
  for row in "${table[@]}"; do selected+=("${row%% *}"); done
else
  for wanted in "$@"; do
    found=0
    for row in "${table[@]}"; do [[ ${row%% *} == "$wanted" ]] && found=1; done
    if ((found == 0)); then
      echo "fuzz: no target $wanted" >&2
      exit 2
    fi
    selected+=("$wanted")
  done
fi

if ! command -v clang++ >/dev/null 2>&1 || ! command -v clang >/dev/null 2>&1; then
  echo "fuzz: clang++ not found, fuzzing skipped"
  exit 0
fi

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-fuzz"
jobs=${PLIMO_FUZZ_JOBS:-2}
realdata=${PLIMO_FUZZ_REALDATA:-$repo/../shared/realdata}
fuzz="$build/fuzz"

# Coverage and line tables are all a fuzzer needs; -O1 builds fast.
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_C_FLAGS="-O1 -gline-tables-only" -DCMAKE_CXX_FLAGS="-O1 -gline-tables-only" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DPLIMO_FUZZ=ON -DPLIMO_TESTS=ON -DPLIMO_MANPAGES=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target plimo_fuzzers
[[ $build_only == no ]] || exit 0

mkdir -p "$fuzz/logs" "$fuzz/corpus" "$fuzz/artifacts"
# The targets' sandboxes, in memory where it can be: a status log save
# flushes to disk every time. PLIMO_FUZZ_TMPDIR names another place.
place=${PLIMO_FUZZ_TMPDIR:-/dev/shm}
[[ -d $place && -w $place ]] || place=$build
scratch=$(mktemp -d "$place/plimo-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# The firmware tables of real machines, as the smbios target reads a
# kernel's copy: "K", the size of smbios_entry_point, its bytes, the DMI file.
tables="$scratch/realdata-smbios"
mkdir -p "$tables"
if [[ -d $realdata/smbios ]]; then
  for folder in "$realdata"/smbios/*/; do
    entry="$folder/smbios_entry_point"
    [[ -f $entry && -f $folder/DMI ]] || continue
    size=$(stat -c %s "$entry")
    ((size < 256)) || continue
    {
      printf 'K'
      printf "\\$(printf %03o "$size")"
      cat "$entry" "$folder/DMI"
    } >"$tables/$(basename "$folder")"
  done
fi

run_one() { # <target> <dictionary> <kind of outside data>
  local target=$1 dict=$2 kind=$3
  local dirs=("$fuzz/corpus/$target" "$repo/tests/fuzz/seeds/$target")
  case $kind in
    xml | zip) [[ -d $realdata/$kind ]] && dirs+=("$realdata/$kind") ;;
    smbios) dirs+=("$tables") ;;
  esac
  local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
    -artifact_prefix="$fuzz/artifacts/$target/")
  [[ $dict == - ]] || options+=(-dict="$repo/tests/fuzz/dicts/$dict.dict")
  # A zip entry packed with LZMA names its decoder's dictionary, up to 4 GiB,
  # and the decoder reserves it whole; only the part it fills is memory, and
  # the RSS limit above still bounds that. A reservation alone is no finding.
  [[ $target != archive ]] || options+=(-malloc_limit_mb=8192)
  rm -rf "$fuzz/artifacts/$target"
  mkdir -p "$fuzz/corpus/$target" "$fuzz/artifacts/$target" "$scratch/$target"
  local rc=0
  TMPDIR="$scratch/$target" "$build/tests/bin/${target}_fuzz" "${options[@]}" "${dirs[@]}" \
    >"$fuzz/logs/$target.log" 2>&1 || rc=$?
  echo "$rc" >"$fuzz/logs/$target.rc"
}

echo "== fuzzing ${#selected[@]} targets, $seconds s each, $jobs at a time"
running=0
for target in "${selected[@]}"; do
  for row in "${table[@]}"; do
    read -r name dict kind <<<"$row"
    [[ $name == "$target" ]] || continue
    if ((running >= jobs)); then
      wait -n || true
      running=$((running - 1))
    fi
    rm -f "$fuzz/logs/$target.rc"
    run_one "$name" "$dict" "$kind" &
    running=$((running + 1))
  done
done
wait

passed=0
failed=0
for target in "${selected[@]}"; do
  log="$fuzz/logs/$target.log"
  rc=$(cat "$fuzz/logs/$target.rc" 2>/dev/null || echo 1)
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -1)
  features=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 || true)
  if [[ $rc == 0 ]]; then
    passed=$((passed + 1))
    echo "fuzz: $target passed: ${runs:-?} runs, ${features:-no coverage reported}"
  else
    failed=$((failed + 1))
    echo "fuzz: $target FAILED (exit $rc): ${runs:-?} runs, ${features:-no coverage reported}"
    grep -E '^(==[0-9]+==|SUMMARY|[A-Za-z]+Fuzz:|FuzzSandbox:|FuzzValidation:)' "$log" | head -20 || true
    for input in "$fuzz/artifacts/$target"/*; do
      [[ -e $input ]] && echo "fuzz: $target: failing input kept in $input"
    done
    echo "fuzz: $target: the whole report is in $log"
  fi
done
echo "fuzz: $passed passed, $failed failed"
((failed == 0))
