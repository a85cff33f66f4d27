#!/usr/bin/env bash
# Benchmark: tovlane against a minimal C sender (connect, write the same
# bytes, read to the end of the stream), alternating runs against the same
# stand-in server, reporting median wall time and peak memory ratios.
# Usage: bench/run.sh [RUNS]   (default 400)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-400}
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target tovlane sstp-standin min-sender bench-measure >/dev/null

work=$(mktemp -d /tmp/tovlane-bench-XXXXXX)
# shellcheck source=scripts/standin.sh
source scripts/standin.sh
trap stop_standin EXIT
start_standin "$work" --quiet
port=$standin_port

cp build/bin/tovlane "$work/"
script='\h\s[0]ベンチマークです。\w9\u\s[10]何度も送るよ。'
printf '[Tovlane Setting]\nPort=%s\nAlarmFile0=%s\n' "$port" "$script" >"$work/Tovlane.ini"
# The same bytes tovlane sends, for the minimal sender.
printf 'SEND SSTP/1.1\r\nSender: Tovlane\r\nScript: %s\\e\r\nCharset: Shift_JIS\r\n\r\n' "$script" |
    iconv -f UTF-8 -t CP932 >"$work/request.bin"

echo "tovlane 0  vs  min-sender (same request, same server)"
build/bin/bench-measure "$runs" "$work/tovlane" 0 -- build/bin/min-sender "$port" "$work/request.bin"
