#!/usr/bin/env bash
# English at exit means English at the next start; German again after switching back.
source "$(dirname "$0")/lib.sh" "$@"
reg=$HOME/.config/glyvex/registry.reg

# Fails unless the menu bar (the top of window $1) looks as in picture $2.
menu_bar_as() {
    settled_screenshot "$1" "$E2E_TMP/now.png"
    local diff
    diff=$(pixel_difference "$2" "$E2E_TMP/now.png" 646x20+0+0)
    [ "$diff" = 0 ] || fail "the menu bar differs from $(basename "$2") in $diff pixels"
}

e2e_start
main=$(wait_window Glyvex 300)
settled_screenshot "$main" "$E2E_TMP/german.png"
menu_command "$main" alt+a e
settled_screenshot "$main" "$E2E_TMP/english.png"
quit_by_menu "$main" alt+f x # "&File / E&xit"
grep -qx '"Translator1_CurrentLanguage"="English"' "$reg" || fail "English was not stored: $(cat "$reg")"

start_program
main=$(wait_window Glyvex 300)
menu_bar_as "$main" "$E2E_TMP/english.png"
menu_command "$main" alt+v d
quit_by_menu "$main" alt+d b
grep -qx '"Translator1_CurrentLanguage"="German"' "$reg" || fail "German was not stored: $(cat "$reg")"

start_program
main=$(wait_window Glyvex 300)
menu_bar_as "$main" "$E2E_TMP/german.png"
