#!/usr/bin/env bash
# Ctrl+I in the main window shows the font-info window, titled exactly "Font Info", with its
# client area of 202 x 247; Ctrl+I again hides it. Shown again it comes back where it was,
# the same size, and once more after the user has moved it.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start
main=$(wait_window Glyvex 300)
gone() { [ -z "$(find_windows "Font Info")" ]; }
not_at() { ! outer_is "$1" "$2"; }
toggle() {
    send_keys "$main" ctrl+i
    if [ "$1" = shown ]; then
        wait_window "Font Info" 0 5
    else
        wait_until 5 "Ctrl+I left the font-info window shown" gone
    fi
}

info=$(toggle shown)
wait_client "$info" "202x247+*+*"
read_outer "$info"
first="${OUTER_W}x$OUTER_H+$OUTER_X+$OUTER_Y" client="${GEOM_W}x$GEOM_H+$GEOM_X+$GEOM_Y"
toggle hidden
for round in 2 3; do
    info=$(toggle shown)
    wait_client "$info" "$client"
    wait_outer "$info" "$first"
    echo "showing $round: client $client, outer $first"
    toggle hidden
done
# Moved by the user, it comes back where the user put it.
info=$(toggle shown)
xdotool windowmove --sync "$info" 100 120
wait_until 5 "the font-info window did not move" not_at "$info" "$first"
read_outer "$info"
moved="${OUTER_W}x$OUTER_H+$OUTER_X+$OUTER_Y"
toggle hidden
info=$(toggle shown)
wait_outer "$info" "$moved"
wait_client "$info" "202x247+*+*"
echo "moved to $moved and shown again there"
