#!/usr/bin/env bash
# The Text page turned down by the mouse wheel shows other fields, and turned back shows
# exactly what it showed before: every field's widget moves with its field, and fields that
# come into view get theirs where they belong.
source "$(dirname "$0")/lib.sh" "$@"
# The fields below the entry bar of the Text page (window coordinates).
fields=350x250+270+90
# Its top 100 rows, which after scrolling down show fields that were further down.
band=350x100+270+90
e2e_start
main=$(wait_window Glyvex 300)
menu_command "$main" alt+a t
# The pointer rests in the status bar for each picture, over no field.
rest() { xdotool mousemove --window "$main" 20 460; }
rest
settled_screenshot "$main" "$E2E_TMP/top.png"
wheel() {
    xdotool mousemove --window "$main" 450 215 click --repeat 3 --delay 80 "$1"
    rest
}
wheel 5
settled_screenshot "$main" "$E2E_TMP/down.png"
# What now shows at the top of the fields showed lower down before, to the pixel: found by
# searching the first view for it, a whole number of pixels down.
convert "$E2E_TMP/top.png" -crop "$fields" +repage "$E2E_TMP/top-fields.png"
convert "$E2E_TMP/down.png" -crop "$band" +repage "$E2E_TMP/down-band.png"
found=$({ compare -metric AE -subimage-search "$E2E_TMP/top-fields.png" "$E2E_TMP/down-band.png" null: 2>&1 || true; } | head -1)
[[ $found =~ ^0\ @\ 0,([0-9]+)$ ]] || fail "the fields after three wheel notches are not the first view moved up ($found)"
[ "${BASH_REMATCH[1]}" -gt 0 ] || fail "three wheel notches down did not move the fields"
wheel 4
settled_screenshot "$main" "$E2E_TMP/back.png"
diff=$(pixel_difference "$E2E_TMP/top.png" "$E2E_TMP/back.png" "$fields")
[ "$diff" = 0 ] || fail "the fields scrolled down and back differ from the first view in $diff pixels"
quit_by_menu "$main" alt+d b
