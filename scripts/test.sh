#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs every test: the normal build, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzzers for a
# bounded time. Prints CTest's summary. `--quick` runs only the normal build's tests. The
# normal build's tests include "package": the Debian package made from build/ and checked
# (scripts/check-package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
if [ "${1:-}" = "--quick" ]; then
    quick=1
fi
jobs="$(nproc)"

bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j2 --timeout 600 | tee build/ctest-summary.txt

if [ "$quick" = 1 ]; then
    exit 0
fi

echo "== the same tests under ASan and UBSan"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DOXLIP_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build-asan --output-on-failure -j2 --timeout 900 | tee build-asan/ctest-summary.txt
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS

if [ -f scripts/fuzz.sh ]; then
    echo "== fuzzers"
    bash scripts/fuzz.sh "${OXLIP_FUZZ_SECONDS:-30}"
fi

echo "== summary (normal build, then sanitizer build)"
grep -E "tests passed|tests failed" build/ctest-summary.txt
grep -E "tests passed|tests failed" build-asan/ctest-summary.txt
