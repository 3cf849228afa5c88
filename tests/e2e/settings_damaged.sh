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
