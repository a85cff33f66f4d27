#!/usr/bin/env bash
# Opens the real settings window under Xvfb (with a Japanese font installed)
# and saves a screenshot. Usage: scripts/screenshot.sh [OUT.png] [SCALE]
# SCALE (e.g. 2) sets QT_SCALE_FACTOR to see the window on a high-DPI desktop.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-tovlane-settings.png}")
scale=${2:-1}
TOVLANE_SCREENSHOT=1 bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target tovlane tovlane-settings >/dev/null

work=$(mktemp -d /tmp/tovlane-shot-XXXXXX)
trap 'rm -rf "$work"' EXIT
cp build/bin/tovlane build/bin/tovlane-settings "$work/"
cat >"$work/Tovlane.ini" <<'INI'
[Tovlane Setting]
Address=127.0.0.1
Port=9801
ProtocolID=0
AlarmFile0=\h\s[0]こんにちは。\e
AlarmFile1=/home/user/scripts/おはよう.txt
INI

# The inner script expands its own arguments: directory, output, scale.
# shellcheck disable=SC2016
xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" bash -c '
    QT_SCALE_FACTOR="$3" "$1/tovlane" &
    app=$!
    sleep 3
    import -window root "$2"
    kill "$app"
' screenshot "$work" "$out" "$scale"
# Xvfb has no window manager: cut the window out of the black screen.
convert "$out" -trim +repage "$out"
echo "screenshot: $out"
