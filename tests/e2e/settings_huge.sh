#!/usr/bin/env bash
# Settings far beyond what a person stores: a 10 MB sample text, a 10 MB value of
# another program, and a key path 10,000 levels deep. The program starts without a
# word, works, and keeps the other program's value and the deep key byte for byte.
# The sample text comes back as much of it as its field holds (32,767 characters).
source "$(dirname "$0")/lib.sh" "$@"
source "$(dirname "$0")/settings_lib.sh"
start_x
mkdir -p "$E2E_REG_DIR"

# Lines with values of 10 MB (far beyond what a command line may carry).
line10() { printf '"%s"="' "$1"; head -c 10485760 /dev/zero | tr '\0' "$2"; printf '"\n'; }
line10 Edit1_Text A >"$E2E_TMP/sample.line"
# Replaces the sample text's line of the settings file by the 10 MB one.
put_sample() { sed -i -e '/^"Edit1_Text"=/{r '"$E2E_TMP/sample.line" -e 'd}' "$E2E_REG"; }
deep=$(printf 'Software\\Tandor\\Glyvex\\Forms'; printf '\\k%.0s' $(seq 10000))
{
    e2e_first_start_file
    printf '[HKEY_CURRENT_USER\\Software\\Other]\n'
    line10 Blob B
    printf '\n[HKEY_CURRENT_USER\\%s]\n"Depth"="10000"\n\n' "$deep"
} >"$E2E_REG"
put_sample
grep -x '"Blob"=.*' "$E2E_REG" >"$E2E_TMP/blob"
grep -x '\[HKEY_CURRENT_USER\\Software\\Tandor\\Glyvex\\Forms\\k\\.*\]' "$E2E_REG" >"$E2E_TMP/deep"
[ "$(stat -c %s "$E2E_TMP/deep")" -gt 20000 ] || fail "the deep key was not made"

start=$(now)
start_settled
echo "main window after $(elapsed_ms "$start") ms"
told 0 "huge values, at the start"
show_font_info
check_usable "huge"
quit_settled
told 0 "huge values"
grep -x '"Blob"=.*' "$E2E_REG" | cmp -s - "$E2E_TMP/blob" || fail "the 10 MB value of another program changed"
grep -x '\[HKEY_CURRENT_USER\\Software\\Tandor\\Glyvex\\Forms\\k\\.*\]' "$E2E_REG" | cmp -s - "$E2E_TMP/deep" ||
    fail "the deep key changed"
grep -A1 -xF "[HKEY_CURRENT_USER\\$deep]" "$E2E_REG" | grep -qx '"Depth"="10000"' || fail "the deep key lost its value"
grep -qx '"Edit1_Text"="Usable huge"' "$E2E_REG" || fail "the new sample text was not stored"

# Not typed over: the stored text comes back cut to what its field holds.
put_sample
start_settled
menu_command "$MAIN" alt+a t
quit_settled
told 0 "huge values, second run"
[ "$(grep -x '"Edit1_Text"=.*' "$E2E_REG")" = "\"Edit1_Text\"=\"$(head -c 32767 /dev/zero | tr '\0' A)\"" ] ||
    fail "the sample text was not stored as its field holds it: $(grep '"Edit1_Text"' "$E2E_REG" | wc -c) bytes"
echo "ok, file now $(stat -c %s "$E2E_REG") bytes"
