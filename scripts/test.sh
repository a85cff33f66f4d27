#!/usr/bin/env bash
# The whole test suite: installs what is missing, checks formatting, builds
# with warnings as errors and runs every test, then builds again with
# AddressSanitizer and UndefinedBehaviorSanitizer and runs every test again.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

echo "== formatting and shell scripts"
find src tools tests bench \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print0 |
    xargs -0 clang-format --dry-run --Werror
shellcheck scripts/*.sh bench/*.sh .ci/run

jobs=$(nproc)
echo "== build and test"
cmake -S . -B build -G Ninja -DTOVLANE_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-sanitize -G Ninja -DTOVLANE_WERROR=ON -DTOVLANE_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-sanitize -j"$jobs"
ctest --test-dir build-sanitize --output-on-failure -j"$jobs"
