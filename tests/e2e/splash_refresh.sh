#!/usr/bin/env bash
# Every refresh of the Text page shows the splash painted, not an empty frame.
source "$(dirname "$0")/lib.sh" "$@"
# The program logs each painting of a form in this category.
export QT_LOGGING_RULES="glyvex.paint.debug=true"
e2e_start
main=$(wait_window Glyvex 300)
pause 0.5
painted() { grep -c "painted Form2" "$E2E_STDERR" || true; }
# "Ansicht / Textansicht" refreshes the fields; twice, as the second finds the page showing.
for round in 1 2; do
    before=$(painted)
    menu_command "$main" alt+a t
    start=$(now)
    until [ "$(painted)" -gt "$before" ]; do
        [ "$(elapsed_ms "$start")" -lt "$(scaled_ms 5)" ] || fail "refresh $round: the splash was not painted"
        sleep 0.05
    done
done
# The splash (the small window titled "Glyvex") is gone again.
for id in $(find_windows Glyvex); do
    read_geometry "$id" 2>/dev/null || continue # gone meanwhile
    [ "$GEOM_W" -ge 300 ] || fail "the splash stayed on the screen after the refresh"
done
