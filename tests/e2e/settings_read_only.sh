#!/usr/bin/env bash
# Settings the program may read but not write.
# - The file is read-only (no write permission for anyone): its values apply; at the
#   end the program says once, naming the file, that it cannot save, and leaves the
#   file as it was (replacing it by a rename would need no permission on the file, and
#   root would need none at all: the program honours the file's permissions itself).
# - The settings directory is on a read-only file system (a read-only bind mount in a
#   mount namespace of the program's own, which stops root as well; as an ordinary
#   user, a directory without write permission): the same.
source "$(dirname "$0")/lib.sh" "$@"
source "$(dirname "$0")/settings_lib.sh"
start_x
mkdir -p "$E2E_REG_DIR"
program=$E2E_PROGRAM

read_only() { # NAME
    start_settled
    told 0 "$1, at the start"
    # The stored rectangle is the outer one.
    wait_outer "$MAIN" "600x450+*+*"
    show_font_info
    check_usable "$1"
    quit_settled
    told 1 "$1, over the whole run"
    grep -qxF "Konnte Daten für '$E2E_REG' nicht setzen" "$E2E_STDERR" || fail "$1: $(cat "$E2E_STDERR")"
    cmp -s "$E2E_REG" "$E2E_TMP/before.reg" || fail "$1: the file changed: $(cat "$E2E_REG")"
    [ -z "$(find "$E2E_REG_DIR" -name 'registry.reg.*' ! -name '*.lock')" ] ||
        fail "$1: files beside it: $(ls "$E2E_REG_DIR")"
}

e2e_first_start_file | sed 's/"NormPos"=.*/"NormPos"="100,50,700,500"/' >"$E2E_REG"
cp "$E2E_REG" "$E2E_TMP/before.reg"
chmod 444 "$E2E_REG"
read_only "read-only file"
[ "$(stat -c %a "$E2E_REG")" = 444 ] || fail "the file's permissions changed"
echo "ok: read-only file"

chmod 600 "$E2E_REG"
if with_read_only_dir "$E2E_REG_DIR"; then
    how="a read-only bind mount"
elif [ "$(id -u)" != 0 ] || as_ordinary_user; then
    chmod 555 "$E2E_REG_DIR"
    how="a directory without write permission, as $([ "$(id -u)" = 0 ] && echo nobody || id -un)"
else
    skip "no way to make the settings directory unwritable for root here (no mounts, no ordinary user)"
fi
read_only "read-only directory"
E2E_PROGRAM=$program
echo "ok: read-only directory ($how)"
