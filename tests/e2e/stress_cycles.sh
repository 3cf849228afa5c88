#!/usr/bin/env bash
# CYCLES starts and exits of the program (default 500) with random stored values; after
# every exit the settings file holds exactly what that exit wrote, and the next start
# brings it back:
#   stress_cycles.sh PATH-TO-GLYVEX [CYCLES] [SEED]
# Before about half the starts the values are put into the file as another program
# would (random size, language and sample text, with quotes, backslashes, non-Latin
# letters and tabs, which go into the file as bytes); in every run the window is
# resized, and now and then the language switched or a new text typed, at random.
# The file after each exit is compared byte for byte with the one expected.
source "$(dirname "$0")/lib.sh" "$1"
cycles=${2:-500}
seed=${3:-$((($$ + $(date +%s)) % 32768))}
RANDOM=$seed
reg=$XDG_CONFIG_HOME/glyvex/registry.reg
start_x

pick() { # one of the arguments
    local n=$((RANDOM % $#)) && shift "$n" && echo "$1"
}
# Typed texts keep to the keyboard map of the X server: xdotool types other characters
# by remapping a key for a moment, and now and then the program sees the key before
# the new map, so a letter goes astray in the typing, not in the settings. Stored texts
# add letters of other scripts and a tab.
typed_words=(Quarz Jagd '"zitiert"' 'C:\Pfad' "x" "3,5" "a+b=c")
stored_words=("${typed_words[@]}" "Größe" "Euro€" "Æble" "ΣΩ" "Ñandú" "日本")
random_text() {
    local n=$((1 + RANDOM % 4)) i t=""
    if [ "${1:-}" = stored ]; then
        for ((i = 0; i < n; i++)); do t+="${t:+ }$(pick "${stored_words[@]}")"; done
        [ $((RANDOM % 3)) = 0 ] && t+=$'\t'"Tab"
    else
        for ((i = 0; i < n; i++)); do t+="${t:+ }$(pick "${typed_words[@]}")"; done
    fi
    printf '%s' "$t"
}

# The value as the program writes it: quoted text, or the text's UTF-16 bytes where it
# holds a control character.
encoded() {
    if [[ "$1" == *[[:cntrl:]]* ]]; then
        printf 'hex(1):%s,00,00' "$(printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v |
            tr -s ' \n' ',' | sed 's/^,//; s/,$//')"
    else
        local q=${1//\\/\\\\}
        printf '"%s"' "${q//\"/\\\"}"
    fi
}

# The whole file for the values in W H X Y LANGUAGE TEXT.
settings_file() {
    printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\glyvex]\n\n'
    printf '[HKEY_CURRENT_USER\\Software\\Tandor\\Glyvex\\Forms]\n'
    printf '"Flags"="0"\n"ShowCmd"="1"\n"MinMaxPos"="-1,-1,-4,-4"\n'
    printf '"NormPos"="%d,%d,%d,%d"\n"Visible"="0"\n' "$X" "$Y" $((X + W)) $((Y + H))
    printf '"Edit1_Text"=%s\n"Translator1_CurrentLanguage"="%s"\n\n' "$(encoded "$TEXT")" "$LANGUAGE"
}

W= H= LANGUAGE=German TEXT="Sample Text" # no size stored yet: the designed client area
stored=0 resized=0 switched=0 typed=0 began=$(now)
echo "seed $seed"
for cycle in $(seq 1 "$cycles"); do
    if [ $((RANDOM % 2)) = 0 ]; then
        W=$((500 + RANDOM % 500)) H=$((380 + RANDOM % 420)) X=$((RANDOM % 300)) Y=$((RANDOM % 200))
        LANGUAGE=$(pick German English) TEXT=$(random_text stored)
        mkdir -p "$(dirname "$reg")"
        settings_file >"$reg"
        stored=$((stored + 1))
    fi
    start_program
    main=$(wait_window Glyvex 300 60)
    # The stored rectangle is the outer one.
    if [ -z "$W" ]; then
        wait_client "$main" "646x472+*+*"
    else
        outer_is "$main" "${W}x$H+*+*" >/dev/null || wait_outer "$main" "${W}x$H+*+*"
    fi
    if [ "$LANGUAGE" = German ]; then menus=(alt+a alt+d b alt+n); else menus=(alt+v alt+f x alt+r); fi

    if [ $((RANDOM % 4)) = 0 ]; then
        if [ "$LANGUAGE" = German ]; then
            menu_command "$main" alt+a e
            LANGUAGE=English menus=(alt+v alt+f x alt+r)
        else
            menu_command "$main" alt+v d
            LANGUAGE=German menus=(alt+a alt+d b alt+n)
        fi
        switched=$((switched + 1))
    fi
    if [ $((RANDOM % 5)) = 0 ]; then
        TEXT=$(random_text)
        menu_command "$main" "${menus[0]}" t
        click_at "$main" 410 62
        send_keys "$main" ctrl+a
        xdotool type --delay 20 "$TEXT"
        send_keys "$main" "${menus[3]}"
        typed=$((typed + 1))
    fi
    resize_window "$main" $((500 + RANDOM % 500)) $((380 + RANDOM % 420))
    resized=$((resized + 1))
    read_outer "$main"
    W=$OUTER_W H=$OUTER_H X=$OUTER_X Y=$OUTER_Y
    quit_by_menu "$main" "${menus[1]}" "${menus[2]}"

    settings_file >"$E2E_TMP/expected.reg"
    if ! cmp -s "$reg" "$E2E_TMP/expected.reg"; then
        diff "$E2E_TMP/expected.reg" "$reg" | head -20 >&2 || true
        fail "cycle $cycle (seed $seed): the file is not what the exit wrote"
    fi
    if [ -n "$(find "$(dirname "$reg")" -name 'registry.reg.*' ! -name '*.lock')" ]; then
        fail "cycle $cycle: files beside the settings: $(ls "$(dirname "$reg")")"
    fi
    if grep "Daten\|Einstellungsdatei\|Datentyp" "$E2E_STDERR"; then fail "cycle $cycle: an error was reported"; fi
done
echo "start-and-exit cycles: $cycles (seed $seed), $(($(elapsed_ms "$began") / 1000)) s; values stored from" \
    "outside $stored times, window resized $resized times, language switched $switched times, text typed" \
    "$typed times; every exit's file as expected"
