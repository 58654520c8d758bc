#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz/ and runs each for a bounded time.
#
#   fuzz/run.sh [seconds-per-target]      default 12: about a minute for all targets
#   FUZZ_TARGETS="whole_run" fuzz/run.sh 1800   one target, for half an hour
#
# Each target starts from its seed corpus in fuzz/corpus/<target>/ and grows a working corpus
# in build-fuzz/corpus/<target>/ (kept between runs, never written back to the repository).
# A crash, a hang (an input that runs longer than FUZZ_TIMEOUT seconds, default 10) or a
# sanitizer report stops the run with status 1 and leaves the input in build-fuzz/artifacts/.
# Without clang or libFuzzer the run is skipped with status 0.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-12}
timeout=${FUZZ_TIMEOUT:-10}
build=build-fuzz

if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz: skipped, clang++ is not installed"
    exit 0
fi
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
    >"$probe/probe.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" \
    >/dev/null 2>&1; then
    echo "fuzz: skipped, clang++ cannot build libFuzzer targets (libclang-rt missing?)"
    exit 0
fi

CXX=clang++ cmake -S . -B "$build" -DQUELMAR_FUZZ=ON -DQUELMAR_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 >/dev/null

targets=${FUZZ_TARGETS:-$(cd fuzz && ls -- *_fuzz.cpp | sed 's/_fuzz\.cpp$//')}
mkdir -p "$build/artifacts"
status=0
for target in $targets; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    log="$build/$target.log"
    echo "fuzz: $target for ${seconds}s"
    if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout="$timeout" \
        -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" "$corpus" "fuzz/corpus/$target" \
        >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz: $target passed, $runs inputs, corpus $(ls "$corpus" | wc -l) files"
    else
        echo "fuzz: $target FAILED; see $log and $build/artifacts/"
        grep -E "ERROR|runtime error|SUMMARY|Test unit written" "$log" | head -n 20 || true
        status=1
    fi
done
exit $status
