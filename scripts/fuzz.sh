#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz and runs each one for
# SECONDS (default 30) under AddressSanitizer and UndefinedBehaviorSanitizer.
# usage: scripts/fuzz.sh [SECONDS] [TARGET...]
# Exit 1 when a target crashes, leaks, hangs or breaks one of its checks; the input that did
# it is kept under build-fuzz/crashes/TARGET/ and its path is printed.
set -euo pipefail

seconds="${1:-30}"
shift || true
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(listing namecodec ini password reply replytext)
fi

CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 >/dev/null

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# CI explores from a fixed seed, so a red run can be repeated; by hand every run is new.
seed="${OXLIP_FUZZ_SEED:-0}"
if [ "${CI:-}" = true ] && [ -z "${OXLIP_FUZZ_SEED:-}" ]; then
    seed=1
fi

status=0
for target in "${targets[@]}"; do
    work="$build/corpus/$target" # grows while fuzzing; the seeds in fuzz/corpus stay as they are
    crashes="$build/crashes/$target"
    log="$build/fuzz_$target.log"
    mkdir -p "$work" "$crashes" "$root/fuzz/corpus/$target"
    if "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$crashes/" -print_final_stats=1 -seed="$seed" "$work" "$root/fuzz/corpus/$target" \
        >"$log" 2>&1; then
        echo "fuzz_$target: ok ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" |
            grep -o '[0-9]*$') runs in ${seconds} s)"
    else
        status=1
        echo "fuzz_$target: FAILED, log in $log"
        tail -n 40 "$log"
        grep -h -o "written to [^ ]*" "$log" | sed 's/^written to /crashing input: /' || true
    fi
done
exit "$status"
