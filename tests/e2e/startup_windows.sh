#!/usr/bin/env bash
# At start-up no window appears that is not one of the program's forms: only the
# splash and the main window are ever mapped. The face metrics are kept once the window is up.
source "$(dirname "$0")/lib.sh" "$@"
start_x
xev -root -event substructure >"$E2E_TMP/xev.log" 2>&1 &
xev_pid=$!
pause 0.2
start_program
main=$(wait_window Glyvex 300)
pause 0.5
kill "$xev_pid" 2>/dev/null || true
wait "$xev_pid" 2>/dev/null || true
# Mapped windows: without a window manager, as the server maps them; with one, the program's
# windows it framed (took into a frame to map them).
if wm_running; then event=ReparentNotify; else event=MapNotify; fi
mapped=$(awk -v e="$event" '$1 == e { getline; for (i = 1; i <= NF; i++) if ($i == "window") { w = $(i + 1); sub(/,$/, "", w); print w } }' \
    "$E2E_TMP/xev.log" | sort -u)
[ -n "$mapped" ] || fail "xev saw no window mapped"
count=0
for id in $mapped; do
    count=$((count + 1))
    title=$(xdotool getwindowname "$((id))" 2>/dev/null || echo "?")
    [ "$title" = Glyvex ] || fail "a window titled \"$title\" ($id) was mapped at start-up"
done
[ "$count" -le 2 ] || fail "$count windows were mapped at start-up, not just the splash and the main window"
# Only the main window is left on the screen.
# (openbox keeps a 1 x 1 window of its own off the screen.)
on_screen() { list_windows | grep IsViewable | grep -v '^[^ ]* "Openbox" ' || true; }
viewable=$(on_screen | grep -c . || true)
[ "$viewable" = 1 ] || fail "windows on the screen: $(on_screen | tr '\n' ';')"
# The face metrics are kept while the program runs (once its window is up), so a session
# that is killed still leaves them for the next start.
cache=$XDG_CACHE_HOME/glyvex/facemetrics.cache
limit=$(scaled_ms 5)
t0=$(now)
while [ ! -s "$cache" ] && [ "$(elapsed_ms "$t0")" -lt "$limit" ]; do sleep 0.1; done
[ -s "$cache" ] || fail "no face-metrics cache written within $((limit / 1000)) s of the window showing"
program_running || fail "the program ended before the test did"
kill -9 "$E2E_PID"
