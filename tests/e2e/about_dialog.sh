#!/usr/bin/env bash
# "Hilfe / Info..." opens the About dialog, titled "Info"; its credits scroll, so two
# pictures a second apart differ inside the credits area and nowhere else; "OK"
# closes it, and "Datei / Beenden" then ends the program normally.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start
main=$(wait_window Glyvex 300)
# The menu closes into the modal dialog, so this is not a plain menu command:
# open the menu, wait for it, then choose "&Info...".
before=$(viewable_count)
send_keys "$main" alt+h
start=$(now)
while [ "$(viewable_count)" -le "$before" ]; do
    [ "$(elapsed_ms "$start")" -lt "$(scaled_ms 5)" ] || fail "the Hilfe menu did not open"
    sleep 0.05
done
xdotool key i
info=$(wait_window Info 400 5)
# The credits' text area: the panel's text rectangle (206, 3, 224 x 103) inside the
# panel at (4, 20) inside the group box at (8, 8) of the client area.
credits=224x103+218+31
# Everything but the credits must have settled first (painting, focus, activation).
# (Written without dates, or two pictures of the same pixels would differ in their bytes.)
masked() {
    convert "$1" -fill black -draw "rectangle 218,31 441,133" \
        -define png:exclude-chunks=date,time -strip "$2"
}
screenshot "$info" "$E2E_TMP/first.png"
masked "$E2E_TMP/first.png" "$E2E_TMP/shot1-masked.png"
# Settled means a shot repeats an earlier one: on a busy machine a shot can take longer than
# a blinking focus indicator's period, so two shots in a row may never agree.
start=$(now)
shots=1
while :; do
    pause 0.3
    screenshot "$info" "$E2E_TMP/next.png"
    masked "$E2E_TMP/next.png" "$E2E_TMP/next-masked.png"
    settled=
    for ((k = 1; k <= shots; k++)); do
        cmp -s "$E2E_TMP/shot$k-masked.png" "$E2E_TMP/next-masked.png" && settled=1
    done
    [ -z "$settled" ] || break
    [ "$(elapsed_ms "$start")" -lt 30000 ] || fail "the dialog outside the credits kept changing"
    shots=$((shots + 1))
    cp "$E2E_TMP/next-masked.png" "$E2E_TMP/shot$shots-masked.png"
done
# The credits move: a later picture differs inside them (waited for: a busy machine may
# hold the next tick back), and nowhere else.
screenshot "$info" "$E2E_TMP/first.png"
start=$(now)
while :; do
    pause 0.2
    screenshot "$info" "$E2E_TMP/second.png"
    inside=$(pixel_difference "$E2E_TMP/first.png" "$E2E_TMP/second.png" "$credits")
    [ "$inside" -gt 0 ] && break
    [ "$(elapsed_ms "$start")" -lt "$(scaled_ms 10)" ] || fail "the credits did not move within 10 s"
done
all=$(pixel_difference "$E2E_TMP/first.png" "$E2E_TMP/second.png")
echo "pixels changed after $(elapsed_ms "$start") ms: $inside in the credits, $all in the whole window"
[ "$all" = "$inside" ] || fail "$((all - inside)) pixels changed outside the credits"
# OK (75 x 25 at 372, 176).
click_at "$info" 409 188
start=$(now)
while [ -n "$(find_windows Info)" ]; do
    [ "$(elapsed_ms "$start")" -lt "$(scaled_ms 5)" ] || fail "OK did not close the dialog"
    sleep 0.05
done
menu_command "$main" alt+d b
status=$(wait_exit 5)
[ "$status" = 0 ] || fail "exit status $status"
