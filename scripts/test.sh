#!/usr/bin/env bash
# The whole test suite: installs what is missing, checks formatting and the
# shell scripts, builds with warnings as errors and runs every test, builds
# again with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test again, then runs each fuzz target for a while (FUZZ_SECONDS, 20).
# Its build folders are its own (build-tests, build-sanitize, build-portable,
# build-fuzz), configured with the tests on whatever an earlier configure
# chose; a build that runs no test fails. At the end it says how many rows
# were skipped for want of what this machine cannot give, and why.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

echo "== formatting and shell scripts"
find src tools tests bench \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print0 |
    xargs -0 clang-format --dry-run --Werror
shellcheck scripts/*.sh bench/*.sh tests/*.sh .ci/run

jobs=$(nproc)
skips=$(mktemp /tmp/tovlane-skipped-XXXXXX)
trap 'rm -f "$skips"' EXIT
# Builds and tests one folder; every row a test skipped says so with a line
# "skipped: ROW: WHY" in its output, collected for the summary.
build_and_test() { # FOLDER CMAKE-OPTIONS...
    local folder=$1
    shift
    cmake -S . -B "$folder" -G Ninja -DTOVLANE_WERROR=ON -DTOVLANE_BUILD_TESTS=ON "$@" >/dev/null
    cmake --build "$folder" -j"$jobs"
    ctest --test-dir "$folder" --output-on-failure --no-tests=error -j"$jobs"
    grep -h '^skipped: ' "$folder/Testing/Temporary/LastTest.log" | sed "s|^|$folder: |" >>"$skips" || true
}

echo "== build and test"
build_and_test build-tests

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
build_and_test build-sanitize -DTOVLANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug

echo "== the portable archive: the static sender"
cmake -S . -B build-portable -G Ninja -DTOVLANE_WERROR=ON -DTOVLANE_STATIC_SENDER=ON \
    -DTOVLANE_BUILD_TESTS=OFF >/dev/null
# Quiet unless it fails: the static link warns of glibc calls that would need
# its name service modules (getpwuid without HOME; services by name, never asked).
if ! cmake --build build-portable -j"$jobs" >build-portable/build.log 2>&1; then
    tail -n 40 build-portable/build.log
    exit 1
fi
bash tests/portable_test.sh build-portable | tee build-portable/test.log
grep -h '^skipped: ' build-portable/test.log | sed "s|^|build-portable: |" >>"$skips" || true

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

if [ -s "$skips" ]; then
    echo "== $(wc -l <"$skips") rows skipped: this machine cannot give what they need"
    cat "$skips"
else
    echo "== no row skipped"
fi
echo "== every test passed"
