#!/usr/bin/env bash
# Benchmark: tovlane against a minimal C sender (connect, write the same
# bytes, read to the end of the stream), alternating runs against the same
# stand-in server, reporting median wall time and peak memory ratios: the
# dynamic build, the static sender of the portable archive, and the dynamic
# build with --notify against without (nothing of it runs on success).
# Usage: bench/run.sh [RUNS]   (default 400)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-400}
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target tovlane sstp-standin min-sender bench-measure >/dev/null
cmake -S . -B build-static -G Ninja -DTOVLANE_STATIC_SENDER=ON -DTOVLANE_BUILD_TESTS=OFF \
    -DTOVLANE_BUILD_UI=OFF >/dev/null
cmake --build build-static --target tovlane 2>/dev/null >/dev/null

work=$(mktemp -d /tmp/tovlane-bench-XXXXXX)
# shellcheck source=scripts/standin.sh
source scripts/standin.sh
trap stop_standin EXIT
start_standin "$work" --quiet
port=$standin_port

mkdir "$work/static"
cp build/bin/tovlane "$work/"
cp build-static/bin/tovlane "$work/static/"
script='\h\s[0]ベンチマークです。\w9\u\s[10]何度も送るよ。'
printf '[Tovlane Setting]\nPort=%s\nAlarmFile0=%s\n' "$port" "$script" >"$work/Tovlane.ini"
cp "$work/Tovlane.ini" "$work/static/"
# The same bytes tovlane sends, for the minimal sender.
printf 'SEND SSTP/1.1\r\nSender: Tovlane\r\nScript: %s\\e\r\nCharset: Shift_JIS\r\n\r\n' "$script" |
    iconv -f UTF-8 -t CP932 >"$work/request.bin"

echo "tovlane 0 (dynamic)  vs  min-sender (same request, same server)"
build/bin/bench-measure "$runs" "$work/tovlane" 0 -- build/bin/min-sender "$port" "$work/request.bin"
echo "tovlane 0 (static, the portable archive's)  vs  min-sender"
build/bin/bench-measure "$runs" "$work/static/tovlane" 0 -- build/bin/min-sender "$port" "$work/request.bin"
echo "tovlane --notify 0  vs  tovlane 0 (dynamic; the run succeeds)"
build/bin/bench-measure "$runs" "$work/tovlane" --notify 0 -- "$work/tovlane" 0
