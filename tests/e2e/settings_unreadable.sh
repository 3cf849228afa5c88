#!/usr/bin/env bash
# A settings file the program cannot read: one without read permission (the program
# runs as an ordinary user, since root reads it anyway), and a FIFO in its place
# (which would block whoever opens it for reading). The program says so once, naming
# the file, however often its windows restore; it comes up with its defaults, works,
# saves nothing over the file, and leaves it as it was.
source "$(dirname "$0")/lib.sh" "$@"
source "$(dirname "$0")/settings_lib.sh"
start_x
mkdir -p "$E2E_REG_DIR"

unreadable() { # NAME
    start_settled
    told 1 "$1, at the start"
    grep -qxF "Konnte Daten für '$E2E_REG' nicht holen" "$E2E_STDERR" || fail "$1: $(cat "$E2E_STDERR")"
    read_geometry "$MAIN"
    [ "${GEOM_W}x$GEOM_H" = 646x472 ] || fail "$1: the main window is ${GEOM_W}x$GEOM_H, not the default"
    show_font_info
    show_font_info
    check_usable "$1"
    quit_settled
    told 1 "$1, over the whole run"
    [ -z "$(find "$E2E_REG_DIR" -name 'registry.reg.*' ! -name '*.lock')" ] ||
        fail "$1: files beside it: $(ls "$E2E_REG_DIR")"
}

e2e_first_start_file | sed 's/"NormPos"=.*/"NormPos"="100,50,700,500"/' >"$E2E_REG"
cp "$E2E_REG" "$E2E_TMP/before.reg"
if as_ordinary_user; then
    chmod 000 "$E2E_REG"
    unreadable "no read permission"
    [ "$(stat -c %a "$E2E_REG")" = 0 ] || fail "the file's permissions changed"
    chmod 600 "$E2E_REG"
    cmp -s "$E2E_REG" "$E2E_TMP/before.reg" || fail "the file without read permission changed"
    echo "ok: no read permission ($([ "$(id -u)" = 0 ] && echo "as user nobody" || echo "as $(id -un)"))"
else
    echo "not checked: no read permission (running as root, and no ordinary user can run the program here)"
fi

rm "$E2E_REG"
mkfifo -m 600 "$E2E_REG"
chown --reference="$E2E_REG_DIR" "$E2E_REG" # the program's own FIFO
unreadable "a FIFO"
[ -p "$E2E_REG" ] || fail "the FIFO was replaced"
echo "ok: a FIFO"
