#!/usr/bin/env bash
# After the user resizes the main window, the active page's contents stay where the
# layout puts them: the window looks exactly as it does once the pages are laid out
# afresh by switching to the Text page and back.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start
main=$(wait_window Glyvex 300)
resize_window "$main" 800 600
read_geometry "$main"
[ "$GEOM_W" = 800 ] && [ "$GEOM_H" = 600 ] || fail "window is ${GEOM_W}x${GEOM_H} after resizing to 800x600"
settled_screenshot "$main" "$E2E_TMP/resized.png"
# "Ansicht / Textansicht", then "Ansicht / Alphabet".
menu_command "$main" alt+a t
menu_command "$main" alt+a a
settled_screenshot "$main" "$E2E_TMP/relaid.png"
diff=$(pixel_difference "$E2E_TMP/resized.png" "$E2E_TMP/relaid.png")
if [ "$diff" != 0 ]; then
    cp "$E2E_TMP/resized.png" "$E2E_TMP/relaid.png" "${E2E_ARTIFACTS:-/tmp}/" 2>/dev/null || true
    fail "after the resize $diff pixels differ from the laid-out window (pictures in ${E2E_ARTIFACTS:-/tmp})"
fi
# And shrinking, with the Text page showing.
menu_command "$main" alt+a t
resize_window "$main" 600 420
settled_screenshot "$main" "$E2E_TMP/text-resized.png"
menu_command "$main" alt+a a
menu_command "$main" alt+a t
settled_screenshot "$main" "$E2E_TMP/text-relaid.png"
diff=$(pixel_difference "$E2E_TMP/text-resized.png" "$E2E_TMP/text-relaid.png")
[ "$diff" = 0 ] || fail "Text page: after the resize $diff pixels differ from the laid-out window"
