#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the program plainly,
# with AddressSanitizer/UndefinedBehaviorSanitizer and with ThreadSanitizer,
# and the fuzz targets, and runs every test of these builds under a private
# virtual display with a window manager. The last line is "N passed, N skipped,
# N failed" (a skipped test says why in the log); the exit status is 0 only
# when nothing failed.
set -u
cd "$(dirname "$0")/.."
root=$PWD
. tools/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" || { echo "0 passed, 0 skipped, 1 failed"; exit 1; }

jobs=$(nproc)
build() { # folder, extra cmake options...
    local folder=$1
    shift
    cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null &&
        cmake --build "$folder" -j "$jobs" ${target:+--target "$target"} -- --no-print-directory \
            >"$folder.log" 2>&1 ||
        { cat "$folder.log"; return 1; }
}
build build || { echo "0 passed, 0 skipped, 1 failed"; exit 1; }
build build-sanitize -DLANTORIC_SANITIZE=ON || { echo "0 passed, 0 skipped, 1 failed"; exit 1; }
build build-thread-sanitize -DLANTORIC_THREAD_SANITIZE=ON || { echo "0 passed, 0 skipped, 1 failed"; exit 1; }
# The fuzz targets need clang's libFuzzer; only they and what they use are built.
target=fuzzers CC=clang CXX=clang++ build build-fuzz -DLANTORIC_FUZZ=ON ||
    { echo "0 passed, 0 skipped, 1 failed"; exit 1; }

scratch=$(mktemp -d /tmp/lantoric-test.XXXXXX)
mkdir -p "$root/artifacts"
cleanup() {
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -m 700 "$scratch/run"
mkdir "$scratch/home" "$scratch/cache" "$scratch/config"
export HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/run
export XDG_CACHE_HOME=$scratch/cache XDG_CONFIG_HOME=$scratch/config
# No accessibility bus: its daemons would outlive the run.
export NO_AT_BRIDGE=1 GTK_A11Y=none
export LANTORIC_ARTIFACTS=$root/artifacts
export LSAN_OPTIONS=suppressions=$root/tests/sanitizer/lsan.supp:print_suppressions=0
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

dbus-run-session -- bash "$root/tools/test-session.sh" "$root" "$scratch"
status=$?

passed=0
skipped=0
failed=0
for log in "$scratch"/ctest-*.log; do
    [ -f "$log" ] || continue
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$line" ]; then
        failed=$((failed + 1))
        continue
    fi
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    # CTest counts a skipped test as passed in that line and lists it apart.
    skip=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log")
    passed=$((passed + total - bad - skip))
    skipped=$((skipped + skip))
    failed=$((failed + bad))
done
[ "$status" -eq 0 ] || [ "$failed" -gt 0 ] || failed=1
echo "$passed passed, $skipped skipped, $failed failed"
[ "$failed" -eq 0 ]
