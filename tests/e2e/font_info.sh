#!/usr/bin/env bash
# Ctrl+I in the main window shows the font-info window, titled exactly "Font Info".
source "$(dirname "$0")/lib.sh" "$@"
e2e_start
main=$(wait_window Glyvex 300)
send_keys "$main" ctrl+i
info=$(wait_window "Font Info" 0 5)
read_geometry "$info"
[ "$GEOM_MAP" = IsViewable ] || fail "font-info window not viewable"
# Ctrl+I again, in the main window, hides it.
send_keys "$main" ctrl+i
sleep 0.3
[ -z "$(find_windows "Font Info")" ] || fail "second Ctrl+I left the font-info window shown"
