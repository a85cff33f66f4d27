#!/usr/bin/env bash
# Benchmark: the peak memory of sending a 100 MB script, from a script file
# and from a literal entry, against twice the script plus 8 MiB.
# Usage: bench/memory.sh [MEGABYTES]   (default 100)
set -euo pipefail
cd "$(dirname "$0")/.."
megabytes=${1:-100}
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target tovlane sstp-standin bench-measure >/dev/null

work=$(mktemp -d /tmp/tovlane-bench-XXXXXX)
# shellcheck source=scripts/standin.sh
source scripts/standin.sh
trap stop_standin EXIT
start_standin "$work" --quiet --max-request $((megabytes * 2 * 1024 * 1024))
port=$standin_port
mkdir "$work/file" "$work/literal"
cp build/bin/tovlane "$work/file/"
cp build/bin/tovlane "$work/literal/"

# One long line of SakuraScript, kept over many lines in the file.
head -c $((megabytes * 1024 * 1024)) /dev/zero | tr '\0' 'a' | fold -w 4096 >"$work/big.txt"
size_kib=$(($(stat -c %s "$work/big.txt") / 1024))
printf '[Tovlane Setting]\nPort=%s\nAlarmFile0=%s\n' "$port" "$work/big.txt" >"$work/file/Tovlane.ini"
{
    printf '[Tovlane Setting]\nPort=%s\nAlarmFile0=' "$port"
    tr -d '\n' <"$work/big.txt"
    printf '\n'
} >"$work/literal/Tovlane.ini"

echo "script: $size_kib KiB; limit 2 x script + 8 MiB = $((2 * size_kib + 8192)) KiB"
for kind in file literal; do
    echo "tovlane 0, the script in a $kind:"
    build/bin/bench-measure 1 "$work/$kind/tovlane" 0 | grep 'peak RSS'
done
