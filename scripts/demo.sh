#!/usr/bin/env bash
# The demo: builds the programs (tovlane, tovlane-settings, the stand-in
# server), starts the stand-in SSTP server on a loopback
# port, sends two entries (a literal script and a script file) with the real
# tovlane binary, prints the requests as the server received them, and stops
# the server.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== checking the packages the build needs (installing any that are missing)"
bash scripts/setup.sh
echo "== building tovlane, tovlane-settings and the stand-in server (about a minute the first time)"
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target tovlane tovlane-settings sstp-standin |
    sed -n 's/^\[\([0-9]*\)\/\([0-9]*\)\] .* \([^ ]*\)$/  step \1 of \2: \3/p'

work=$(mktemp -d /tmp/tovlane-demo-XXXXXX)
# shellcheck source=scripts/standin.sh
source scripts/standin.sh
trap stop_standin EXIT
start_standin "$work"
port=$standin_port

# tovlane reads Tovlane.ini from its own directory, so the demo runs a copy.
cp build/bin/tovlane "$work/"
printf '%s\n' '\h\s[0]スクリプトファイルから\n' '\u\s[10]一行ずつ読んで、' '\h\s[5]つなげて送るよ。' \
    >"$work/hello.txt"
cat >"$work/Tovlane.ini" <<INI
[Tovlane Setting]
Address=127.0.0.1
Port=$port
ProtocolID=0
AlarmFile0=\h\s[0]こんにちは、Tovlane です。\w9\u\s[10]よろしく〜。
AlarmFile1=$work/hello.txt
INI

echo "== Tovlane.ini"
cat "$work/Tovlane.ini"
for entry in 0 1; do
    echo "== tovlane $entry"
    status=0
    "$work/tovlane" "$entry" || status=$?
    echo "exit status $status"
done
sleep 0.1
echo "== what the SSTP server on 127.0.0.1 port $port received (decoded from Shift_JIS)"
tail -n +2 "$work/server.log"
