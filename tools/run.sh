#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it on the user's
# display. Options:
#   --simulate   also start a simulated adapter that echoes every byte, linked
#                as /dev/ttyUSBsimulated for as long as the program runs (needs
#                root, because the link lives in /dev)
# Any other arguments go to the program (the toolkit's standard options).
set -u
cd "$(dirname "$0")/.."
. tools/ensure-packages.sh

simulate=0
arguments=()
for argument in "$@"; do
    case "$argument" in
        --simulate) simulate=1 ;;
        *) arguments+=("$argument") ;;
    esac
done

ensure_packages "${BUILD_PACKAGES[@]}" || exit 1
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build build -j "$(nproc)" --target lantoric lantoric-check adapter_simulator -- --no-print-directory >build.log 2>&1 ||
    { cat build.log; exit 1; }

if [ -z "${DISPLAY:-}" ]; then
    echo "No display: run this from a desktop session (DISPLAY is not set)." >&2
    exit 1
fi

simulator=""
if [ "$simulate" -eq 1 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "--simulate needs root: the simulated adapter is linked under /dev." >&2
        exit 1
    fi
    build/tools/adapter_simulator /dev/ttyUSBsimulated &
    simulator=$!
    trap 'kill "$simulator" 2>/dev/null; wait "$simulator" 2>/dev/null' EXIT
    for _ in $(seq 50); do
        [ -e /dev/ttyUSBsimulated ] && break
        sleep 0.1
    done
fi

build/app/lantoric "${arguments[@]}"
