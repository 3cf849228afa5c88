#!/usr/bin/env bash
# English at exit means English at the next start; German again after switching back.
source "$(dirname "$0")/lib.sh" "$@"
reg=$HOME/.config/glyvex/registry.reg
bar=646x20+0+0
e2e_start
main=$(wait_window Glyvex 300)
settled_screenshot "$main" "$E2E_TMP/german.png"
menu_command "$main" alt+a e
settled_screenshot "$main" "$E2E_TMP/english.png"
# "&File / E&xit" in English.
menu_command "$main" alt+f x
# Not in a subshell: only this shell can wait for the program it started.
wait_exit 5 >"$E2E_TMP/status"
[ "$(cat "$E2E_TMP/status")" = 0 ] || fail "the program ended with status $(cat "$E2E_TMP/status")"
grep -qx '"Translator1_CurrentLanguage"="English"' "$reg" || fail "English was not stored: $(cat "$reg")"

start_program
main=$(wait_window Glyvex 300)
settled_screenshot "$main" "$E2E_TMP/next.png"
diff=$(pixel_difference "$E2E_TMP/english.png" "$E2E_TMP/next.png" "$bar")
[ "$diff" = 0 ] || fail "the next start's menu bar is not the English one ($diff pixels differ)"
menu_command "$main" alt+v d
menu_command "$main" alt+d b
# Not in a subshell: only this shell can wait for the program it started.
wait_exit 5 >"$E2E_TMP/status"
[ "$(cat "$E2E_TMP/status")" = 0 ] || fail "the program ended with status $(cat "$E2E_TMP/status")"
grep -qx '"Translator1_CurrentLanguage"="German"' "$reg" || fail "German was not stored: $(cat "$reg")"

start_program
main=$(wait_window Glyvex 300)
settled_screenshot "$main" "$E2E_TMP/german-again.png"
diff=$(pixel_difference "$E2E_TMP/german.png" "$E2E_TMP/german-again.png" "$bar")
[ "$diff" = 0 ] || fail "back in German the menu bar differs in $diff pixels"
