#!/usr/bin/env bash
# A main window maximized at exit keeps its normal rectangle: maximized by the user (a double
# click on its caption), it stores ShowCmd 3 and exactly the NormPos it was restored from, run
# after run; maximized and restored again, it is back where that rectangle says.
source "$(dirname "$0")/lib.sh" "$@"
[ "${E2E_NO_WM:-}" = 1 ] && skip "maximizing needs a window manager"
reg=$HOME/.config/glyvex/registry.reg
norm=340,287,940,737 # outer 600 x 450, centred on the 1280 x 1024 screen
e2e_stored_placement "$norm"
maximized() { xprop -id "$1" _NET_WM_STATE | grep -q _NET_WM_STATE_MAXIMIZED_VERT; }
not_maximized() { ! maximized "$1"; }
# A double click on the caption (openbox maximizes or restores a window so).
toggle_by_caption() {
    read_outer "$1"
    xdotool mousemove "$((OUTER_X + OUTER_W / 2))" "$((OUTER_Y + FRAME_TOP / 2))" click --repeat 2 --delay 80 1
}
stored_as() { # SHOWCMD, after an exit
    grep -qx "\"NormPos\"=\"$norm\"" "$reg" && grep -qx "\"ShowCmd\"=\"$1\"" "$reg" ||
        fail "$2: the file holds $(grep -E 'NormPos|ShowCmd' "$reg" | tr '\n' ' '), not NormPos $norm, ShowCmd $1"
}

start_x
# The main window restores its size but not its state: each run comes up normal, is
# maximized by the user and ended so.
for run in 1 2 3; do
    start_program
    main=$(wait_window Glyvex 300)
    wait_outer "$main" "600x450+340+287"
    toggle_by_caption "$main"
    wait_until 5 "run $run: the double click did not maximize the window" maximized "$main"
    wait_client "$main" "1280x*+0+*"
    quit_by_menu "$main" alt+d b
    stored_as 3 "run $run, maximized at exit"
done
# Maximized and restored again by the user: back where it was, and stored so.
start_program
main=$(wait_window Glyvex 300)
wait_outer "$main" "600x450+340+287"
toggle_by_caption "$main"
wait_until 5 "the double click did not maximize the window" maximized "$main"
toggle_by_caption "$main"
wait_until 5 "the double click did not restore the window" not_maximized "$main"
wait_outer "$main" "600x450+340+287"
quit_by_menu "$main" alt+d b
stored_as 1 "maximized and restored"
