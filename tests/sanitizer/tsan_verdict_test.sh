#!/bin/sh
# The ThreadSanitizer verdict on reports kept from real runs (paths moved to
# /src/lantoric): a race inside GLib is counted, not failed; our race seen only
# in the second access stack, below the standard library, and a lock-order
# cycle through gui_lock each fail the run.
verdict=$1
reports=$2
root=/src/lantoric
python3 "$verdict" "$root" "$reports/library-race.log" >/dev/null ||
    { echo "a race inside GLib failed the run"; exit 1; }
for report in own-race-in-second-stack own-lock-order; do
    if python3 "$verdict" "$root" "$reports/$report.log" >/dev/null; then
        echo "$report did not fail the run"
        exit 1
    fi
done
summary=$(python3 "$verdict" "$root" "$reports"/*.log | tail -n 2)
expected="ThreadSanitizer: 3 logs, 2 reports of ours, 1 not ours (libglib-2.0.so.0 1)
  not ours by kind: data race 1"
[ "$summary" = "$expected" ] || { echo "counted: $summary"; exit 1; }
