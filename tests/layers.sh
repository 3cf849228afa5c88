#!/usr/bin/env bash
# The layer check passes on the source tree, and fails on a copy with a wrong include planted:
# up a layer or across between the middle layers, naming the file and line.
#   tests/layers.sh SOURCE-TREE
set -euo pipefail
src=$1
check=$src/scripts/check-layers
"$check" "$src"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for plant in "controls/RXSplit.cpp unit1.h" "platform/Types.h RxHook.h" "settings/RxHook.h Trans.h" \
    "translate/Trans.cpp   #  include   \"RXCtrls.h\"  // spaced"; do
    file=${plant%% *}
    line=${plant#* }
    [[ $line == *'#'* ]] || line="#include \"$line\""
    rm -rf "$tmp/tree"
    mkdir "$tmp/tree"
    cp -r "$src"/{platform,controls,settings,translate,app} "$tmp/tree/"
    echo "$line" >>"$tmp/tree/$file"
    at=$(wc -l <"$tmp/tree/$file")
    if "$check" "$tmp/tree" 2>"$tmp/err" >/dev/null; then
        echo "not caught: $line in $file" >&2
        exit 1
    fi
    grep -q "^$file:$at: " "$tmp/err" || { echo "not named as $file:$at:" >&2; cat "$tmp/err" >&2; exit 1; }
done
echo "layers: planted includes caught"
