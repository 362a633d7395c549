#!/usr/bin/env bash
# Benchmark, not a test: how fast lantoric-check sees an echo and how fast it
# starts. Runs `lantoric-check --count N` against the adapter simulator,
# instant and paced at 9600 baud, and prints median and p99 from the write to
# the last echoed byte against the time the 15 bytes need on the wire; then
# the K-line checks' measurements on a simulator that follows the line (a
# pseudo-terminal: what the driver calls cost, a baseline for real adapters);
# then how often `lantoric-check --watch` wakes while idle; then the start-up
# time of `lantoric-check --version` against /bin/true; then, under a private
# display, the window's launch to its first window and its resident memory,
# run from the build and installed into a temporary prefix, against a minimal
# GTK+ 2 window (tools/minimal_window.cpp).
#
# usage: tools/bench.sh [COUNT]   (default 1000; builds into build/ first)
set -eu
cd "$(dirname "$0")/.."
count=${1:-1000}
build=${LANTORIC_BUILD:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# A whole build: the start-up part installs it.
cmake --build "$build" -j2 >/dev/null
check=$build/check/lantoric-check
simulator=$build/tools/adapter_simulator

scratch=$(mktemp -d /tmp/lantoric-bench.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$scratch"
}
trap cleanup EXIT

# Starts a simulator with the given options at scratch/NAME and waits for it.
start_simulator() { # name, options...
    local name=$1
    shift
    "$simulator" "$@" "$scratch/$name" >"$scratch/$name.out" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        grep -q ready "$scratch/$name.out" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "bench: the simulator did not start" >&2
    return 1
}

# One number of the summary in lantoric-check's JSON.
summary_value() { # json file, name
    sed -n "s/.*\"$2\" : \([0-9.]*\).*/\1/p" "$1" | tail -n 1
}

measure() { # label, port
    local json=$scratch/result.json
    "$check" --json --count "$count" "$2" >"$json" || true
    printf '%-22s median %6.2f ms, p99 %6.2f ms, successes %s of %s; wire time %.2f ms\n' \
        "$1" "$(summary_value "$json" median_ms)" "$(summary_value "$json" p99_ms)" \
        "$(summary_value "$json" successes)" "$count" "$(summary_value "$json" wire_time_ms)"
}

start_simulator ttyUSBinstant
start_simulator ttyUSBpaced --pace=9600
echo "write to last echoed byte over $count tests:"
measure "instant echo:" "$scratch/ttyUSBinstant"
measure "paced at 9600 baud:" "$scratch/ttyUSBpaced"

# The K-line measurements of five --kline runs: the longest the break can
# have held the line low, the farthest a slow-init edge can have strayed
# from its slot, and the 360-baud zero byte's echo.
start_simulator ttyUSBfollow --follow-line
for _ in 1 2 3 4 5; do
    "$check" --json --kline "$scratch/ttyUSBfollow" >>"$scratch/kline.json" || true
    echo >>"$scratch/kline.json"
done
python3 - "$scratch/kline.json" <<'PYTHON'
import json, statistics, sys
decoder, text, runs, at = json.JSONDecoder(), open(sys.argv[1]).read(), [], 0
while text[at:].strip():
    at += len(text[at:]) - len(text[at:].lstrip())
    document, at = decoder.raw_decode(text, at)
    runs.append(document["tests"][0]["kline"])
def line(label, values):
    print(f"{label:34} median {statistics.median(values):6.2f} ms, max {max(values):6.2f} ms")
print(f"K-line checks on the simulator, {len(runs)} runs:")
line("25 ms break, longest low:", [run["break"]["low_at_most_ms"] for run in runs])
line("slow-init edge, farthest stray:", [run["slow_init"]["worst_possible_ms"] for run in runs])
line("360-baud zero byte back (27.78):", [run["zero_byte"]["echo_ms"] or 0 for run in runs])
PYTHON

# --watch idle: how often it wakes while nothing is plugged in (context
# switches over ten seconds; the aim is none).
"$check" --watch >/dev/null 2>&1 &
watcher=$!
pids+=($watcher)
sleep 1
before=$(awk '/^voluntary_ctxt_switches/ { print $2 }' "/proc/$watcher/status")
sleep 10
after=$(awk '/^voluntary_ctxt_switches/ { print $2 }' "/proc/$watcher/status")
kill -INT "$watcher" 2>/dev/null || true
printf 'watch idle: %s wake-ups in 10 s\n' "$((after - before))"

# Mean wall time of one run, over many.
startup() { # command...
    local runs=200 start end
    start=$(date +%s%N)
    for _ in $(seq $runs); do
        "$@" >/dev/null
    done
    end=$(date +%s%N)
    awk -v ns=$((end - start)) -v runs=$runs 'BEGIN { printf "%.2f", ns / runs / 1000000 }'
}
printf 'start-up: lantoric-check --version %s ms, /bin/true %s ms (mean of 200 runs)\n' \
    "$(startup "$check" --version)" "$(startup /bin/true)"

# The window against the minimal one, built and installed (the prefix on the
# icon path, as an installed program has it).
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
tools/with-display.sh bash -c '
    bash tools/window-startup.sh 15 "minimal window:" Minimal "$1/tools/minimal_window"
    bash tools/window-startup.sh 15 "lantoric, built:" Usage "$1/app/lantoric"
    XDG_DATA_DIRS=$2/share:/usr/local/share:/usr/share \
        bash tools/window-startup.sh 15 "lantoric, installed:" Usage "$2/bin/lantoric"
' windows "$build" "$scratch/prefix" 2>/dev/null
