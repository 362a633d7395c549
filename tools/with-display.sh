#!/usr/bin/env bash
# Runs one command under a private virtual display with a window manager, as
# the test command does, and stops both afterwards. For a developer who wants
# to run a single test program: tools/with-display.sh build/tests/gui_tests
set -u
scratch=$(mktemp -d /tmp/lantoric-display.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/run"
mkdir "$scratch/home" "$scratch/cache" "$scratch/config"
export HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/run
export XDG_CACHE_HOME=$scratch/cache XDG_CONFIG_HOME=$scratch/config
# No accessibility bus: its daemons would outlive the run.
export NO_AT_BRIDGE=1 GTK_A11Y=none
dbus-run-session -- bash -c '
    scratch=$1; shift
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
    xvfb=$!
    for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
    export DISPLAY=:$(head -n 1 "$scratch/display")
    metacity --sm-disable --compositor=none >/dev/null 2>&1 &
    wm=$!
    for _ in $(seq 100); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done
    "$@"
    status=$?
    kill $wm $xvfb 2>/dev/null
    wait $wm $xvfb 2>/dev/null
    exit $status
' with-display "$scratch" "$@"
