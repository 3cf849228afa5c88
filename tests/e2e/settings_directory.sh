#!/usr/bin/env bash
# Where the settings directory is not as expected.
# - Missing, with the whole configuration directory above it: the program starts
#   without a word and makes both at its end, with the settings in them.
# - A file where the directory should be (the settings cannot be written there, for
#   root as well): the program says once, naming the settings file, that it cannot
#   save (already at the start, when it makes its base key), starts with its defaults,
#   works, and leaves the file alone.
# (An existing directory that cannot be written is a case of settings_read_only.)
source "$(dirname "$0")/lib.sh" "$@"
source "$(dirname "$0")/settings_lib.sh"
start_x

rm -rf "$XDG_CONFIG_HOME"
start_settled
told 0 "no configuration directory, at the start"
check_usable "missing"
show_font_info
quit_settled
told 0 "no configuration directory"
grep -qx '"Edit1_Text"="Usable missing"' "$E2E_REG" || fail "nothing saved into a new directory"
grep -qx '"Visible"="1"' "$E2E_REG" || fail "the font-info window was not saved into a new directory"
echo "ok: no configuration directory"

rm -rf "$E2E_REG_DIR"
printf 'not a directory\n' >"$E2E_REG_DIR"
cp "$E2E_REG_DIR" "$E2E_TMP/before"
start_settled
told 1 "a file for the directory, at the start"
read_geometry "$MAIN"
[ "${GEOM_W}x$GEOM_H" = 646x472 ] || fail "a file for the directory: the main window is ${GEOM_W}x$GEOM_H"
check_usable "file"
show_font_info
quit_settled
told 1 "a file for the directory, over the whole run"
grep -qxF "Konnte Daten für '$E2E_REG' nicht setzen" "$E2E_STDERR" || fail "$(cat "$E2E_STDERR")"
cmp -s "$E2E_REG_DIR" "$E2E_TMP/before" || fail "the file in the directory's place changed"
[ "$(find "$XDG_CONFIG_HOME" | wc -l)" = 2 ] || fail "files appeared: $(find "$XDG_CONFIG_HOME")"
echo "ok: a file for the directory"
