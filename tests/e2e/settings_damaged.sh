#!/usr/bin/env bash
# A settings file that cannot be read as a whole: cut short inside a value, cut to
# nothing, or holding bytes that are not UTF-8. Each time the program says so once,
# naming the file, comes up with its defaults and works; the damaged file is kept
# byte for byte beside the fresh one the program writes at its end.
source "$(dirname "$0")/lib.sh" "$@"
source "$(dirname "$0")/settings_lib.sh"
start_x

good=$E2E_TMP/good.reg
e2e_first_start_file | sed 's/"Sample Text"/"Grüße aus der Datei"/' >"$good"
size=$(stat -c %s "$good")

damaged() { # NAME, then the damaged file on stdin
    local name=$1 aside
    rm -rf "$E2E_REG_DIR"
    mkdir -p "$E2E_REG_DIR"
    cat >"$E2E_REG"
    cp "$E2E_REG" "$E2E_TMP/damaged.reg"
    start_settled
    told 1 "$name, at the start"
    grep -q "beiseitegelegt" "$E2E_STDERR" || fail "$name: the report does not say the file was set aside"
    read_geometry "$MAIN"
    [ "${GEOM_W}x$GEOM_H" = 646x472 ] || fail "$name: the main window is ${GEOM_W}x$GEOM_H, not the default"
    check_usable "$name"
    show_font_info
    quit_settled
    told 1 "$name, over the whole run"
    aside=$(find "$E2E_REG_DIR" -name 'registry.reg.bad-*')
    [ "$(wc -l <<<"$aside")" = 1 ] && [ -n "$aside" ] || fail "$name: set aside as '$aside'"
    cmp -s "$aside" "$E2E_TMP/damaged.reg" || fail "$name: the file set aside is not the damaged one"
    grep -qx '"Edit1_Text"="Usable '"$name"'"' "$E2E_REG" || fail "$name: no fresh file: $(cat "$E2E_REG")"
    grep -qx '"Visible"="1"' "$E2E_REG" || fail "$name: the font-info window was not saved"
    echo "ok: $name"
}

# Cut inside the sample text's value (its closing quote is gone).
head -c "$(($(grep -bo 'aus der' "$good" | cut -d: -f1) + 3))" "$good" | damaged "cut short"
damaged "cut to nothing" </dev/null
# Grüße with the ü as a Latin-1 byte.
sed 's/Grüße/Gr\xfc\xdfe/' "$good" | damaged "not UTF-8"
echo "the intact file is $size bytes"

read -r screen_w screen_h < <(xdotool getdisplaygeometry)
norm_pos() { grep -x '"NormPos"=.*' "$E2E_REG" | sed 's/^"NormPos"="\(.*\)"$/\1/'; }

stored_size() { # NAME NORMPOS MIN-W MIN-H [usable: also check the window works]
    local name=$1 l t r b
    rm -rf "$E2E_REG_DIR"
    mkdir -p "$E2E_REG_DIR"
    e2e_first_start_file | sed "s/\"NormPos\"=\".*\"/\"NormPos\"=\"$2\"/" >"$E2E_REG"
    start_settled
    told 0 "$name, at the start"
    read_geometry "$MAIN"
    # The whole frame, title bar included, is on the screen; the stored rectangle is that outer one.
    read_outer "$MAIN"
    [ "$OUTER_X" -ge 0 ] && [ "$OUTER_Y" -ge 0 ] && [ $((OUTER_X + OUTER_W)) -le "$screen_w" ] &&
        [ $((OUTER_Y + OUTER_H)) -le "$screen_h" ] ||
        fail "$name: the main window's frame is ${OUTER_W}x$OUTER_H+$OUTER_X+$OUTER_Y on a ${screen_w}x$screen_h screen"
    [ "$OUTER_W" -ge "$3" ] && [ "$OUTER_H" -ge "$4" ] || fail "$name: the main window is only ${OUTER_W}x$OUTER_H outside"
    [ -z "${5:-}" ] || check_usable "$name"
    quit_settled
    told 0 "$name, over the whole run"
    IFS=, read -r l t r b <<<"$(norm_pos)"
    [ "$l" -ge 0 ] && [ "$t" -ge 0 ] && [ "$r" -le "$screen_w" ] && [ "$b" -le "$screen_h" ] ||
        fail "$name: written back as $(norm_pos)"
    [ $((r - l)) = "$OUTER_W" ] && [ $((b - t)) = "$OUTER_H" ] ||
        fail "$name: written back as $(norm_pos), but the window was ${OUTER_W}x$OUTER_H outside"
    echo "ok: $name (${GEOM_W}x$GEOM_H, written back as $(norm_pos))"
}
stored_size "huge stored size" 0,0,100000,100000 600 400 usable
stored_size "stored size at the widget limit" 0,0,16777215,16777215 600 400
stored_size "stored size past the screen" 0,0,4000,3000 600 400
stored_size "stored size too small to use" 10,10,20,20 320 240

# The lock: held by another process for as long as this case needs.
holder=
e2e_on_exit() { if [ -n "$holder" ]; then kill "$holder" 2>/dev/null || true; fi; }
hold_lock() {
    # The subshell becomes the sleep, so ending $holder ends the holder and frees the lock;
    # no output of it keeps the case's pipes open.
    (
        exec 9>>"$E2E_REG.lock"
        flock -x 9
        exec sleep 600
    ) </dev/null >/dev/null 2>&1 &
    holder=$!
    local start
    start=$(now)
    until [ -e "$E2E_REG.lock" ] && ! flock -n "$E2E_REG.lock" true; do
        [ "$(elapsed_ms "$start")" -lt 10000 ] || fail "the lock could not be taken for the case"
        sleep 0.02
    done
}
held_lock() { # NAME: the file as it is before the start (none: a first start)
    local name=$1 began
    [ -e "$E2E_REG" ] && cp "$E2E_REG" "$E2E_TMP/before.reg"
    start_settled 30
    told 0 "$name, at the start"
    send_keys "$MAIN" ctrl+i # the font-info window too has a save to give up
    settle_messages 0.3
    wait_window "Font Info" 0 10 >/dev/null
    began=$(now)
    quit_settled
    told 1 "$name, at the end"
    grep -F "$E2E_REG" "$E2E_STDERR" | grep -q "anderen Programm gesperrt" ||
        fail "$name: the report does not say another program holds the file: $(cat "$E2E_STDERR")"
    echo "ok: $name (ended $(elapsed_ms "$began") ms after Beenden)"
}
rm -rf "$E2E_REG_DIR"
mkdir -p "$E2E_REG_DIR"
hold_lock
held_lock "lock held at a first start"
[ ! -e "$E2E_REG" ] || fail "lock held at a first start: a file was written: $(cat "$E2E_REG")"
kill "$holder"
wait "$holder" 2>/dev/null || true
holder=
e2e_first_start_file >"$E2E_REG"
hold_lock
held_lock "lock held with settings stored"
cmp -s "$E2E_REG" "$E2E_TMP/before.reg" || fail "lock held with settings stored: the file changed"
