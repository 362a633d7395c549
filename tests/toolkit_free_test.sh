#!/bin/sh
# The programs built on the toolkit-free layers (base, serial, sys, and
# lantoric-check on top of them) must need no toolkit library at run time.
# usage: toolkit_free_test.sh PROGRAM...
status=0
for program in "$@"; do
    needed=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    [ -n "$needed" ] || { echo "no dynamic section read from $program"; status=1; continue; }
    toolkit=$(echo "$needed" | grep -E '^lib(gtk|gdk|pango|atk|X11|cairo|xcb)')
    if [ -n "$toolkit" ]; then
        echo "$program needs a toolkit library: $toolkit"
        status=1
    fi
done
exit $status
