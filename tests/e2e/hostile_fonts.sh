#!/usr/bin/env bash
# Damaged and hostile fonts under a private fontconfig configuration: truncated files, a
# table past the end, zero units per em, a huge table count, garbage Type 1 dictionaries,
# and two faces fontconfig still lists from its cache although the files have become a
# FIFO and a link to /dev/zero. The program starts, lists them, shows each one selected
# and every one on the Text page without crashing or hanging, and starts again with its
# caches filled.
source "$(dirname "$0")/lib.sh" "$@"
command -v fc-cache >/dev/null || skip "fc-cache is not installed (Debian package fontconfig)"
sans=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
mono=/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf
t1=/usr/share/fonts/type1/urw-base35/C059-Roman.t1
for f in "$sans" "$mono" "$t1"; do [ -r "$f" ] || skip "$f is not installed"; done

fonts=$E2E_TMP/fonts
mkdir -p "$fonts" "$E2E_TMP/fccache"
cp "$sans" "$fonts/"

source "$(dirname "$0")/hostile_font_files.sh"
make_hostile_fonts "$fonts" "$mono" "$t1"

cat >"$E2E_TMP/fonts.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <dir>$fonts</dir>
  <cachedir>$E2E_TMP/fccache</cachedir>
</fontconfig>
CONF
export FONTCONFIG_FILE=$E2E_TMP/fonts.conf
fc-cache -f >/dev/null 2>&1 || true
# Fontconfig itself would hang scanning a FIFO, so the files change behind its cache,
# whose validity rests on the directory's time.
touch -r "$fonts" "$E2E_TMP/dirtime"
rm "$fonts/fifo.t1" "$fonts/zero.t1"
mkfifo "$fonts/fifo.t1"
ln -s /dev/zero "$fonts/zero.t1"
touch -m -r "$E2E_TMP/dirtime" "$fonts"
families=$(timeout 20 fc-list : family) || fail "fc-list hung or failed on the prepared fonts"
grep -qx "Hostile Fifo" <<<"$families" || fail "the FIFO is not listed: $(tr '\n' ',' <<<"$families")"
count=$(sort -u <<<"$families" | wc -l)
echo "fontconfig lists $count families"

start=$(now)
e2e_start
main=$(wait_window Glyvex 300 60)
first_ms=$(elapsed_ms "$start")
echo "first start: window after $first_ms ms"
cache_written() { [ -s "$XDG_CACHE_HOME/glyvex/facemetrics.cache" ]; }
wait_until 10 "no face-metrics cache written" cache_written

# Select every family in turn: each is shown on the Alphabet page.
read_geometry "$main"
click_at "$main" 40 60
send_keys "$main" Home
for ((i = 0; i <= count; i++)); do
    send_keys "$main" Down
    program_running || fail "the program ended after selecting family $i"
done
# Every family on the Text page.
menu_command "$main" alt+a t
pause 1
program_running || fail "the program ended on the Text page"
# Still answering: the font-info window comes and goes.
send_keys "$main" ctrl+i
wait_window "Font Info" 0 10 >/dev/null
send_keys "$main" ctrl+i
menu_command "$main" alt+d b
status=$(wait_exit 10)
[ "$status" = 0 ] || fail "exit status $status"

# Again, with the face-metrics and fontconfig caches filled.
start=$(now)
start_program
main=$(wait_window Glyvex 300 60)
echo "second start: window after $(elapsed_ms "$start") ms (first $first_ms ms)"
menu_command "$main" alt+d b
status=$(wait_exit 10)
[ "$status" = 0 ] || fail "exit status $status on the second start"
