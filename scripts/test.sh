#!/usr/bin/env bash
# Builds and runs every test: the unit, platform and end-to-end tests; the same suite built
# with AddressSanitizer and UndefinedBehaviorSanitizer; the Windows build under Wine; a short
# run of every fuzz target (each skipped, saying so, where the cross compiler, Wine or clang is
# missing).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=2

section() { printf '\n=== %s ===\n' "$*"; }

section "native build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure

section "sanitizer build and tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQUELMAR_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-sanitize -j"$jobs" --output-on-failure

section "Windows build: unit tests under Wine, the program against the simulator"
bash tests/windows/run.sh

section "fuzzing: every target for a short, bounded time (fuzz/run.sh SECONDS for longer)"
fuzz/run.sh "${QUELMAR_FUZZ_SECONDS:-12}"

echo
echo "all tests passed"
