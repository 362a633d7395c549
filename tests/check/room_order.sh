#!/bin/sh
# The port doctor's rooms are layered: a file includes only headers of its own
# room or of rooms below it, so no arrow points back up.
# usage: room_order.sh CHECK_FOLDER
rooms="common port line ecu output command_line workbench"
rank() {
    i=0
    for room in $rooms; do
        [ "$room" = "$1" ] && { echo $i; return; }
        i=$((i + 1))
    done
    echo "unknown"
}
status=0
for file in "$1"/*/*.h "$1"/*/*.cpp; do
    [ -e "$file" ] || continue
    room=$(basename "$(dirname "$file")")
    own=$(rank "$room")
    [ "$own" = unknown ] && { echo "$file: $room is not a room"; status=1; continue; }
    for included in $(sed -n 's@^#include "check/\([a-z_]*\)/.*@\1@p' "$file"); do
        theirs=$(rank "$included")
        if [ "$theirs" = unknown ] || [ "$theirs" -gt "$own" ]; then
            echo "$file ($room) includes from $included, a room above it"
            status=1
        fi
    done
    if grep -q '^#include "check/[a-z_]*\.h"' "$file"; then
        echo "$file includes from check/ itself, which holds only main"
        status=1
    fi
done
exit $status
