#!/usr/bin/env bash
# Two copies of the program save the same settings file at the same moment, ROUNDS
# times (default 200), and no value is lost:
#   stress_two_copies.sh PATH-TO-GLYVEX [ROUNDS]
# Each copy runs on an X display of its own (so each has its own keyboard and menus)
# with the same home. In every round both start, copy A switches the language, copy
# B types a new sample text, and both are ended by "Beenden" in the same instant.
# Each copy saves all of its values; the file must then hold A's language and B's
# text. Ends with a summary line: rounds, lost values, time, how far apart the two
# ends were. Then once more, with a placement stored away from where the main window
# is centred: copy A is resized and ended, then copy B, which the user never
# touched; the file must keep A's size.
source "$(dirname "$0")/lib.sh" "$1"
rounds=${2:-200}
reg=$XDG_CONFIG_HOME/glyvex/registry.reg

start_x
display_a=$DISPLAY xvfb_a=$E2E_XVFB_PID wm_a=$E2E_WM_PID
E2E_XVFB_PID= E2E_WM_PID=
start_x
display_b=$DISPLAY
declare -A pid
e2e_on_exit() {
    local n
    for n in a b; do
        if [ -n "${pid[$n]:-}" ]; then kill "${pid[$n]}" 2>/dev/null || true; fi
    done
    [ -z "$wm_a" ] || kill "$wm_a" 2>/dev/null || true
    kill "$xvfb_a" 2>/dev/null || true
}

# Starts copy $1 (a or b) on its display; its exit status lands in $E2E_TMP/status-$1.
launch() {
    local n=$1 display
    display=display_$n
    rm -f "$E2E_TMP/status-$n" "$E2E_TMP/pid-$n"
    (
        trap - EXIT INT TERM
        DISPLAY=${!display} "$E2E_PROGRAM" >"$E2E_TMP/stdout-$n" 2>"$E2E_TMP/stderr-$n" &
        echo $! >"$E2E_TMP/pid-$n.part" && mv "$E2E_TMP/pid-$n.part" "$E2E_TMP/pid-$n"
        status=0
        wait $! || status=$?
        date +%s.%N >"$E2E_TMP/ended-$n"
        echo "$status" >"$E2E_TMP/status-$n.part" && mv "$E2E_TMP/status-$n.part" "$E2E_TMP/status-$n"
    ) &
    while [ ! -s "$E2E_TMP/pid-$n" ]; do sleep 0.01; done
    pid[$n]=$(cat "$E2E_TMP/pid-$n")
}

# The main window of copy $1 (a or b), on the current display.
main_window() {
    local n=$1 start id
    start=$(now)
    while [ "$(elapsed_ms "$start")" -lt 60000 ]; do
        for id in $(find_windows Glyvex); do
            read_geometry "$id" 2>/dev/null || continue
            [ "$GEOM_W" -ge 300 ] && echo "$id" && return 0
        done
        [ -s "$E2E_TMP/status-$n" ] && break
        sleep 0.05
    done
    local how="still running"
    [ -s "$E2E_TMP/status-$n" ] && how="ended with status $(cat "$E2E_TMP/status-$n")"
    fail "round $round: no main window of copy $n on $DISPLAY ($how); windows: $(list_windows | tr '\n' ';')" \
        "its messages: $(tail -c 2000 "$E2E_TMP/stderr-$n")"
}

value() { grep -x "\"$1\"=.*" "$reg" | sed 's/^"[^"]*"="\(.*\)"$/\1/'; }

lost=0 gaps=0 maxgap=0 language=German began=$(now)
for round in $(seq 1 "$rounds"); do
    launch a
    launch b
    a=$(DISPLAY=$display_a main_window a)
    b=$(DISPLAY=$display_b main_window b)

    # A: the other language.
    if [ "$language" = German ]; then
        DISPLAY=$display_a menu_command "$a" alt+a e
        language=English quit_a=(alt+f x)
    else
        DISPLAY=$display_a menu_command "$a" alt+v d
        language=German quit_a=(alt+d b)
    fi
    # B: a new sample text, on the Text page (B's language is the one A left last time).
    text="Runde $round $RANDOM"
    if [ "$language" = German ]; then # A left English
        DISPLAY=$display_b menu_command "$b" alt+v t
        quit_b=(alt+f x)
    else
        DISPLAY=$display_b menu_command "$b" alt+a t
        quit_b=(alt+d b)
    fi
    DISPLAY=$display_b click_at "$b" 410 62
    DISPLAY=$display_b send_keys "$b" ctrl+a
    DISPLAY=$display_b xdotool type --delay 20 "$text"

    # Both menus open, then both commands in the same instant.
    DISPLAY=$display_a open_menu "$a" "${quit_a[0]}"
    DISPLAY=$display_b open_menu "$b" "${quit_b[0]}"
    DISPLAY=$display_a xdotool key "${quit_a[1]}" &
    key_a=$!
    DISPLAY=$display_b xdotool key "${quit_b[1]}" &
    key_b=$!
    wait "$key_a" "$key_b"
    start=$(now)
    while [ ! -s "$E2E_TMP/status-a" ] || [ ! -s "$E2E_TMP/status-b" ]; do
        [ "$(elapsed_ms "$start")" -lt 20000 ] || fail "round $round: the copies did not end"
        sleep 0.02
    done
    pid[a]= pid[b]=
    [ "$(cat "$E2E_TMP/status-a")$(cat "$E2E_TMP/status-b")" = 00 ] || fail "round $round: exit status"
    gap=$(awk -v x="$(cat "$E2E_TMP/ended-a")" -v y="$(cat "$E2E_TMP/ended-b")" \
        'BEGIN { d = (x - y) * 1000; printf "%d", d < 0 ? -d : d }')
    gaps=$((gaps + gap))
    [ "$gap" -gt "$maxgap" ] && maxgap=$gap

    got_language=$(value Translator1_CurrentLanguage) got_text=$(value Edit1_Text)
    if [ "$got_language" != "$language" ]; then
        lost=$((lost + 1))
        echo "round $round: A's language $language lost, the file holds $got_language (ends ${gap} ms apart)"
    fi
    if [ "$got_text" != "$text" ]; then
        lost=$((lost + 1))
        echo "round $round: B's text \"$text\" lost, the file holds \"$got_text\" (ends ${gap} ms apart)"
    fi
    language=$got_language
    if [ -n "$(find "$(dirname "$reg")" -name 'registry.reg.*' ! -name '*.lock')" ]; then
        fail "round $round: files beside the settings: $(ls "$(dirname "$reg")")"
    fi
    if grep -h "Daten\|Einstellungsdatei" "$E2E_TMP/stderr-a" "$E2E_TMP/stderr-b"; then
        fail "round $round: a copy reported a settings error"
    fi
done
echo "two copies: $rounds rounds, $((2 * rounds)) values, $lost lost, $(($(elapsed_ms "$began") / 1000)) s;" \
    "the copies ended $((gaps / rounds)) ms apart on average, at most $maxgap ms"
[ "$lost" = 0 ] || fail "$lost values lost"

# Both copies centre their main windows at the stored size, away from the stored place.
round="resize kept"
sed -i 's/^"NormPos"=.*/"NormPos"="100,50,700,500"/' "$reg"
launch a
launch b
a=$(DISPLAY=$display_a main_window a)
b=$(DISPLAY=$display_b main_window b)
DISPLAY=$display_a resize_window "$a" 800 600
DISPLAY=$display_a read_geometry "$a"
[ "${GEOM_W}x$GEOM_H" = 800x600 ] || fail "$round: copy A is ${GEOM_W}x$GEOM_H after the resize"
# The stored rectangle is the outer one: the client area plus the window manager's frame.
DISPLAY=$display_a read_outer "$a"
outer_a=${OUTER_W}x$OUTER_H
if [ "$language" = German ]; then quit=(alt+d b); else quit=(alt+f x); fi
quit_copy() { # a or b, then its window
    local start
    DISPLAY=$(eval echo "\$display_$1") open_menu "$2" "${quit[0]}"
    DISPLAY=$(eval echo "\$display_$1") xdotool key "${quit[1]}"
    start=$(now)
    while [ ! -s "$E2E_TMP/status-$1" ]; do
        [ "$(elapsed_ms "$start")" -lt 20000 ] || fail "$round: copy $1 did not end"
        sleep 0.02
    done
    pid[$1]=
    [ "$(cat "$E2E_TMP/status-$1")" = 0 ] || fail "$round: copy $1 ended with status $(cat "$E2E_TMP/status-$1")"
}
quit_copy a "$a"
from_a=$(value NormPos)
IFS=, read -r left top right bottom <<<"$from_a"
[ $((right - left))x$((bottom - top)) = "$outer_a" ] || fail "$round: copy A stored $from_a, its outer size was $outer_a"
quit_copy b "$b"
[ "$(value NormPos)" = "$from_a" ] || fail "$round: copy B, untouched, replaced A's $from_a by $(value NormPos)"
echo "ok: a resize in one copy is kept while an untouched copy ends after it ($from_a)"
