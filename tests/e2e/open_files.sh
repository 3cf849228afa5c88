#!/usr/bin/env bash
# Font files given on the command line open for the run: a font made here under a family
# name nothing installed has is listed, selected and previewed, and the font-info window
# names its file. A text file, a missing path, a directory and the hostile-fonts set given
# with it get one message naming each bad path, and the program runs on. A family several
# foundries ship (Nimbus Sans, from fonts-urw-base35) stands in the list once, and no
# entry carries Qt's "[Foundry]".
source "$(dirname "$0")/lib.sh" "$@"
source "$(dirname "$0")/settings_lib.sh"
source "$(dirname "$0")/hostile_font_files.sh"
command -v xprop >/dev/null || skip "xprop is not installed (Debian package x11-utils)"
python=/usr/bin/python3
[ -x "$python" ] || python=python3
"$python" -c 'import fontTools' 2>/dev/null || skip "fontTools is not installed (Debian package python3-fonttools)"
serif=/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf
mono=/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf
t1=/usr/share/fonts/type1/urw-base35/C059-Roman.t1
for f in "$serif" "$mono" "$t1"; do [ -r "$f" ] || skip "$f is not installed"; done
fc-list : family | tr ',' '\n' | grep -qx "Nimbus Sans" || skip "Nimbus Sans is not installed (fonts-urw-base35)"

family="Glyvex Probe Qzx"
files=$E2E_TMP/files
mkdir -p "$files/hostile"
"$python" - "$serif" "$files/probe.ttf" "$family" <<'PY'
import sys
from fontTools.ttLib import TTFont
source, out, family = sys.argv[1:]
font = TTFont(source)
for rec in font["name"].names:
    if rec.nameID in (1, 4, 16):
        rec.string = family
    elif rec.nameID == 3:
        rec.string = family + " (test)"
    elif rec.nameID == 6:
        rec.string = family.replace(" ", "") + "-Regular"
font.save(out)
PY
fc-list : family | grep -qx "$family" && skip "a font named $family is installed"
echo "Nothing but text." >"$files/notes.txt"
make_hostile_fonts "$files/hostile" "$mono" "$t1"
rm "$files/hostile/fifo.t1" "$files/hostile/zero.t1"
mkfifo "$files/hostile/fifo.t1"
ln -s /dev/zero "$files/hostile/zero.t1"

export QT_LOGGING_RULES="glyvex.fonts.debug=true;glyvex.fonts.info.debug=true"
start_x
start_program "$files/probe.ttf" "$files/notes.txt" "$files/missing.otf" "$files" "$files"/hostile/*

# Waits (default 10 s) for a line of the program's error output matching $1; prints the
# last such line.
wait_log() {
    local pattern=$1 timeout=${2:-10} start
    start=$(now)
    until grep -qE -- "$pattern" "$E2E_STDERR"; do
        program_running || fail "the program ended while waiting for \"$pattern\""
        [ "$(elapsed_ms "$start")" -lt "$(scaled_ms "$timeout")" ] || fail "no \"$pattern\" within ${timeout}s"
        sleep 0.05
    done
    grep -E -- "$pattern" "$E2E_STDERR" | tail -n 1
}

# One message for the bad paths, each named once, in the interface's language (German).
start=$(now)
until [ -n "$(message_boxes)" ]; do
    program_running || fail "the program ended before its message"
    [ "$(elapsed_ms "$start")" -lt "$(scaled_ms 60)" ] || fail "no message box about the bad paths"
    sleep 0.05
done
report=$(wait_log "notes.txt")
for bad in "notes.txt“ ist keine Schrift" "missing.otf“ gibt es nicht" "„$files“ ist keine gewöhnliche Datei" \
    "fifo.t1“ ist keine gewöhnliche Datei" "zero.t1“ ist keine gewöhnliche Datei"; do
    [ "$(grep -cF -- "$bad" "$E2E_STDERR")" = 1 ] || fail "the message does not say once: $bad"
done
grep -qF "probe.ttf" "$E2E_STDERR" && fail "the good font file was reported: $(grep -F probe.ttf "$E2E_STDERR")"
echo "message: $report"
dismiss_messages
[ "$E2E_TOLD" = 1 ] || fail "$E2E_TOLD message boxes, expected one"
main=$(wait_window Glyvex 300 60)

# The probe family selected, named in the status bar and drawn in the preview.
status=$(wait_log "status: .*\| $family \|")
[[ "$status" == *"| preview: $family" ]] || fail "the preview is not drawn in $family: $status"
count=$(sed -E 's/.*status: ([0-9]+) Fonts .*/\1/' <<<"$status")
echo "$status"

# The font-info window names the file it came from.
send_keys "$main" ctrl+i
wait_window "Font Info" 0 10 >/dev/null
info=$(wait_log "font info: $family \|")
[[ "$info" == *"font info: $family | probe.ttf" ]] || fail "the font-info window shows: $info"
send_keys "$main" ctrl+i

# Every entry of the list, read from the status bar while walking it with the arrow key.
read_geometry "$main"
click_at "$main" 40 60
send_keys "$main" Home
before=$(grep -c "status:" "$E2E_STDERR")
keys=()
for ((i = 1; i < count; i++)); do keys+=(Down); done
focus_window "$main"
[ "${#keys[@]}" = 0 ] || xdotool key --delay 20 "${keys[@]}"
start=$(now)
while [ "$(grep -c "status:" "$E2E_STDERR")" -lt $((before + count - 1)) ]; do
    program_running || fail "the program ended while walking the list"
    [ "$(elapsed_ms "$start")" -lt "$(scaled_ms 30)" ] || fail "walking the list did not reach its end"
    sleep 0.05
done
entries=$(grep "status:" "$E2E_STDERR" | tail -n "$count" | sed -E 's/.*status: [0-9]+ Fonts \| (.*) \| preview:.*/\1/')
[ "$(sort -u <<<"$entries" | wc -l)" = "$count" ] || fail "the walk did not see $count different entries: $(tr '\n' ';' <<<"$entries")"
[ "$(grep -cx "Nimbus Sans" <<<"$entries")" = 1 ] || fail "\"Nimbus Sans\" is not listed exactly once: $(tr '\n' ';' <<<"$entries")"
grep -q "\[" <<<"$entries" && fail "entries with a foundry in brackets: $(grep "\[" <<<"$entries" | tr '\n' ';')"
grep -qx "$family" <<<"$entries" || fail "$family is not in the list"
echo "$count entries, each once"

program_running || fail "the program ended"
quit_by_menu "$main" alt+d b

# With English stored, the message comes in English: it waits for the window, whose first
# showing restores the language.
reg=$XDG_CONFIG_HOME/glyvex/registry.reg
grep -q '"Translator1_CurrentLanguage"="German"' "$reg" || fail "no language stored: $(cat "$reg")"
sed -i 's/"Translator1_CurrentLanguage"="German"/"Translator1_CurrentLanguage"="English"/' "$reg"
start_program "$files/notes.txt"
wait_log "notes.txt" >/dev/null
grep -qF "The file “$files/notes.txt” is not a font Glyvex can read." "$E2E_STDERR" ||
    fail "no English message: $(grep -F notes.txt "$E2E_STDERR")"
E2E_TOLD=0
start=$(now)
while [ "$E2E_TOLD" = 0 ]; do
    [ "$(elapsed_ms "$start")" -lt "$(scaled_ms 10)" ] || fail "no message box in English"
    dismiss_messages
    sleep 0.05
done
# Only now: the message box is titled "Glyvex" too, and may be as wide as the main window.
main=$(wait_window Glyvex 300 60)
quit_by_menu "$main" alt+f x
