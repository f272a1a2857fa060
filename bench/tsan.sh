#!/usr/bin/env bash
# The tests of tree transfers over several connections under ThreadSanitizer, built in
# build-tsan beside the normal build. Not part of CI or scripts/test.sh: the instrumented
# build of test_ftp takes several minutes on two cores. Exits non-zero on a reported race.
#   bash bench/tsan.sh                 the parallel tests
#   bash bench/tsan.sh '*Tree*'        any other gtest filter
set -euo pipefail
REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$REPO/build-tsan"
cmake -S "$REPO" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOXLIP_BUILD_GUI=OFF \
    -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build "$BUILD" -j2 --target test_ftp
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
    timeout 900 "$BUILD/tests/test_ftp" --gtest_filter="${1:-*Parallel*}"
