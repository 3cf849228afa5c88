#!/usr/bin/env bash
# "Ansicht / English" by keys turns the menu bar English; "View / Deutsch" turns it back.
source "$(dirname "$0")/lib.sh" "$@"
e2e_start
main=$(wait_window Glyvex 300)
settled_screenshot "$main" "$E2E_TMP/german.png"
menu_command "$main" alt+a e
settled_screenshot "$main" "$E2E_TMP/english.png"
# The menu bar is the top of the window.
bar=646x20+0+0
diff=$(pixel_difference "$E2E_TMP/german.png" "$E2E_TMP/english.png" "$bar")
[ "$diff" -gt 50 ] || fail "the menu bar did not change with the language ($diff pixels)"
[ "$(window_title "$main")" = Glyvex ] || fail "title changed to \"$(window_title "$main")\""
# "&View" in English: Alt+V, then "&Deutsch".
menu_command "$main" alt+v d
settled_screenshot "$main" "$E2E_TMP/german-again.png"
diff=$(pixel_difference "$E2E_TMP/german.png" "$E2E_TMP/german-again.png" "$bar")
[ "$diff" = 0 ] || fail "back in German the menu bar differs in $diff pixels"
