#!/usr/bin/env bash
# The main window comes up 646 x 472, centred on the screen, titled "Glyvex".
source "$(dirname "$0")/lib.sh" "$@"
e2e_start
main=$(wait_window Glyvex 300)
read_geometry "$main"
[ "$GEOM_W" = 646 ] && [ "$GEOM_H" = 472 ] || fail "main window is ${GEOM_W}x${GEOM_H}, not 646x472"
# No window manager, so no frame: the outer size is the window's size.
[ "$GEOM_X" = $(((1280 - 646) / 2)) ] && [ "$GEOM_Y" = $(((1024 - 472) / 2)) ] ||
    fail "main window at $GEOM_X,$GEOM_Y, not centred on the 1280x1024 screen"
[ "$(window_title "$main")" = Glyvex ] || fail "title is \"$(window_title "$main")\""
echo "main window ${GEOM_W}x${GEOM_H}+${GEOM_X}+${GEOM_Y}"
