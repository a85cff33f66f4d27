#!/usr/bin/env bash
# The portable archive of a build made with TOVLANE_STATIC_SENDER: its sender
# needs no program interpreter and no library of the build machine's, is
# stripped, and unpacked anywhere sends to a host name found in /etc/hosts.
# Usage: portable_test.sh BUILD-DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/tovlane-portable-XXXXXX)
# shellcheck source=scripts/standin.sh
source "$(dirname "$0")/../scripts/standin.sh"
trap stop_standin EXIT
fail() {
    echo "portable test: $*" >&2
    exit 1
}

(cd "$build" && cpack -G TGZ -B "$work" >/dev/null)
tar -xzf "$work/tovlane-0.11.9-Linux-x86_64.tar.gz" -C "$work"
root=$work/tovlane-0.11.9-Linux-x86_64
sender=$root/lib/tovlane/tovlane
readelf -l "$sender" | grep -qi interpreter && fail "the sender asks for a program interpreter"
[ -z "$(readelf -d "$sender" 2>/dev/null | grep NEEDED || true)" ] || fail "the sender needs libraries"
file "$sender" | grep -q ", stripped" || fail "the sender is not stripped"
[ -x "$root/lib/tovlane/tovlane-settings" ] || fail "the archive lacks the settings window"
# The licences of what the static sender holds, and where their source is.
doc=$root/share/doc/tovlane
grep -q "^MIT License" "$doc/LICENSE" || fail "the archive lacks LICENSE"
for licence in glibc.copyright gcc.copyright c-ares.copyright LGPL-2.1 GPL-3; do
    [ -s "$doc/licenses/$licence" ] || fail "the archive lacks licenses/$licence"
done
grep -q "snapshot.debian.org/package/glibc/2" "$doc/SOURCES" || fail "SOURCES names no glibc source"
grep -qx "Exec=tovlane --notify --timeout 10 0" "$root/share/applications/tovlane.desktop" ||
    fail "the archive's desktop entry names a path of the build machine's"

mkdir "$work/server"
STANDIN=$build/bin/sstp-standin start_standin "$work/server" --count 1 --quiet --raw "$work/received"
printf '[Tovlane Setting]\nAddress=localhost\nPort=%s\nAlarmFile2=\\h\\s[0]portable\n' \
    "$standin_port" >"$root/lib/tovlane/Tovlane.ini"
(cd / && "$root/bin/tovlane" 2) || fail "sending to localhost ended with $?"
grep -qF 'Script: \h\s[0]portable\e' "$work/received" || fail "nothing arrived"
echo "portable test: passed"
