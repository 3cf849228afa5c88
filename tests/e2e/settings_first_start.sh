#!/usr/bin/env bash
# First start with no settings file, then "Datei / Beenden": the file holds the
# empty base key and the main window's seven values in order, as text; its NormPos is the
# outer (framed) rectangle. With the font-info window shown once, it also holds that
# window's five values.
# (The comparison drops the file's last line break, as $(...) does.)
source "$(dirname "$0")/lib.sh" "$@"
reg=$HOME/.config/glyvex/registry.reg
e2e_start
main=$(wait_window Glyvex 300)
wait_client "$main" "646x472+*+*"
read_outer "$main"
wait_outer "$main" "${OUTER_W}x$OUTER_H+$(((1280 - OUTER_W) / 2))+$(((1024 - OUTER_H) / 2))"
norm="$OUTER_X,$OUTER_Y,$((OUTER_X + OUTER_W)),$((OUTER_Y + OUTER_H))"
quit_by_menu "$main" alt+d b
forms='[HKEY_CURRENT_USER\Software\Tandor\Glyvex\Forms]
"Flags"="0"
"ShowCmd"="1"
"MinMaxPos"="-1,-1,-4,-4"
"NormPos"="'$norm'"
"Visible"="0"
"Edit1_Text"="Sample Text"
"Translator1_CurrentLanguage"="German"'
expected='Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\glyvex]

'$forms
[ "$(cat "$reg")" = "$expected" ] || fail "first start left:
$(cat "$reg")
--- expected:
$expected"

rm "$reg"
start_program
main=$(wait_window Glyvex 300)
send_keys "$main" ctrl+i
info=$(wait_window "Font Info" 0 5)
wait_client "$info" "202x247+*+*"
read_outer "$info"
infonorm="$OUTER_X,$OUTER_Y,$((OUTER_X + OUTER_W)),$((OUTER_Y + OUTER_H))"
quit_by_menu "$main" alt+d b
expected="$expected"'

[HKEY_CURRENT_USER\Software\Tandor\Glyvex\Forms\info]
"Flags"="0"
"ShowCmd"="1"
"MinMaxPos"="-1,-1,-1,-1"
"NormPos"="'$infonorm'"
"Visible"="1"'
[ "$(cat "$reg")" = "$expected" ] || fail "with the font-info window shown the file holds:
$(cat "$reg")
--- expected:
$expected"
