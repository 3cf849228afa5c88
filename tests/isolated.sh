#!/bin/sh
# Runs one test program headless with a private home, so no test reads or
# writes a user's settings.
set -e
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config" XDG_CACHE_HOME="$dir/home/.cache" \
       XDG_RUNTIME_DIR="$dir/run" QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
exec "$@"
