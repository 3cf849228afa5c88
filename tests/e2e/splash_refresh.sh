#!/usr/bin/env bash
# Every refresh of the Text page shows the splash painted, not an empty frame.
source "$(dirname "$0")/lib.sh" "$@"
# The program logs each painting of a form in this category.
export QT_LOGGING_RULES="glyvex.paint.debug=true"
e2e_start
main=$(wait_window Glyvex 300)
sleep 0.5
painted() { grep -c "painted Form2" "$E2E_STDERR" || true; }
before=$(painted)
# "Ansicht / Textansicht" refreshes the fields, twice.
send_keys "$main" alt+a t
sleep 0.3
send_keys "$main" alt+a t
sleep 0.3
after=$(painted)
[ "$after" -ge $((before + 2)) ] || fail "the splash painted $((after - before)) times in two refreshes"
[ -z "$(find_windows Glyvex | while read -r id; do read_geometry "$id"; [ "$GEOM_W" -lt 300 ] && echo "$id"; done)" ] ||
    fail "the splash stayed on the screen after the refresh"
