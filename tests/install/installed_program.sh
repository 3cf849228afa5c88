#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop gets:
# every installed file in place, the program started by its menu entry's
# command on a private Xvfb shows its main window, and F1 finds the German
# help in the installed data directory (nothing lies beside the installed
# program, and the desktop's data directories are empty). Moving the help
# away must then give the viewer's "not found" window, so the check can fail.
#   installed_program.sh BUILD_DIR APP_ID
set -euo pipefail
build=$1 id=$2
tmp=$(mktemp -d)
pids=()
# Installing rewrites the build's install_manifest.txt; keep the user's own install's list.
manifest=$build/install_manifest.txt
[ -f "$manifest" ] && cp -p "$manifest" "$tmp/manifest"
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
    if [ -f "$tmp/manifest" ]; then cp -p "$tmp/manifest" "$manifest"; else rm -f "$manifest"; fi
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -s "$tmp/program.log" ] && sed 's/^/  program: /' "$tmp/program.log" >&2; exit 1; }

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || { cat "$tmp/install.log"; fail "install"; }

share=$prefix/share
for f in bin/glyvex share/glyvex/glyvex.hlp share/glyvex/glyvexe.hlp share/applications/$id.desktop \
         share/metainfo/$id.metainfo.xml share/icons/hicolor/scalable/apps/glyvex.svg; do
    [ -f "$prefix/$f" ] || fail "not installed: $f"
done
[ -x "$prefix/bin/glyvex" ] || fail "bin/glyvex is not executable"
for size in 16 22 24 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x$size/apps/glyvex.png
    file -b "$png" | grep -q "^PNG image data, $size x $size," || fail "icon $png: $(file -b "$png")"
done
[ -z "$(find "$prefix/bin" -name '*.hlp')" ] || fail "help files lie beside the installed program"
# The metadata's launchable must name the installed menu entry.
appstreamcli validate-tree --no-net "$prefix" >"$tmp/tree.log" 2>&1 || { cat "$tmp/tree.log"; fail "validate-tree"; }
exec_line=$(sed -n 's/^Exec=//p' "$share/applications/$id.desktop")
[ "$exec_line" = "glyvex %F" ] || fail "menu entry runs '$exec_line'"
# A launcher puts the files chosen in place of %F; started from the menu there are none.
exec_line=${exec_line% %F}

# A private X server on a display it picks itself, and a private home.
mkdir -p "$tmp/home" "$tmp/run" "$tmp/empty-data-dir"
chmod 700 "$tmp/run"
# -noreset: the server would reset when the first program leaves, and refuse the next one meanwhile.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
export DISPLAY=:$(head -1 "$tmp/display") QT_QPA_PLATFORM=xcb PATH=$prefix/bin:$PATH \
       HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_CACHE_HOME=$tmp/home/.cache \
       XDG_DATA_HOME=$tmp/home/.local/share XDG_DATA_DIRS=$tmp/empty-data-dir XDG_RUNTIME_DIR=$tmp/run

wait_window() { # TITLE SECONDS: prints the visible window's id
    # Qt may add " — Glyvex" (the application's name) to the title it gives the window manager.
    local w=""
    for _ in $(seq $(($2 * 10))); do
        w=$(xdotool search --onlyvisible --name "^$1( — Glyvex)?\$" 2>/dev/null | tail -1) && [ -n "$w" ] && break
        sleep 0.1
    done
    [ -n "$w" ] && echo "$w"
}

# Starts the menu entry's command, waits for the main window, presses F1 and
# expects a help window titled $1.
help_window_after_f1() {
    (cd "$tmp/home" && exec $exec_line) >"$tmp/program.log" 2>&1 &
    local pid=$!
    pids+=($pid)
    local main="" w
    # The splash is titled "Glyvex" too; the main window is the wide one. On a slow
    # (or sanitizer) build F1 pressed on the splash would go nowhere.
    for _ in $(seq 600); do
        for w in $(xdotool search --onlyvisible --name "^Glyvex( — Glyvex)?\$" 2>/dev/null); do
            [ "$(xdotool getwindowgeometry "$w" 2>/dev/null | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')" -ge 300 ] 2>/dev/null && main=$w
        done
        [ -n "$main" ] && break
        sleep 0.1
    done
    [ -n "$main" ] || fail "no main window titled 'Glyvex'"
    # Without a window manager a key can go astray while the window is still settling
    # under load: focus and press again a few times before giving up.
    local shown=""
    for _ in 1 2 3; do
        xdotool windowfocus --sync "$main" 2>/dev/null || true
        sleep 0.3
        xdotool key --clearmodifiers F1
        wait_window "$1" 5 >/dev/null && { shown=1; break; }
    done
    [ -n "$shown" ] || fail "F1 gave no window titled '$1'; windows: $(xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | tr '\n' '|')"
    kill "$pid" && wait "$pid" 2>/dev/null || true
}

help_window_after_f1 "Glyvex-Hilfe"
echo "installed program: main window 'Glyvex', F1 shows 'Glyvex-Hilfe' from $share/glyvex"
mv "$share/glyvex" "$share/glyvex.away"
help_window_after_f1 "Hilfe – glyvex.hlp"
echo "without its data directory F1 reports the missing help"
