# Library for the end-to-end cases: each case runs the real program on its own
# Xvfb display with a private home and drives it with xdotool as a user would.
#
#   source "$(dirname "$0")/lib.sh" "$PROGRAM"   # path of the glyvex executable
#   e2e_home_file .config/glyvex/registry.reg <<< "..."   # optional, before e2e_start
#   e2e_start                  # X server, then the program
#   main=$(wait_window Glyvex 300)
#   send_keys "$main" ctrl+i
#   ...
# Cleans up on every exit. Exit status 77 means "skipped" (tools missing).
set -euo pipefail

E2E_PROGRAM=${1:?"usage: <case>.sh PATH-TO-GLYVEX"}
E2E_CASE=$(basename "$0" .sh)
E2E_TMP=$(mktemp -d "${TMPDIR:-/tmp}/glyvex-e2e.XXXXXX")
E2E_XVFB_PID=
E2E_WM_PID=
E2E_PID=
E2E_WRAPPER_PID=
E2E_DISPLAY=
E2E_STDOUT=$E2E_TMP/stdout.log
E2E_STDERR=$E2E_TMP/stderr.log
# Time limits for the program (windows appearing, the program ending) are multiplied by
# this factor; a slower build (the sanitizer one) sets it.
E2E_TIME_FACTOR=${E2E_TIME_FACTOR:-1}

fail() {
    echo "FAIL [$E2E_CASE]: $*" >&2
    if [ -s "$E2E_STDERR" ]; then
        echo "--- program stderr (last lines) ---" >&2
        tail -n 20 "$E2E_STDERR" >&2
    fi
    exit 1
}

skip() {
    echo "SKIP [$E2E_CASE]: $*"
    exit 77
}

e2e_cleanup() {
    local status=$?
    # A case that starts more than lib.sh knows of ends it in e2e_on_exit.
    if declare -F e2e_on_exit >/dev/null; then e2e_on_exit || true; fi
    if [ -n "$E2E_PID" ] && kill -0 "$E2E_PID" 2>/dev/null; then
        kill "$E2E_PID" 2>/dev/null || true
        sleep 0.2
        kill -9 "$E2E_PID" 2>/dev/null || true
    fi
    # The program's wrapper writes its exit status into $E2E_TMP: let it finish first.
    [ -z "$E2E_WRAPPER_PID" ] || wait "$E2E_WRAPPER_PID" 2>/dev/null || true
    stop_wm
    if [ -n "$E2E_XVFB_PID" ] && kill -0 "$E2E_XVFB_PID" 2>/dev/null; then
        kill "$E2E_XVFB_PID" 2>/dev/null || true
        wait "$E2E_XVFB_PID" 2>/dev/null || true
    fi
    if [ "${E2E_KEEP:-}" = 1 ]; then
        echo "kept $E2E_TMP" >&2
    else
        # A process of the case's own (another copy's wrapper) may still write there: try again,
        # and never let the clean-up decide the case.
        rm -rf "$E2E_TMP" 2>/dev/null || { sleep 0.2; rm -rf "$E2E_TMP" 2>/dev/null; } || true
    fi
    exit "$status"
}
trap e2e_cleanup EXIT
trap 'exit 130' INT TERM

command -v Xvfb >/dev/null || skip "Xvfb is not installed (Debian package xvfb)"
command -v xdotool >/dev/null || skip "xdotool is not installed (Debian package xdotool)"
# Every user has a window manager: it frames, places and focuses windows. E2E_NO_WM=1 runs a
# case on the bare X server for a quick look.
if [ "${E2E_NO_WM:-}" != 1 ]; then
    command -v openbox >/dev/null || fail "openbox is missing (Debian package openbox; E2E_NO_WM=1 runs without one)"
fi
for tool in xwininfo xev xprop import compare convert; do
    command -v "$tool" >/dev/null || fail "$tool is missing (Debian packages x11-utils, imagemagick)"
done
[ -x "$E2E_PROGRAM" ] || fail "program $E2E_PROGRAM not found"

# A private home, so no case reads or writes a user's settings. A case may put
# files there before e2e_start.
export HOME=$E2E_TMP/home
export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_RUNTIME_DIR=$E2E_TMP/run
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb
# ImageMagick's worker threads only slow single pictures down on a busy machine.
export MAGICK_THREAD_LIMIT=1
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR QT_STYLE_OVERRIDE || true

# Writes stdin to a file below the private home (path relative to $HOME).
e2e_home_file() {
    mkdir -p "$(dirname "$HOME/$1")"
    cat >"$HOME/$1"
}

# A settings file that holds only the main window's placement: normal, at NormPos $1.
e2e_stored_placement() {
    e2e_home_file .config/glyvex/registry.reg <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Tandor\\Glyvex\\Forms]
"Flags"="0"
"ShowCmd"="1"
"MinMaxPos"="-1,-1,-4,-4"
"NormPos"="$1"
"Visible"="0"
REG
}

# Seconds since the epoch with milliseconds.
now() { date +%s.%N; }
# $1 seconds (may be fractional) in milliseconds, times E2E_TIME_FACTOR.
scaled_ms() { awk -v t="$1" -v f="$E2E_TIME_FACTOR" 'BEGIN { printf "%d", t * f * 1000 }'; }
# Sleeps $1 seconds times E2E_TIME_FACTOR (pacing only: what a case checks, it waits for).
pause() { sleep "$(awk -v t="$1" -v f="$E2E_TIME_FACTOR" 'BEGIN { printf "%.3f", t * f }')"; }
elapsed_ms() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%d", (b - a) * 1000 }'; }

# Starts Xvfb on the first free display of :100 to :199. A lock file per display
# (held for the case's lifetime) keeps parallel cases apart.
start_x() {
    local n lockdir=${TMPDIR:-/tmp}
    for n in $(seq 100 199); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        exec {E2E_LOCK_FD}>"$lockdir/glyvex-e2e-display-$n.lock"
        if ! flock -n "$E2E_LOCK_FD"; then
            exec {E2E_LOCK_FD}>&-
            continue
        fi
        Xvfb ":$n" -screen 0 1280x1024x24 -dpi 96 -nolisten tcp -noreset >"$E2E_TMP/xvfb.log" 2>&1 &
        E2E_XVFB_PID=$!
        export DISPLAY=":$n"
        local i
        for i in $(seq 1 100); do
            if ! kill -0 "$E2E_XVFB_PID" 2>/dev/null; then break; fi
            # Ours only when the server's lock file names our Xvfb (another program
            # may have started one on this display at the same moment).
            if xdotool getdisplaygeometry >/dev/null 2>&1 &&
                [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$E2E_XVFB_PID" ]; then
                E2E_DISPLAY=":$n"
                start_wm
                return 0
            fi
            sleep 0.05
        done
        # Taken after all (or too slow): try the next one.
        kill "$E2E_XVFB_PID" 2>/dev/null || true
        wait "$E2E_XVFB_PID" 2>/dev/null || true
        E2E_XVFB_PID=
        exec {E2E_LOCK_FD}>&-
    done
    fail "no free X display in :100 to :199"
}

# Starts openbox on the display just started (unless E2E_NO_WM=1) and waits until it manages
# the screen: it names its check window on the root window once it has taken over.
start_wm() {
    E2E_WM_PID=
    [ "${E2E_NO_WM:-}" = 1 ] && return 0
    # The private home has no openbox settings: openbox runs as it comes, as for a new user.
    openbox --sm-disable >"$E2E_TMP/openbox-$E2E_DISPLAY.log" 2>&1 &
    E2E_WM_PID=$!
    local start
    start=$(now)
    until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
        kill -0 "$E2E_WM_PID" 2>/dev/null || fail "openbox ended on $DISPLAY: $(tail -n 5 "$E2E_TMP/openbox-$E2E_DISPLAY.log")"
        [ "$(elapsed_ms "$start")" -lt "$(scaled_ms 10)" ] || fail "openbox did not take over $DISPLAY within 10 s"
        sleep 0.05
    done
}

stop_wm() {
    if [ -n "$E2E_WM_PID" ] && kill -0 "$E2E_WM_PID" 2>/dev/null; then
        kill "$E2E_WM_PID" 2>/dev/null || true
        wait "$E2E_WM_PID" 2>/dev/null || true
    fi
    E2E_WM_PID=
}

# Starts the program under test with the arguments given; its output goes to
# $E2E_STDOUT / $E2E_STDERR.
# A small wrapper is its parent and records its exit status, so that wait_exit also
# works inside $(...), where the program is not a child of the shell asking.
start_program() {
    rm -f "$E2E_TMP/pid" "$E2E_TMP/exit-status"
    (
        trap - EXIT INT TERM # the case's clean-up is not the wrapper's
        "$E2E_PROGRAM" "$@" >"$E2E_STDOUT" 2>"$E2E_STDERR" &
        echo $! >"$E2E_TMP/pid.part" && mv "$E2E_TMP/pid.part" "$E2E_TMP/pid"
        status=0
        wait $! || status=$?
        echo "$status" >"$E2E_TMP/exit-status.part" && mv "$E2E_TMP/exit-status.part" "$E2E_TMP/exit-status"
    ) &
    E2E_WRAPPER_PID=$!
    while [ ! -s "$E2E_TMP/pid" ]; do sleep 0.01; done
    E2E_PID=$(cat "$E2E_TMP/pid")
}

e2e_start() {
    start_x
    start_program "$@"
}

program_running() { [ -n "$E2E_PID" ] && kill -0 "$E2E_PID" 2>/dev/null; }

# Viewable top-level windows whose title is exactly $1, one id per line.
find_windows() {
    local title=$1 id
    for id in $(xdotool search --onlyvisible --name "" 2>/dev/null); do
        [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$title" ] && echo "$id"
    done
    return 0
}

# Waits (default 10 s) for a viewable window titled exactly $1 and at least $2
# pixels wide; prints its id. Under a window manager, only once it is framed.
wait_window() {
    local title=$1 minwidth=${2:-0} timeout=${3:-10} start id
    start=$(now)
    while [ "$(elapsed_ms "$start")" -lt "$(scaled_ms "$timeout")" ]; do
        program_running || fail "the program ended while waiting for window \"$title\""
        for id in $(find_windows "$title"); do
            read_geometry "$id" 2>/dev/null || continue
            framed "$id" || continue
            if [ "$GEOM_W" -ge "$minwidth" ]; then
                echo "$id"
                return 0
            fi
        done
        sleep 0.05
    done
    fail "no window titled exactly \"$title\" (at least $minwidth wide) within ${timeout}s; windows: $(list_windows | tr '\n' ';')"
}

wm_running() { [ -n "$E2E_WM_PID" ]; }

# Whether window $1 has its frame (always, without a window manager).
framed() {
    wm_running || return 0
    xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | grep -q '='
}

# Runs the command given until it succeeds, for at most $1 seconds (scaled); fails with $2
# and the command's last output otherwise.
wait_until() {
    local timeout=$1 what=$2 start out
    shift 2
    start=$(now)
    until out=$("$@" 2>&1); do
        [ "$(elapsed_ms "$start")" -lt "$(scaled_ms "$timeout")" ] || fail "$what (last: $out)"
        sleep 0.05
    done
}

# Sets, besides read_geometry's values, FRAME_LEFT, FRAME_RIGHT, FRAME_TOP, FRAME_BOTTOM (the
# window manager's frame of window $1, 0 without one) and OUTER_X, OUTER_Y, OUTER_W, OUTER_H.
read_outer() {
    read_geometry "$1" || return 1
    local ext
    ext=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= *//p' | tr -d ' ')
    IFS=, read -r FRAME_LEFT FRAME_RIGHT FRAME_TOP FRAME_BOTTOM <<<"${ext:-0,0,0,0}"
    OUTER_X=$((GEOM_X - FRAME_LEFT)) OUTER_Y=$((GEOM_Y - FRAME_TOP))
    OUTER_W=$((GEOM_W + FRAME_LEFT + FRAME_RIGHT)) OUTER_H=$((GEOM_H + FRAME_TOP + FRAME_BOTTOM))
}

# Succeeds when window $1's client area is WxH+X+Y ($2; X and Y may be *): prints what it is.
client_is() {
    read_geometry "$1" || return 1
    echo "${GEOM_W}x$GEOM_H+$GEOM_X+$GEOM_Y"
    # shellcheck disable=SC2053
    [[ "${GEOM_W}x$GEOM_H+$GEOM_X+$GEOM_Y" == $2 ]]
}

# Succeeds when window $1's outer rectangle (frame included) is WxH+X+Y ($2; X and Y may be *).
outer_is() {
    read_outer "$1" || return 1
    echo "${OUTER_W}x$OUTER_H+$OUTER_X+$OUTER_Y"
    # shellcheck disable=SC2053
    [[ "${OUTER_W}x$OUTER_H+$OUTER_X+$OUTER_Y" == $2 ]]
}

# Waits (default 5 s) until the client area of window $1 is $2 (as client_is).
wait_client() {
    wait_until "${3:-5}" "window $1's client area is not $2" client_is "$1" "$2"
}

# Waits (default 5 s) until the outer rectangle of window $1 is $2 (as outer_is).
wait_outer() {
    wait_until "${3:-5}" "window $1's outer rectangle is not $2" outer_is "$1" "$2"
}

# "id title WxH+X+Y viewable?" for every child of the root window.
list_windows() {
    local id
    for id in $(xwininfo -root -children | awk '/^ +0x/ { print $1 }'); do
        read_geometry "$id" 2>/dev/null || continue
        echo "$id \"$(xdotool getwindowname "$id" 2>/dev/null || true)\" ${GEOM_W}x${GEOM_H}+${GEOM_X}+${GEOM_Y} $GEOM_MAP"
    done
}

# Sets GEOM_X, GEOM_Y (absolute), GEOM_W, GEOM_H and GEOM_MAP of window $1.
read_geometry() {
    local info
    info=$(xwininfo -id "$1") || return 1
    GEOM_X=$(awk -F: '/Absolute upper-left X/ { gsub(/ /, "", $2); print $2 }' <<<"$info")
    GEOM_Y=$(awk -F: '/Absolute upper-left Y/ { gsub(/ /, "", $2); print $2 }' <<<"$info")
    GEOM_W=$(awk -F: '/^ *Width/ { gsub(/ /, "", $2); print $2 }' <<<"$info")
    GEOM_H=$(awk -F: '/^ *Height/ { gsub(/ /, "", $2); print $2 }' <<<"$info")
    GEOM_MAP=$(awk -F: '/Map State/ { gsub(/ /, "", $2); print $2 }' <<<"$info")
}

window_title() { xdotool getwindowname "$1"; }

# Gives window $1 the keyboard: asks the window manager to activate it, or without one
# raises and focuses it; then waits until it has the focus.
focus_window() {
    if wm_running; then
        xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus --sync "$1" ||
            fail "cannot activate window $1"
    else
        xdotool windowraise "$1" >/dev/null 2>&1 || true
        xdotool windowfocus --sync "$1" || fail "cannot focus window $1"
    fi
    pause 0.1
}

# Focuses window $1, then types the key chords given (xdotool names: ctrl+i alt+d b).
send_keys() {
    local id=$1
    shift
    focus_window "$id"
    local k
    for k in "$@"; do
        xdotool key --delay 30 "$k"
        pause 0.15
    done
}

# Number of viewable children of the root window (forms, menus, popups). A window that goes
# away while xdotool looks at it ends xdotool with an X error (menus and the window manager's
# frames come and go), so the search is tried again; the count never fails the case by itself.
viewable_count() {
    local out="" try
    for try in 1 2 3 4 5 6 7 8 9 10; do
        out=$(xdotool search --onlyvisible --name "" 2>/dev/null) && break
        sleep 0.02
    done
    printf '%s' "$out" | grep -c . || true
}

# Opens a menu of window $1 by its key ($2) and waits until it shows; sets
# MENU_BEFORE to the number of viewable windows before.
open_menu() {
    local start
    MENU_BEFORE=$(viewable_count)
    send_keys "$1" "$2"
    start=$(now)
    while [ "$(viewable_count)" -le "$MENU_BEFORE" ]; do
        [ "$(elapsed_ms "$start")" -lt "$(scaled_ms 5)" ] || fail "the menu of $2 did not open${DISPLAY:+ on $DISPLAY}"
        sleep 0.05
    done
}

# Chooses a menu command by keys, as a user would, waiting for the menu to open
# and to close again, so no key lands anywhere else on a slow machine:
#   menu_command WINDOW alt+a t     ("Ansicht / Textansicht")
menu_command() {
    local id=$1 open=$2 item=$3 before start
    open_menu "$id" "$open"
    before=$MENU_BEFORE
    xdotool key "$item"
    start=$(now)
    while [ "$(viewable_count)" -gt "$before" ]; do
        [ "$(elapsed_ms "$start")" -lt "$(scaled_ms 5)" ] || fail "the menu of $open did not close after $item"
        sleep 0.05
    done
}

# Clicks button 1 at x, y inside window $1.
click_at() {
    xdotool mousemove --window "$1" "$2" "$3" click 1
    pause 0.1
}

# Clicks the close button in window $1's caption (the rightmost button of openbox's title bar).
click_caption_close() {
    wm_running || skip "no window manager, so no caption to click (E2E_NO_WM=1)"
    read_outer "$1"
    xdotool mousemove "$((OUTER_X + OUTER_W - 11))" "$((OUTER_Y + FRAME_TOP / 2))" click 1
}

# Resizes window $1 as the user would (the window system resizes it) and waits until its
# client area has that size.
resize_window() {
    xdotool windowsize --sync "$1" "$2" "$3" 2>/dev/null || xdotool windowsize "$1" "$2" "$3"
    wait_client "$1" "$2x$3+*+*"
}

# Saves a picture of window $1 to file $2 (PNG without dates, so pictures of the
# same pixels are the same bytes).
screenshot() {
    import -window "$1" -define png:exclude-chunks=date,time -strip "$2" 2>/dev/null ||
        fail "cannot take a screenshot of window $1"
}

# Saves a picture of window $1 (or of its region $3, WxH+X+Y) to file $2 once it has stopped
# changing (two pictures in a row alike), so a slow repaint is not caught half-way.
settled_screenshot() {
    local start
    region_shot "$1" "$2" "${3:-}"
    start=$(now)
    while [ "$(elapsed_ms "$start")" -lt "$(scaled_ms 10)" ]; do
        sleep 0.15
        region_shot "$1" "$E2E_TMP/settle.png" "${3:-}"
        if cmp -s "$2" "$E2E_TMP/settle.png"; then return 0; fi
        cp "$E2E_TMP/settle.png" "$2"
    done
    fail "window $1 kept changing"
}

region_shot() {
    screenshot "$1" "$2"
    [ -z "$3" ] || convert "$2" -crop "$3" +repage -define png:exclude-chunks=date,time -strip "$2"
}

# Number of pixels in which two pictures differ (optionally only in the region $3,
# ImageMagick geometry WxH+X+Y).
pixel_difference() {
    local a=$1 b=$2 region=${3:-}
    if [ -z "$region" ] && cmp -s "$a" "$b"; then
        echo 0
        return 0
    fi
    if [ -n "$region" ]; then
        convert "$a" -crop "$region" +repage "$E2E_TMP/cmp-a.png"
        convert "$b" -crop "$region" +repage "$E2E_TMP/cmp-b.png"
        a=$E2E_TMP/cmp-a.png
        b=$E2E_TMP/cmp-b.png
    fi
    # compare reports the count on stderr and exits 1 when the pictures differ.
    { compare -metric AE "$a" "$b" null: 2>&1 || true; } | awk '{ printf "%d", $1 }'
}

# Waits up to $1 seconds (may be fractional) for the program to end; prints its
# exit status. Fails when it is still running.
wait_exit() {
    local timeout_ms start
    timeout_ms=$(scaled_ms "$1")
    start=$(now)
    while [ ! -s "$E2E_TMP/exit-status" ]; do
        [ "$(elapsed_ms "$start")" -lt "$timeout_ms" ] || fail "the program did not end within $1 s"
        sleep 0.02
    done
    E2E_PID=
    cat "$E2E_TMP/exit-status"
}

# Ends the program by a menu command (menu_command's arguments) and fails unless
# it ends within 5 seconds with status 0. Waits in this shell, not in a $(...)
# subshell: only the shell that started the program can wait for it.
quit_by_menu() {
    menu_command "$@"
    wait_exit 5 >"$E2E_TMP/status"
    [ "$(cat "$E2E_TMP/status")" = 0 ] || fail "the program ended with status $(cat "$E2E_TMP/status")"
}
