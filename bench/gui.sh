#!/usr/bin/env bash
# Window figures on the offscreen platform against a server on 127.0.0.1 (vsftpd, started by
# hand like the tests do): the time to fill the host pane with a big folder in details view
# (and to list it again after sorting it by date), and a big file downloaded and uploaded
# through the window and through oxlip-ftp from the same server in turns: both times side by
# side (medians), and during the window's transfers the longest gap between two event-loop
# turns and the progress redraws a second.
#
#   bash bench/gui.sh
#
# Environment:
#   OXLIP_BENCH_BIG_MB=1024    size of the transferred file, MiB (real bytes, read once first)
#   OXLIP_BENCH_RUNS=3         runs of each transfer, for the window and the tool
#   OXLIP_BENCH_ENTRIES=50000  entries in the listed folder
#   OXLIP_BENCH_SERVER=vsftpd  or pyftpdlib (whose own listing of 50,000 entries takes ~0.5 s)
#   BENCH_GUI_TIMEOUT=1200     seconds the whole run may take
# Installs what is missing (scripts/install-deps.sh), then builds the benchmark and oxlip-ftp in
# build-bench-gui (Release); the build log is build-bench-gui/build.log.
set -euo pipefail

REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$REPO/build-bench-gui"
LIMIT="${BENCH_GUI_TIMEOUT:-1200}"

bash "$REPO/scripts/install-deps.sh" >/dev/null
mkdir -p "$BUILD"
echo "gui.sh: building bench_gui (Release) in $BUILD" >&2
if ! { cmake -S "$REPO" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DOXLIP_BUILD_GUI=ON -DOXLIP_BUILD_TESTS=ON &&
    cmake --build "$BUILD" --target bench_gui -j2; } >"$BUILD/build.log" 2>&1; then
    echo "gui.sh: the build failed, see $BUILD/build.log" >&2
    exit 1
fi

export QT_QPA_PLATFORM=offscreen
# QtTest's own watchdog would end a slow transfer after five minutes.
export QTEST_FUNCTION_TIMEOUT=$((LIMIT * 1000))
OUTPUT="$(mktemp)"
trap 'rm -f "$OUTPUT"' EXIT
rc=0
timeout "$LIMIT" "$BUILD/tests/bench_gui" -silent | tee "$OUTPUT" || rc=$?
[ "$rc" -eq 0 ] || exit "$rc"

# The figures go into bench/RESULTS.md as a section of their own, which compare.sh keeps.
/usr/bin/python3 - "$REPO/bench/RESULTS.md" "$OUTPUT" "$(date -u '+%Y-%m-%d %H:%M UTC')" \
    "${OXLIP_BENCH_RUNS:-3}" "$(git -C "$REPO" rev-parse --short HEAD 2>/dev/null || echo unknown)" <<'EOF'
import re, sys
results, output, date, runs, rev = sys.argv[1:]
lines = [l for l in open(output, encoding="utf-8").read().splitlines()
         if l.startswith(("GUI", "  window", "  tool"))]
begin, end = "<!-- bench/gui.sh writes this section -->", "<!-- end of bench/gui.sh's section -->"
section = "\n".join([
    begin, "## The window against oxlip-ftp", "",
    "`bash bench/gui.sh` on %s (Oxlip at commit %s; offscreen platform, vsftpd on 127.0.0.1, "
    "%s runs): the window's download and upload commands against `oxlip-ftp get` and `put` of "
    "the same file from the same server, in turns. Targets: the window within 10%% of the tool's "
    "time, the longest event-loop gap at most 100 ms, at most 20 redraws in any second."
    % (date, rev, runs), "", "```text"] + lines + ["```", end])
try:
    text = open(results, encoding="utf-8").read()
except FileNotFoundError:
    text = "# Benchmark results\n\n## Commands\n"
if begin in text:
    text = re.sub(re.escape(begin) + ".*?" + re.escape(end), lambda _m: section, text, flags=re.S)
else:
    text = text.replace("\n## Commands\n", "\n" + section + "\n\n## Commands\n", 1)
open(results, "w", encoding="utf-8").write(text)
EOF
echo "gui.sh: figures written into bench/RESULTS.md" >&2
