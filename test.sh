#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the whole suite once, under
# AddressSanitizer + UndefinedBehaviorSanitizer; the serial component and the servers' threads
# under ThreadSanitizer; the Debian package; and a bounded run of the reply fuzzer. Exits
# non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/start-cups.sh  # the printing tests print through its CUPS-PDF queue

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

step() { printf '\n=== %s (%s) ===\n' "$*" "$(date +%T)"; }

# Runs ctest and adds its count of tests to the total; any failure ends the script (pipefail).
passed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT
run_ctest() {
  ctest "$@" | tee "$log"
  local n
  n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  passed=$((passed + ${n:-0}))
}

# Every test runs once, in the sanitized build: a plain build of the same tests would find
# nothing more and cost as long again.
step "AddressSanitizer + UndefinedBehaviorSanitizer (every test)"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
# The tests spend much of their time waiting (ptys, child processes, the broker): the release
# build of the package and the fuzzer's build go on beside them, at the lowest priority.
builds=$(mktemp)
( nice -n 19 ./scripts/make-deb.sh >/dev/null && cmake --preset fuzz >/dev/null &&
  nice -n 19 cmake --build --preset fuzz -j 1 ) >"$builds" 2>&1 &
builder=$!
run_ctest --preset asan -j "$jobs"
wait "$builder" || { cat "$builds"; echo "test.sh: the release or fuzzer build failed" >&2; exit 1; }
rm -f "$builds"

step "ThreadSanitizer (serial component, servers)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
run_ctest --preset tsan -j "$jobs" -L 'serial|threads'

step "Debian package (release build, file list, dependencies, installed programs)"
./scripts/check-deb.sh

step "Prometheus alert rules (promtool)"
promtool check rules packaging/prometheus/cellstation-rules.yml
( cd packaging/prometheus && promtool test rules cellstation-rules.test.yml )
passed=$((passed + 1))

step "reply fuzzer (30 s)"
cmake --build --preset fuzz -j "$jobs"
./scripts/run-fuzz.sh build/fuzz 30

printf '\nfinished at %s\ntest.sh: %d passed, 0 failed\n' "$(date +%T)" "$passed"
