#!/usr/bin/env bash
# Installs what is missing, checks the structure (layers, loops, log-record
# names, the documentation's links, formatting), builds, and runs every test:
# a normal build (and a bounded fault sweep over its programs), the same under
# AddressSanitizer + UndefinedBehaviorSanitizer, the resume tests under
# ThreadSanitizer, the Debian package and the /usr layout, real
# restarts of a booted Debian machine with the package installed, and the
# fuzzers of every reader of outside input, 30 seconds each.
set -euo pipefail
cd "$(dirname "$0")/.."

# No test may ever restart the machine.
export PLIMO_SKIP_REBOOT=1
# Nor talk to the machine's login manager (the bus tests start their own).
export PLIMO_SKIP_INHIBIT=1

scripts/install-deps.sh

# A run compiles only what an earlier run on this machine (of any clone) did
# not compile with the same sources and flags. Paths below the clone are
# hashed relative to it; an object compiled by another clone keeps that
# clone's folder in its debug information, which no test reads.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
fi

# The real-boot test's root file system is fetched and unpacked meanwhile.
mkdir -p build
tests/realboot/run.sh --prepare build/realboot >build/realboot-prepare.log 2>&1 &
realboot_prepare=$!

jobs=$(nproc 2>/dev/null || echo 2)
summary=()
total_passed=0
total_failed=0

# Each stage's wall time, printed with the summary.
times=()
stage_name=""
stage_start=$SECONDS
stage() { # <name> <what it does>
  if [[ -n $stage_name ]]; then times+=("$stage_name: $((SECONDS - stage_start)) s"); fi
  stage_name=$1
  stage_start=$SECONDS
  if [[ -n $2 ]]; then echo "== $2"; fi
}

run_ctest() { # <name> <build dir> [ctest args...]
  local name=$1 dir=$2
  shift 2
  local log="$dir/ctest-$name.log" rc=0
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 300 "$@") 2>&1 | tee "$log" || rc=$?
  local line passed failed
  line=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$log" | tail -1 || true)
  failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  if [[ -z "$line" ]]; then failed=1; total=0; fi
  passed=$((total - failed))
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
  summary+=("$name: $passed passed, $failed failed")
  if ((rc != 0)); then
    return 0
  fi
}

stage structure "structure: layers and loops, log-record names, documentation links, formatting"
structure_failed=0
scripts/check-layers.py || structure_failed=1
scripts/check-log-names.py || structure_failed=1
scripts/check-doc-links.py || structure_failed=1
git ls-files -z '*.cpp' '*.h' ':!tests/fuzz/seeds' | xargs -0 clang-format --dry-run --Werror || structure_failed=1
if ((structure_failed == 0)); then
  summary+=("structure: 1 passed, 0 failed")
  total_passed=$((total_passed + 1))
else
  summary+=("structure: 0 passed, 1 failed")
  total_failed=$((total_failed + 1))
fi

stage normal "normal build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLIMO_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
run_ctest normal build

stage fault-sweep "fault sweep over the normal build (bounded)"
# Every save fault of an update and a resume, ten random kills, and file-size
# limits, through the real programs of the normal build.
sweep_log=build/fault-sweep.log
if scripts/fault-sweep.sh build 10 40 2>&1 | tee "$sweep_log"; then
  summary+=("fault-sweep: 1 passed, 0 failed")
  total_passed=$((total_passed + 1))
else
  summary+=("fault-sweep: 0 passed, 1 failed")
  total_failed=$((total_failed + 1))
fi

stage ansible "Ansible collection against the normal build"
ansible_log=build/ansible-tests.log
contrib/ansible/tests/run.sh build 2>&1 | tee "$ansible_log" || true
ansible_line=$(grep -E "^ansible: [0-9]+ passed, [0-9]+ failed$" "$ansible_log" | tail -1 || true)
if [[ -n "$ansible_line" ]]; then
  ansible_passed=$(sed -E 's/^ansible: ([0-9]+) passed.*/\1/' <<<"$ansible_line")
  ansible_failed=$(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$ansible_line")
else
  ansible_passed=0 ansible_failed=1
fi
total_passed=$((total_passed + ansible_passed))
total_failed=$((total_failed + ansible_failed))
summary+=("ansible: $ansible_passed passed, $ansible_failed failed")

stage sanitizers "AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPLIMO_SANITIZE=ON -DPLIMO_TESTS=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_ctest sanitizers build-asan

stage tsan "ThreadSanitizer build (resume tests)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DPLIMO_TSAN=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target e2e_resume
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest tsan build-tsan -L '^resume$'

stage package "Debian package and installed layout"
package_log=build/test-package.log
scripts/test-package.sh 2>&1 | tee "$package_log" || true
line=$(grep -E "^[0-9]+ passed, [0-9]+ failed$" "$package_log" | tail -1 || true)
if [[ -z "$line" ]]; then line="0 passed, 1 failed"; fi
summary+=("package: $line")
total_passed=$((total_passed + ${line%% passed*}))
failed=${line#*, }
total_failed=$((total_failed + ${failed%% failed}))

# The fuzzers build while the booted machines mostly wait for their restarts.
scripts/fuzz.sh --build >build/fuzz-build.log 2>&1 &
fuzz_build=$!

stage realboot "real restarts: the package in a booted Debian machine (systemd-nspawn)"
realboot_log=build/realboot.log
debs=(build/plimo_*.deb)
wait "$realboot_prepare" || true
if [[ -f ${debs[0]} ]]; then
  tests/realboot/run.sh "${debs[0]}" build/realboot 2>&1 | tee "$realboot_log" || true
fi
line=$(grep -E "^realboot: [0-9]+ passed, [0-9]+ failed" "$realboot_log" 2>/dev/null | tail -1 || true)
if [[ -z "$line" ]]; then line="realboot: 0 passed, 1 failed"; fi
summary+=("$line")
realboot_passed=$(sed -E 's/^realboot: ([0-9]+) passed.*/\1/' <<<"$line")
realboot_failed=$(sed -E 's/^realboot: [0-9]+ passed, ([0-9]+) failed.*/\1/' <<<"$line")
total_passed=$((total_passed + realboot_passed))
total_failed=$((total_failed + realboot_failed))

stage fuzz "fuzzers (30 s each, two at a time)"
fuzz_log=build/fuzz.log
wait "$fuzz_build" || true
PLIMO_FUZZ_JOBS=2 scripts/fuzz.sh 30 2>&1 | tee "$fuzz_log" || true
fuzz_line=$(grep -E "^fuzz: [0-9]+ passed, [0-9]+ failed$" "$fuzz_log" | tail -1 || true)
if [[ -n "$fuzz_line" ]]; then
  fuzz_passed=$(sed -E 's/^fuzz: ([0-9]+) passed.*/\1/' <<<"$fuzz_line")
  fuzz_failed=$(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$fuzz_line")
elif grep -q "fuzzing skipped" "$fuzz_log"; then
  fuzz_passed=0 fuzz_failed=0
else
  fuzz_passed=0 fuzz_failed=1
fi
total_passed=$((total_passed + fuzz_passed))
total_failed=$((total_failed + fuzz_failed))
summary+=("fuzz: $fuzz_passed passed, $fuzz_failed failed")

stage "" ""
echo "== time"
printf '%s\n' "${times[@]}"
echo "total: $SECONDS s"
echo
echo "== summary"
printf '%s\n' "${summary[@]}"
echo "total: $total_passed passed, $total_failed failed"
((total_failed == 0))
