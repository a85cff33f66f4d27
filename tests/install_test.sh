#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it as a person would:
# help and a sent entry through the bin/ link, the desktop entry, the manual
# page and the completion. Usage: install_test.sh BUILD-DIR STANDIN
set -euo pipefail
build=$1
standin=$2
# Japanese messages, checked below; English ones where a check says LANG=C.UTF-8.
export LANG=ja_JP.UTF-8
unset LC_ALL LC_MESSAGES
prefix=$(mktemp -d /tmp/tovlane-install-XXXXXX)
# shellcheck source=scripts/standin.sh
source "$(dirname "$0")/../scripts/standin.sh"
cleanup() {
    stop_standin
    rm -rf "$prefix"
}
trap cleanup EXIT
fail() {
    echo "install test: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null
[ "$(readlink "$prefix/bin/tovlane")" = ../lib/tovlane/tovlane ] || fail "bin/tovlane is no link"
help=$("$prefix/bin/tovlane" --help)
grep -qF "$prefix/lib/tovlane/Tovlane.ini" <<<"$help" || fail "--help names no settings file in lib/tovlane"
grep -qF "AlarmFile0〜AlarmFile9 (エントリ 0〜9)" <<<"$help" || fail "--help lists no entry keys"
for line in "ESC なら ⟦1B⟧" "  13  標準出力に書き込めない" "   9* 接続できない"; do
    grep -qF "$line" <<<"$help" || fail "--help lacks \"$line\""
done
# The message locale: LC_ALL, then LC_MESSAGES, then LANG; English unless it names Japanese.
for locale in "LANG=C.UTF-8" "LANG=ja_JP.UTF-8 LC_ALL=en_US.UTF-8" "LANG=de_DE.UTF-8 LC_MESSAGES=C"; do
    read -ra variables <<<"$locale"
    env "${variables[@]}" "$prefix/bin/tovlane" --help | grep -q "^Usage: tovlane" ||
        fail "English help with $locale"
done
env LANG=C LC_MESSAGES=ja_JP.UTF-8 "$prefix/bin/tovlane" --help | grep -q "^使い方: *tovlane" ||
    fail "Japanese help with LC_MESSAGES=ja_JP.UTF-8"
# The C library's own text in Japanese too, in UTF-8 whatever the codeset,
# where the machine has the Japanese locale and the C library's translations.
printf '[Tovlane Setting]\nPort=1\nAlarmFile0=x\n' >"$prefix/lib/tovlane/Tovlane.ini"
japanese_locale=$(locale -a 2>/dev/null | grep -ix 'ja_JP\.utf-\?8' || true)
if [ -z "$japanese_locale" ]; then
    echo "skipped: install test, the C library's Japanese texts: no ja_JP.UTF-8 locale here"
elif [ ! -e /usr/share/locale/ja/LC_MESSAGES/libc.mo ]; then
    echo "skipped: install test, the C library's Japanese texts: libc-l10n is not installed"
else
    refused=$(env LANG=ja_JP.eucJP "$prefix/bin/tovlane" -v 0 2>&1 | tail -n 1) || true
    [ "$refused" = "tovlane: 127.0.0.1 ポート 1 に接続できません: 接続を拒否されました" ] || fail "Japanese system text: $refused"
fi
desktop-file-validate "$prefix/share/applications/tovlane.desktop" || fail "desktop entry"
# The installed program by its path, which PATH may not hold yet.
[ "$(grep -c "^Exec=$prefix/bin/tovlane --notify --timeout 10 [0-9]\$" "$prefix/share/applications/tovlane.desktop")" = 10 ] ||
    fail "ten send actions"
grep -qx "Exec=$prefix/bin/tovlane" "$prefix/share/applications/tovlane.desktop" || fail "menu item"
# Each manual page renders without a warning in its own locale and under C.UTF-8.
for page in "man1 C.UTF-8" "ja/man1 ja_JP.UTF-8" "ja/man1 C.UTF-8"; do
    read -r folder locale <<<"$page"
    if [ "$locale" = ja_JP.UTF-8 ] && [ -z "$japanese_locale" ]; then
        echo "skipped: install test, the Japanese manual page in its locale: no ja_JP.UTF-8 locale here"
        continue
    fi
    warnings=$(MANWIDTH=80 LANG=$locale man --warnings -l "$prefix/share/man/$folder/tovlane.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "manual page $folder under $locale: $warnings"
done
# Both pages say where the files are, what the environment changes, and show examples.
for section in "FILES ENVIRONMENT EXAMPLES" "ファイル 環境変数 例"; do
    page=$([ "$section" = "${section#FILES}" ] && echo ja/man1 || echo man1)
    for name in $section; do
        zgrep -qx "\.SH $name" "$prefix/share/man/$page/tovlane.1.gz" || fail "$page lacks $name"
    done
done
# Japanese lines break cleanly: no 。 alone at a line's start, no space after 、 or 。.
japanese=$(MANWIDTH=80 LANG=ja_JP.UTF-8 man -l "$prefix/share/man/ja/man1/tovlane.1.gz" 2>/dev/null)
! grep -qE '^ *。|[、。] ' <<<"$japanese" || fail "the Japanese page breaks badly: $(grep -E '^ *。|[、。] ' <<<"$japanese")"
# shellcheck disable=SC1091
words=$(source "$prefix/share/bash-completion/completions/tovlane" &&
    COMP_WORDS=(tovlane "") COMP_CWORD=1 && _tovlane && echo "${COMPREPLY[*]}")
[ "$words" = "0 1 2 3 4 5 6 7 8 9 -v --verbose -q --quiet --print --notify --script --file --address --port --timeout -h --help --version -" ] ||
    fail "completion: $words"
# shellcheck disable=SC1091
words=$(cd "$prefix" && source share/bash-completion/completions/tovlane &&
    COMP_WORDS=(tovlane --file share/bash) COMP_CWORD=2 && _tovlane && echo "${COMPREPLY[*]}")
[ "$words" = "share/bash-completion" ] || fail "completion of --file: $words"

# The settings window: the same process becomes tovlane-settings and waits
# for the user; without a display, or with one that cannot be opened, one
# line and status 10.
env QT_QPA_PLATFORM=offscreen "$prefix/bin/tovlane" &
window=$!
for _ in $(seq 200); do
    [ "$(readlink "/proc/$window/exe")" = "$prefix/lib/tovlane/tovlane-settings" ] && break
    sleep 0.02
done
sleep 0.3
if ! kill -0 "$window" || [ "$(readlink "/proc/$window/exe")" != "$prefix/lib/tovlane/tovlane-settings" ]; then
    fail "tovlane alone did not become the settings window"
fi
kill "$window"
expect_refusal() { # DISPLAY-SETTING MESSAGE
    status=0
    message=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" "$prefix/bin/tovlane" 2>&1) || status=$?
    if [ "$status" != 10 ] || [ "$message" != "tovlane: 設定画面を開けません: $2" ]; then
        fail "settings window with $1: status $status, $message"
    fi
}
expect_refusal -uDISPLAY "グラフィカルなセッションが必要です（DISPLAY も WAYLAND_DISPLAY もありません）"
expect_refusal DISPLAY=:87 "ディスプレイ :87 に接続できません"
for option in --help -h; do
    "$prefix/lib/tovlane/tovlane-settings" "$option" | grep -qF "$prefix/lib/tovlane/Tovlane.ini" ||
        fail "tovlane-settings $option"
done
[ "$(env -u DISPLAY "$prefix/lib/tovlane/tovlane-settings" --version)" = "tovlane-settings 0.11.9" ] ||
    fail "tovlane-settings --version"

for port in abc 70000; do
    status=0
    message=$("$standin" --port "$port" 2>&1 >/dev/null) || status=$?
    if [ "$status" != 2 ] || ! grep -qF -- "from 0 to 65535, not \"$port\"" <<<"$message"; then
        fail "stand-in --port $port: status $status, $message"
    fi
done

mkdir "$prefix/server"
STANDIN=$standin start_standin "$prefix/server" --count 1 --quiet --raw "$prefix/received"
printf '[Tovlane Setting]\nPort=%s\nAlarmFile4=\\h\\s[0]installed\n' "$standin_port" \
    >"$prefix/lib/tovlane/Tovlane.ini"
(cd / && "$prefix/bin/tovlane" 4) || fail "sending through the link ended with $?"
wait "$standin_pid" || true
grep -qF 'Script: \h\s[0]installed\e' "$prefix/received" || fail "nothing arrived"

# Removing what the manifest lists removes every installed file, the link too.
rm -rf "$prefix/server" "$prefix/received" "$prefix/lib/tovlane/Tovlane.ini"
grep -qx "$prefix/bin/tovlane" "$build/install_manifest.txt" || fail "the manifest lacks bin/tovlane"
xargs rm <"$build/install_manifest.txt"
left=$(find "$prefix" ! -type d)
[ -z "$left" ] || fail "left after removing the manifest's files: $left"
# The Debian package: its files under /usr, a clean lintian where it is
# installed, and the extracted tree working as installed.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$prefix/deb" >/dev/null
deb=$prefix/deb/tovlane_0.11.9-1_amd64.deb
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/tovlane ./usr/lib/tovlane/tovlane ./usr/lib/tovlane/tovlane-settings \
    ./usr/share/applications/tovlane.desktop ./usr/share/man/man1/tovlane.1.gz \
    ./usr/share/bash-completion/completions/tovlane ./usr/share/doc/tovlane/copyright; do
    grep -qF " $path" <<<"$contents" || fail "the package lacks $path"
done
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "Depends computed without Qt"
[ "$(dpkg-deb -f "$deb" Suggests)" = bash-completion ] || fail "Suggests: $(dpkg-deb -f "$deb" Suggests)"
grep -qF " ./usr/share/doc/tovlane/changelog.gz" <<<"$contents" || fail "the package lacks the changelog"
if command -v lintian >/dev/null; then
    errors=$(lintian "$deb" 2>/dev/null | grep '^E:' || true)
    [ -z "$errors" ] || fail "lintian: $errors"
fi
dpkg-deb -x "$deb" "$prefix/root"
grep -qx "License: Expat" "$prefix/root/usr/share/doc/tovlane/copyright" || fail "copyright names no licence"
grep -qx "Exec=/usr/bin/tovlane --notify --timeout 10 3" "$prefix/root/usr/share/applications/tovlane.desktop" ||
    fail "the packaged desktop entry does not name /usr/bin/tovlane"
[ "$("$prefix/root/usr/bin/tovlane" --version)" = "tovlane 0.11.9" ] || fail "the packaged tovlane"
echo "install test: passed"
