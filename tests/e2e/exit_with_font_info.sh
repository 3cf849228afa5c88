#!/usr/bin/env bash
# With the font-info window shown, "Datei / Beenden" (by keys) ends the program at once.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start
main=$(wait_window Glyvex 300)
send_keys "$main" ctrl+i
wait_window "Font Info" 0 5 >/dev/null
start=$(now)
menu_command "$main" alt+d b
# Not in a $(...) subshell: only this shell can wait for the program it started.
wait_exit 2 >"$E2E_TMP/status"
status=$(cat "$E2E_TMP/status")
echo "ended $(elapsed_ms "$start") ms after Beenden, status $status"
[ "$status" = 0 ] || fail "exit status $status"
