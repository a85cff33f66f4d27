#!/usr/bin/env bash
# The whole test suite: installs what is missing, checks formatting and the
# shell scripts, builds with warnings as errors and runs every test, builds
# again with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test again, then runs each fuzz target for a while (FUZZ_SECONDS, 20).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

echo "== formatting and shell scripts"
find src tools tests bench \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print0 |
    xargs -0 clang-format --dry-run --Werror
shellcheck scripts/*.sh bench/*.sh tests/*.sh .ci/run

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

echo "== the portable archive: the static sender"
cmake -S . -B build-portable -G Ninja -DTOVLANE_WERROR=ON -DTOVLANE_STATIC_SENDER=ON \
    -DTOVLANE_BUILD_TESTS=OFF >/dev/null
# Quiet unless it fails: the static link warns of glibc calls that would need
# its name service modules (getpwuid without HOME; services by name, never asked).
if ! cmake --build build-portable -j"$jobs" >build-portable/build.log 2>&1; then
    tail -n 40 build-portable/build.log
    exit 1
fi
bash tests/portable_test.sh build-portable

seconds=${FUZZ_SECONDS:-20}
echo "== fuzzing, $seconds seconds a target"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTOVLANE_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$jobs"
for target in codec ini number reply script; do
    # New inputs go to the build tree; the repository keeps the chosen ones.
    # Replies are judged past the 64 KiB a reply head once had to fit in.
    max_len=4096
    [ "$target" = reply ] && max_len=140000
    mkdir -p "build-fuzz/corpus/$target"
    if ! build-fuzz/bin/fuzz-"$target" -max_total_time="$seconds" -max_len="$max_len" -print_final_stats=1 \
        "build-fuzz/corpus/$target" "tests/fuzz/corpus/$target" >"build-fuzz/$target.log" 2>&1; then
        tail -n 40 "build-fuzz/$target.log"
        echo "fuzz-$target found an input that breaks an invariant" >&2
        exit 1
    fi
    echo "fuzz-$target: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "build-fuzz/$target.log" | grep -o '[0-9]*$') inputs, no invariant broken"
done
