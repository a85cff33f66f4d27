#!/usr/bin/env bash
# Benchmark: sending a 100 MB script from a script file and from a literal
# entry, side by side (peak memory against twice the script plus 8 MiB, and
# the time of the literal entry against the file's); the same from CP932
# script files, double-byte text and half-width katakana, then from a CP932
# literal entry and with --print, and piped in, against the same limit; then
# a small entry sent while another entry holds the 100 MB, against the
# settings file plus 8 MiB.
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
for kind in file literal unused cp932 kana literal932; do
    mkdir "$work/$kind"
    cp build/bin/tovlane "$work/$kind/"
done

# One long line of SakuraScript, kept over many lines in the file.
head -c $((megabytes * 1024 * 1024)) /dev/zero | tr '\0' 'a' | fold -w 4096 >"$work/big.txt"
size_kib=$(($(stat -c %s "$work/big.txt") / 1024))
printf '[Tovlane Setting]\nPort=%s\nAlarmFile0=%s\n' "$port" "$work/big.txt" >"$work/file/Tovlane.ini"
literal() { # ENTRY: the big script as that entry, a short one as the other of 0 and 1
    printf '[Tovlane Setting]\nPort=%s\nAlarmFile%s=\\h\\s[0]short\\e\nAlarmFile%s=' \
        "$port" $((1 - $1)) "$1"
    tr -d '\n' <"$work/big.txt"
    printf '\n'
}
literal 0 >"$work/literal/Tovlane.ini"
# The same size in CP932, in lines of 4096 bytes: あ (82 A0), and ｱ (B1).
cp932_file() { # KIND CHARACTER: a script file of the size above, its settings file
    local line LC_ALL=C  # ${#2} counts bytes
    line=$(for _ in $(seq $((4096 / ${#2}))); do printf '%s' "$2"; done)
    yes "$line" | head -c $((megabytes * 1024 * 1024)) >"$work/$1.txt" || true
    printf '[Tovlane Setting]\nPort=%s\nAlarmFile0=%s\n' "$port" "$work/$1.txt" >"$work/$1/Tovlane.ini"
}
cp932_file cp932 "$(printf '\202\240')"
cp932_file kana "$(printf '\261')"
{
    printf '[Tovlane Setting]\nPort=%s\nAlarmFile0=' "$port"
    tr -d '\n' <"$work/cp932.txt"
    printf '\n'
} >"$work/literal932/Tovlane.ini"
literal 1 >"$work/unused/Tovlane.ini"

echo "script: $size_kib KiB; limit 2 x script + 8 MiB = $((2 * size_kib + 8192)) KiB"
echo "tovlane 0, the script as a literal entry  vs  in a script file:"
build/bin/bench-measure 3 "$work/literal/tovlane" 0 -- "$work/file/tovlane" 0 | grep -v runs
echo "tovlane 0, a CP932 script file: double-byte text  vs  half-width katakana:"
build/bin/bench-measure 3 "$work/cp932/tovlane" 0 -- "$work/kana/tovlane" 0 | grep -v runs
echo "tovlane 0, a CP932 literal entry  vs  tovlane --print 0, the script file (printed to /dev/null):"
# shellcheck disable=SC2016  # $0 is the shell's own, set to the program
build/bin/bench-measure 3 "$work/literal932/tovlane" 0 -- \
    /bin/sh -c 'exec "$0" --print 0 >/dev/null' "$work/file/tovlane" | grep -v runs
echo "tovlane -, the script piped in  vs  tovlane --file, the same script file:"
# shellcheck disable=SC2016  # $0 and $1 are the shell's own
build/bin/bench-measure 3 /bin/sh -c 'cat "$1" | exec "$0" -' "$work/file/tovlane" "$work/big.txt" -- \
    "$work/file/tovlane" --file "$work/big.txt" | grep -v runs
echo "tovlane 0, a short entry, while entry 1 holds the script (limit the file + 8 MiB" \
    "= $(($(stat -c %s "$work/unused/Tovlane.ini") / 1024 + 8192)) KiB):"
build/bin/bench-measure 3 "$work/unused/tovlane" 0 | grep 'peak RSS'
