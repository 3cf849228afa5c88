#!/usr/bin/env bash
# Stored values of another type than the program expects.
# - Text where numbers belong (and a language that does not exist): the defaults
#   apply without a word (a malformed position word counts as 0), and the end writes
#   sound values.
# - A number value where the main window's placement text belongs: the program says
#   so once and works; as that restore did not complete, nothing of the main window
#   is saved, and the file stays as it was.
# - Number values in place of the stored properties and of the font-info window's
#   placement: the properties are skipped silently; the font-info window says so once
#   however often it is shown.
source "$(dirname "$0")/lib.sh" "$@"
source "$(dirname "$0")/settings_lib.sh"
start_x
mkdir -p "$E2E_REG_DIR"

e2e_first_start_file | sed -e 's/"Flags"="0"/"Flags"="null"/' -e 's/"ShowCmd"="1"/"ShowCmd"="maximiert"/' \
    -e 's/"MinMaxPos"=.*/"MinMaxPos"="links,oben"/' -e 's/"NormPos"=.*/"NormPos"="breit,hoch"/' \
    -e 's/"German"/"Klingonisch"/' >"$E2E_REG"
start_settled
told 0 "text for numbers, at the start"
read_geometry "$MAIN"
[ "${GEOM_W}x$GEOM_H" = 646x472 ] || fail "text for numbers: the main window is ${GEOM_W}x$GEOM_H"
check_usable "text"
quit_settled
told 0 "text for numbers"
for line in '"Flags"="0"' '"ShowCmd"="1"' '"MinMaxPos"="0,0,-4,-4"' '"Translator1_CurrentLanguage"="German"' \
    '"Edit1_Text"="Usable text"'; do
    grep -qxF "$line" "$E2E_REG" || fail "text for numbers: no $line in $(cat "$E2E_REG")"
done
grep -qx '"NormPos"="[0-9]*,[0-9]*,[0-9]*,[0-9]*"' "$E2E_REG" || fail "NormPos not restored to numbers"
echo "ok: text for numbers"

e2e_first_start_file | sed 's/"NormPos"=.*/"NormPos"=dword:00000064/' >"$E2E_REG"
cp "$E2E_REG" "$E2E_TMP/before.reg"
start_settled
[ "$(grep -cx "Ungültiger Datentyp für 'NormPos'" "$E2E_STDERR")" = 1 ] && [ "$E2E_TOLD" = 1 ] ||
    fail "a number for the placement: $E2E_TOLD message boxes, stderr: $(cat "$E2E_STDERR")"
check_usable "number"
quit_settled
[ "$E2E_TOLD" = 1 ] || fail "a number for the placement: $E2E_TOLD message boxes over the run"
cmp -s "$E2E_REG" "$E2E_TMP/before.reg" || fail "a number for the placement: the file changed: $(cat "$E2E_REG")"
echo "ok: a number for the placement"

{
    e2e_first_start_file | sed -e 's/"Edit1_Text"=.*/"Edit1_Text"=dword:0000002a/' \
        -e 's/"Translator1_CurrentLanguage"=.*/"Translator1_CurrentLanguage"=hex:47,65,72/'
    printf '\n[HKEY_CURRENT_USER\\Software\\Tandor\\Glyvex\\Forms\\info]\n"NormPos"=hex(b):01,02,03,04,05,06,07,08\n'
} >"$E2E_REG"
start_settled
told 0 "numbers for the properties"
show_font_info
show_font_info
show_font_info
[ "$(grep -cx "Ungültiger Datentyp für 'NormPos'" "$E2E_STDERR")" = 1 ] && [ "$E2E_TOLD" = 1 ] ||
    fail "a number for the font-info placement: $E2E_TOLD message boxes over three shows"
quit_settled
grep -qx '"Edit1_Text"="Sample Text"' "$E2E_REG" || fail "the sample text was not stored afresh: $(cat "$E2E_REG")"
grep -qx '"NormPos"=hex(b):01,02,03,04,05,06,07,08' "$E2E_REG" || fail "the font-info placement was lost"
echo "ok: numbers for the properties and the font-info placement"
