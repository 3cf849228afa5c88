# Helpers for the cases on damaged or inaccessible settings: the program's message
# boxes (counted as they are closed), and runs where permissions or a read-only file
# system stop the program. Source after lib.sh.

E2E_REG_DIR=$XDG_CONFIG_HOME/glyvex
E2E_REG=$E2E_REG_DIR/registry.reg
E2E_TOLD=0 # message boxes closed since the program last started
MAIN=      # the main window of the running program

# What the first start of the program writes, byte for byte, under openbox (its NormPos the
# outer rectangle of a 646 x 472 client area in openbox's frame, centred).
e2e_first_start_file() {
    cat <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\glyvex]

[HKEY_CURRENT_USER\Software\Tandor\Glyvex\Forms]
"Flags"="0"
"ShowCmd"="1"
"MinMaxPos"="-1,-1,-4,-4"
"NormPos"="316,263,964,760"
"Visible"="0"
"Edit1_Text"="Sample Text"
"Translator1_CurrentLanguage"="German"

REG
}

is_message_box() { xprop -id "$1" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _NET_WM_WINDOW_TYPE_DIALOG; }

# Viewable message boxes, one id per line.
message_boxes() {
    local id
    for id in $(xdotool search --onlyvisible --name "" 2>/dev/null); do
        is_message_box "$id" && echo "$id"
    done
    return 0
}

# Closes every message box on the screen with its default button, counting it.
dismiss_messages() {
    local id start
    for id in $(message_boxes); do
        # A window found by the search may be gone by now: look again on the next call.
        (focus_window "$id") 2>/dev/null || continue
        echo "message box: $(window_title "$id" 2>/dev/null || true)" >&2
        xdotool key --delay 30 Return
        pause 0.15
        start=$(now)
        while xwininfo -id "$id" 2>/dev/null | grep -q IsViewable; do
            [ "$(elapsed_ms "$start")" -lt 5000 ] || fail "a message box did not close on Return"
            sleep 0.05
        done
        E2E_TOLD=$((E2E_TOLD + 1))
    done
}

# Starts the program and waits (default 60 s) for its main window, closing the message
# boxes that come up first. Sets MAIN.
start_settled() {
    local timeout=${1:-60} start id
    E2E_TOLD=0
    MAIN=
    start_program
    start=$(now)
    while [ "$(elapsed_ms "$start")" -lt $((timeout * 1000)) ]; do
        program_running || fail "the program ended during start-up"
        dismiss_messages
        for id in $(find_windows Glyvex); do
            is_message_box "$id" && continue
            read_geometry "$id" 2>/dev/null || continue
            if [ "$GEOM_W" -ge 300 ]; then
                MAIN=$id
                return 0
            fi
        done
        sleep 0.05
    done
    fail "no main window within ${timeout}s"
}

# Waits a moment for message boxes an action may bring up, and closes them.
settle_messages() {
    pause "${1:-0.5}"
    dismiss_messages
}

# Shows the font-info window (Ctrl+I) and hides it again with the same command,
# closing any message box on the way; fails unless it shows.
show_font_info() {
    send_keys "$MAIN" ctrl+i
    settle_messages 0.3
    wait_window "Font Info" 0 10 >/dev/null
    send_keys "$MAIN" ctrl+i
    settle_messages 0.3
}

# "Datei / Beenden", closing the message boxes that come up until the program has
# ended; fails unless it ends with status 0 within 30 s.
quit_settled() {
    local start
    open_menu "$MAIN" alt+d
    xdotool key b
    start=$(now)
    while [ ! -s "$E2E_TMP/exit-status" ]; do
        [ "$(elapsed_ms "$start")" -lt 30000 ] || fail "the program did not end within 30 s"
        dismiss_messages
        sleep 0.05
    done
    wait_exit 1 >"$E2E_TMP/status"
    [ "$(cat "$E2E_TMP/status")" = 0 ] || fail "the program ended with status $(cat "$E2E_TMP/status")"
}

# Fails unless the last run closed $1 message boxes and wrote $1 reports naming the
# settings file to its error output.
told() {
    local reports
    reports=$(grep -cF -- "$E2E_REG" "$E2E_STDERR" || true)
    [ "$E2E_TOLD" = "$1" ] && [ "$reports" = "$1" ] ||
        fail "$2: $E2E_TOLD message boxes and $reports reports naming $E2E_REG, expected $1"
}

# Fails unless the main window is usable: the Text page comes up and takes a new
# sample text that reaches the per-font fields.
check_usable() {
    local fields=360x250+270+90
    menu_command "$MAIN" alt+a t
    settled_screenshot "$MAIN" "$E2E_TMP/usable-before.png"
    click_at "$MAIN" 410 62
    send_keys "$MAIN" ctrl+a
    xdotool type --delay 20 "Usable $1"
    send_keys "$MAIN" alt+n
    settled_screenshot "$MAIN" "$E2E_TMP/usable-after.png"
    local changed
    changed=$(pixel_difference "$E2E_TMP/usable-before.png" "$E2E_TMP/usable-after.png" "$fields")
    [ "$changed" -gt 500 ] || fail "$1: a new sample text changed only $changed pixels of the fields"
    settle_messages 0.1
}

# A wrapper that runs the program as an ordinary user (nobody) when the case runs as
# root, whom permission bits do not stop; the private home becomes that user's. Sets
# E2E_PROGRAM to it. Returns 1 where no such user can run the program.
as_ordinary_user() {
    [ "$(id -u)" = 0 ] || return 0
    command -v setpriv >/dev/null && id nobody >/dev/null 2>&1 || return 1
    local real=$E2E_PROGRAM group
    group=$(id -g nobody)
    setpriv --reuid=nobody --regid="$group" --clear-groups -- test -x "$real" || return 1
    chmod 755 "$E2E_TMP"
    chown -R "nobody:$group" "$HOME" "$XDG_RUNTIME_DIR"
    printf '#!/bin/sh\nexec setpriv --reuid=nobody --regid=%s --clear-groups -- "%s" "$@"\n' "$group" "$real" \
        >"$E2E_TMP/as-user"
    chmod 755 "$E2E_TMP/as-user"
    E2E_PROGRAM=$E2E_TMP/as-user
}

# A wrapper that runs the program with directory $1 mounted read-only in a mount
# namespace of its own: a read-only file system stops root as well. Sets E2E_PROGRAM
# to it. Returns 1 where this process may not make mounts.
with_read_only_dir() {
    local dir=$1 real=$E2E_PROGRAM
    # shellcheck disable=SC2016
    local mount='mount --bind "$1" "$1" && mount -o remount,ro,bind "$1"'
    unshare -m -- sh -c "$mount" sh "$dir" 2>/dev/null || return 1
    printf '#!/bin/sh\nexec unshare -m -- sh -c '\''%s && exec "$2"'\'' sh "%s" "%s"\n' \
        "$mount" "$dir" "$real" >"$E2E_TMP/read-only"
    chmod 755 "$E2E_TMP/read-only"
    E2E_PROGRAM=$E2E_TMP/read-only
}
