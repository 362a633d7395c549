#!/usr/bin/env bash
# Part of tools/bench.sh, run under tools/with-display.sh: how long a window
# program takes from its launch to its first window on the screen, and its
# resident memory once that window is up; medians of RUNS launches.
# usage: window-startup.sh RUNS LABEL TITLE COMMAND...
set -u
runs=$1 label=$2 title=$3
shift 3
times=() memories=()
for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 &
    pid=$!
    until xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1; do
        kill -0 "$pid" 2>/dev/null || break
    done
    end=$(date +%s%N)
    sleep 0.5
    memories+=("$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status")")
    times+=("$(((end - start) / 1000))")
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
printf '%-28s first window %7.1f ms, resident %6.1f MB\n' "$label" \
    "$(awk -v us="$(median "${times[@]}")" 'BEGIN { print us / 1000 }')" \
    "$(awk -v kb="$(median "${memories[@]}")" 'BEGIN { print kb / 1024 }')"
