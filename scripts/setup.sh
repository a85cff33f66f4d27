#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing, the demo and the
# screenshot need, and nothing when they are all there already.
# Usage: setup.sh [--build]   (--build: only what building and installing need)
set -euo pipefail

build_packages=(
    g++ cmake ninja-build                       # tool chain
    libasio-dev libc-ares-dev                   # standalone Asio and c-ares for the sender
    qt6-base-dev                                # the settings window (Qt 6 Widgets)
)
packages=(
    g++ make cmake ninja-build binutils git     # tool chain (readelf checks the sender's libraries)
    libgtest-dev                                # GoogleTest
    libasio-dev libc-ares-dev                   # standalone Asio and c-ares for the sender and the stand-in server
    clang-format shellcheck                     # the formatting and script checks
    qt6-base-dev                                # the settings window (Qt 6 Widgets)
    qt6-translations-l10n                       # Japanese texts in Qt's file dialog
    libqt6svg6                                  # the window's icon (Qt's SVG plugins)
    xvfb xauth fonts-noto-cjk                   # a display and Japanese fonts for the window
    clang libclang-rt-14-dev                    # libFuzzer for the fuzz targets
    desktop-file-utils man-db                   # the install test checks the desktop entry and man page
    dpkg-dev lintian                            # the Debian package: its Depends, and its check
    file                                        # the portable archive's static sender is checked
    locales libc-l10n                           # the Japanese manual page and system texts are checked
    unicode-data                                # the printer is checked against Unicode's own list
)
if [ "${1:-}" = --build ]; then
    packages=("${build_packages[@]}")
fi
if [ "${TOVLANE_SCREENSHOT:-}" = 1 ]; then
    packages+=(imagemagick)                     # "import" takes the screenshot
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: run as root (or install these packages yourself)" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Japanese manual page is checked in its own locale.
if [ "${1:-}" != --build ] && ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: run as root to generate the ja_JP.UTF-8 locale" >&2
        exit 1
    fi
    echo "setup: generating the ja_JP.UTF-8 locale"
    sed -i 's/^# *\(ja_JP\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP\.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
fi
