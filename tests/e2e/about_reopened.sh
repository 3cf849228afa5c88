#!/usr/bin/env bash
# The About dialog opened three times (closed by OK, by the caption's close button, by OK
# again) keeps its client area of 459 x 207 each time, its frame centred on the screen, and
# looks the same each time: the OK button is whole.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start
main=$(wait_window Glyvex 300)

# "Hilfe / Info..." (the menu closes into the modal dialog, so not a plain menu command).
open_about() {
    open_menu "$main" alt+h
    xdotool key i
    wait_window Info 400 5
}
# OK (75 x 25 at 372, 176) and the dialog's lower edge, outside the scrolling credits.
lower=459x39+0+168
gone() { [ -z "$(find_windows Info)" ]; }

for round in 1 2 3; do
    info=$(open_about)
    wait_client "$info" "459x207+*+*"
    read_outer "$info"
    wait_outer "$info" "${OUTER_W}x$OUTER_H+$(((1280 - OUTER_W) / 2))+$(((1024 - OUTER_H) / 2))"
    # The credits scroll on: only the part below them settles. (The pointer away from OK, which
    # it would light up.)
    xdotool mousemove 0 0
    settled_screenshot "$info" "$E2E_TMP/lower-$round.png" "$lower"
    if [ "$round" != 1 ]; then
        diff=$(pixel_difference "$E2E_TMP/lower-1.png" "$E2E_TMP/lower-$round.png")
        [ "$diff" = 0 ] || fail "opening $round: the OK button and the edge below differ from the first in $diff pixels"
    fi
    echo "opening $round: client 459x207, outer ${OUTER_W}x$OUTER_H+$OUTER_X+$OUTER_Y"
    if [ "$round" = 2 ]; then
        click_caption_close "$info"
    else
        click_at "$info" 409 188
    fi
    wait_until 5 "the dialog did not close (opening $round)" gone
done
quit_by_menu "$main" alt+d b
