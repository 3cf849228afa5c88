#!/usr/bin/env bash
# A stored NormPos of 100,50,700,500 is an outer rectangle: the main window comes up with an
# outer size of 600 x 450 (its client area that less the frame), centred on the screen (the
# stored size applies, the stored position does not), and exit, the window neither moved nor
# resized, leaves the stored rectangle as it was.
# A stored rectangle the size of the designed client area (646 x 472) is an outer one too.
source "$(dirname "$0")/lib.sh" "$@"
reg=$HOME/.config/glyvex/registry.reg
start_x
for size in 600x450 646x472; do
    w=${size%x*} h=${size#*x}
    e2e_stored_placement "100,50,$((100 + w)),$((50 + h))"
    start_program
    main=$(wait_window Glyvex 300)
    # The Xvfb screen is 1280 x 1024.
    x=$(((1280 - w) / 2)) y=$(((1024 - h) / 2))
    wait_outer "$main" "${size}+$x+$y"
    read_outer "$main"
    echo "stored $size: outer ${OUTER_W}x$OUTER_H+$OUTER_X+$OUTER_Y, client ${GEOM_W}x$GEOM_H"
    quit_by_menu "$main" alt+d b
    grep -qx "\"NormPos\"=\"100,50,$((100 + w)),$((50 + h))\"" "$reg" || fail "stored $size, exit left $(grep NormPos "$reg")"
done
