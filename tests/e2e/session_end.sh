#!/usr/bin/env bash
# The end of a session ends the program as "Beenden" does, so its settings are kept: after
# the user switched to English and typed a new sample text, SIGTERM, SIGHUP, or the display
# going away (the X server ends) leave both in the settings file, and the next start shows
# them. A second SIGTERM while the first one's sequence runs ends the program at once.
source "$(dirname "$0")/lib.sh" "$@"
reg=$HOME/.config/glyvex/registry.reg
fields=360x250+270+90 # the per-font fields below the Text page's entry bar
start_x

for way in SIGTERM SIGHUP display; do
    rm -rf "$XDG_CONFIG_HOME/glyvex"
    start_program
    main=$(wait_window Glyvex 300)
    menu_command "$main" alt+a e # "Ansicht / English"
    menu_command "$main" alt+v t # "View / Text view"
    click_at "$main" 410 62
    send_keys "$main" ctrl+a
    text="Ende $way"
    xdotool type --delay 30 "$text"
    send_keys "$main" alt+r # "&Refresh"
    settled_screenshot "$main" "$E2E_TMP/typed.png" "$fields"
    case $way in
    SIG*) kill -s "$way" "$E2E_PID" ;;
    display) # the window manager goes with it
        kill "$E2E_XVFB_PID"
        wait "$E2E_XVFB_PID" 2>/dev/null || true
        E2E_XVFB_PID=
        stop_wm
        ;;
    esac
    wait_exit 10 >"$E2E_TMP/status"
    status=$(cat "$E2E_TMP/status")
    echo "$way: ended with status $status"
    # The display gone, Qt ends the program with status 1 once the forms have saved.
    [ "$status" = 0 ] || [ "$way:$status" = display:1 ] || fail "$way: exit status $status"
    [ -s "$reg" ] || fail "$way: no settings file"
    grep -qx '"Translator1_CurrentLanguage"="English"' "$reg" || fail "$way: English was not stored: $(cat "$reg")"
    grep -qx "\"Edit1_Text\"=\"$text\"" "$reg" || fail "$way: the sample text was not stored: $(cat "$reg")"
    [ "$way" = display ] && start_x

    # The next start shows them: the English menu ends it, the Text page shows the text.
    start_program
    main=$(wait_window Glyvex 300)
    menu_command "$main" alt+v t
    settled_screenshot "$main" "$E2E_TMP/next.png" "$fields"
    diff=$(pixel_difference "$E2E_TMP/typed.png" "$E2E_TMP/next.png")
    [ "$diff" = 0 ] || fail "$way: the fields after the next start differ from the typed ones in $diff pixels"
    quit_by_menu "$main" alt+f x
done

# Two signals: the second one ends the program at once, by the signal, without waiting for
# the first one's sequence. SIGSTOP holds the program while both arrive (two different ones:
# the same signal twice would be one pending signal), in either order.
rm -rf "$XDG_CONFIG_HOME/glyvex"
start_program
main=$(wait_window Glyvex 300)
kill -STOP "$E2E_PID"
kill -HUP "$E2E_PID"
kill -TERM "$E2E_PID"
kill -CONT "$E2E_PID"
wait_exit 5 >"$E2E_TMP/status"
status=$(cat "$E2E_TMP/status")
[ "$status" = 129 ] || [ "$status" = 143 ] || fail "two signals: exit status $status, not ended by SIGHUP or SIGTERM"
! grep -qs Edit1_Text "$reg" || fail "two signals: the program saved after all: $(cat "$reg")"
echo "two signals: ended by the second (status $status)"
