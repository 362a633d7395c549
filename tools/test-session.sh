#!/usr/bin/env bash
# Runs inside dbus-run-session: starts a private Xvfb and metacity, runs CTest
# for every build, judges the ThreadSanitizer reports, and stops everything it
# started, also when a test fails.
set -u
root=$1
scratch=$2
pids=()
foreign=
stop_all() {
    local pid
    [ -z "$foreign" ] || rm -f "$foreign"
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
}
trap stop_all EXIT

# A port that is none of the tests', as an adapter plugged in on a developer's
# desk: run by root, the tests that list /dev have one of their own, and none
# may skip or fail over it.
[ "$(id -u)" -eq 0 ] && ln -s /dev/null "/dev/ttyUSBforeign$$" && foreign=/dev/ttyUSBforeign$$

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$scratch/display" ] && break
    sleep 0.1
done
[ -s "$scratch/display" ] || { echo "Xvfb did not start"; cat "$scratch/xvfb.log"; exit 1; }
export DISPLAY=:$(head -n 1 "$scratch/display")

metacity --sm-disable --compositor=none >"$scratch/metacity.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    wmctrl -m >/dev/null 2>&1 && break
    sleep 0.1
done
wmctrl -m >/dev/null 2>&1 || { echo "metacity did not start"; exit 1; }

# ThreadSanitizer writes every report to its own log, unsuppressed, and never
# changes an exit status: tsan-verdict.py fails the run on reports of ours.
# No pause at exit, or every test process would wait a second.
mkdir -m 1777 "$scratch/tsan"
thread_sanitizer="log_path=$scratch/tsan/report exitcode=0 second_deadlock_stack=1 atexit_sleep_ms=0"

status=0
for build in build build-sanitize build-thread-sanitize build-fuzz; do
    # A build whose tests are not switched on yet has nothing to run.
    (cd "$root/$build" && ctest -N) | grep -q '^Total Tests: 0$' && continue
    echo "== tests of $build"
    (cd "$root/$build" && TSAN_OPTIONS=$thread_sanitizer ctest --output-on-failure --timeout 180) 2>&1 |
        tee "$scratch/ctest-$build.log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
    # Why each skipped test was skipped: the test's own words.
    awk '/: Skipped$/ { getline why } /^\[  SKIPPED \] .* \([0-9]+ ms\)$/ { print "skipped " $4 ": " why }' \
        "$root/$build/Testing/Temporary/LastTest.log" 2>/dev/null | tee -a "$scratch/ctest-$build.log"
done
python3 "$root/tools/tsan-verdict.py" "$root" "$scratch"/tsan/report* || status=1
exit $status
