#!/usr/bin/env bash
# The main window comes up with a client area of 646 x 472, its frame centred on the screen,
# titled "Glyvex". Its layout depends on the client area only: laid out again, the window
# looks the same inside, to the pixel, under the window manager and on the bare X server.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start
main=$(wait_window Glyvex 300)
wait_client "$main" "646x472+*+*"
read_outer "$main"
# The Xvfb screen is 1280 x 1024; the frame is the window manager's (none without one).
centred="${OUTER_W}x$OUTER_H+$(((1280 - OUTER_W) / 2))+$(((1024 - OUTER_H) / 2))"
wait_outer "$main" "$centred"
[ "$(window_title "$main")" = Glyvex ] || fail "title is \"$(window_title "$main")\""
echo "main window: client 646x472, outer $centred (frame $FRAME_LEFT,$FRAME_RIGHT,$FRAME_TOP,$FRAME_BOTTOM)"
wm_running || exit 0

# Laid out afresh (English and back to German), the status bar and everything else stand where
# they stand on the bare server, after the same steps.
relaid() {
    menu_command "$main" alt+a e
    menu_command "$main" alt+v d
    settled_screenshot "$main" "$1"
}
relaid "$E2E_TMP/framed.png"
quit_by_menu "$main" alt+d b
rm -rf "$XDG_CONFIG_HOME/glyvex"
stop_wm
start_program
main=$(wait_window Glyvex 300)
wait_client "$main" "646x472+*+*"
relaid "$E2E_TMP/bare.png"
diff=$(pixel_difference "$E2E_TMP/framed.png" "$E2E_TMP/bare.png")
if [ "$diff" != 0 ]; then
    cp "$E2E_TMP/framed.png" "$E2E_TMP/bare.png" "${E2E_ARTIFACTS:-/tmp}/" 2>/dev/null || true
    fail "the window looks different inside under the window manager: $diff pixels" \
        "(pictures in ${E2E_ARTIFACTS:-/tmp})"
fi
