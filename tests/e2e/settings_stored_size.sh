#!/usr/bin/env bash
# A stored NormPos of 100,50,700,500 brings the main window up 600 x 450, centred
# on the screen (the stored size applies, the stored position does not).
source "$(dirname "$0")/lib.sh" "$@"
e2e_home_file .config/glyvex/registry.reg <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Tandor\Glyvex\Forms]
"Flags"="0"
"ShowCmd"="1"
"MinMaxPos"="-1,-1,-4,-4"
"NormPos"="100,50,700,500"
"Visible"="0"
REG
e2e_start
main=$(wait_window Glyvex 300)
read_geometry "$main"
[ "$GEOM_W" = 600 ] && [ "$GEOM_H" = 450 ] || fail "window is ${GEOM_W}x$GEOM_H, not 600x450"
# The Xvfb screen is 1280 x 1024.
[ "$GEOM_X" = 340 ] && [ "$GEOM_Y" = 287 ] || fail "window at $GEOM_X,$GEOM_Y, not centred at 340,287"
