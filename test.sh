#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: a plain build, the same under
# AddressSanitizer + UndefinedBehaviorSanitizer, the serial component under ThreadSanitizer,
# and a bounded run of the reply fuzzer. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

step() { printf '\n=== %s ===\n' "$*"; }

step "plain build"
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

step "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

step "ThreadSanitizer (serial component)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan -j "$jobs" -L serial

if [[ -d fuzz ]] && ls fuzz/*.cpp >/dev/null 2>&1; then
  step "reply fuzzer (30 s)"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs"
  ./scripts/run-fuzz.sh build/fuzz 30
fi
