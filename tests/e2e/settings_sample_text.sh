#!/usr/bin/env bash
# A changed sample text comes back at the next start and reaches every per-font
# field at the first refresh: the Text page then looks as it did when the text
# was typed and shown.
source "$(dirname "$0")/lib.sh" "$@"
reg=$HOME/.config/glyvex/registry.reg
# The fields below the entry bar of the Text page (window coordinates).
fields=360x250+270+90
e2e_start
main=$(wait_window Glyvex 300)
menu_command "$main" alt+a t
settled_screenshot "$main" "$E2E_TMP/before.png"
# Into the entry field, replace its text, then "Neu anzeigen" (Alt+N).
click_at "$main" 410 62
send_keys "$main" ctrl+a
xdotool type --delay 30 "Quarz Jagd"
send_keys "$main" alt+n
settled_screenshot "$main" "$E2E_TMP/typed.png"
changed=$(pixel_difference "$E2E_TMP/before.png" "$E2E_TMP/typed.png" "$fields")
[ "$changed" -gt 500 ] || fail "typing the text changed only $changed pixels of the fields"
quit_by_menu "$main" alt+d b
grep -qx '"Edit1_Text"="Quarz Jagd"' "$reg" || fail "the text was not stored: $(cat "$reg")"

start_program
main=$(wait_window Glyvex 300)
menu_command "$main" alt+a t
settled_screenshot "$main" "$E2E_TMP/next.png"
diff=$(pixel_difference "$E2E_TMP/typed.png" "$E2E_TMP/next.png" "$fields")
[ "$diff" = 0 ] || fail "the fields after the next start differ from the typed ones in $diff pixels"
