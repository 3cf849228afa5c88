#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks what apt would get:
# the file name, dependencies computed from the binary, every file below /usr,
# and no maintainer scripts (the icon and menu caches are refreshed by the
# triggers of hicolor-icon-theme and desktop-file-utils, so removal leaves nothing).
#   debian_package.sh BUILD_DIR VERSION APP_ID
set -euo pipefail
build=$1 version=$2 id=$3
tmp=$(mktemp -d)
# Packaging rewrites the build's install_manifest.txt; keep the user's own install's list.
manifest=$build/install_manifest.txt
[ -f "$manifest" ] && cp -p "$manifest" "$tmp/manifest"
cleanup() {
    if [ -f "$tmp/manifest" ]; then cp -p "$tmp/manifest" "$manifest"; else rm -f "$manifest"; fi
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp" >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; fail cpack; }
deb=$tmp/glyvex_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $deb; made: $(ls "$tmp")"

[ "$(dpkg-deb -f "$deb" Package)" = glyvex ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libfontconfig1; do
    [[ ", $depends," == *", $lib "* ]] || fail "Depends lacks $lib: $depends"
done
for field in Maintainer Section Description; do
    [ -n "$(dpkg-deb -f "$deb" $field)" ] || fail "no $field"
done

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$tmp/files"
outside=$(grep -v '^/usr/' "$tmp/files" | grep -vx '/\|/usr' || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"
for f in /usr/bin/glyvex /usr/share/glyvex/glyvex.hlp /usr/share/glyvex/glyvexe.hlp \
         /usr/share/applications/$id.desktop /usr/share/metainfo/$id.metainfo.xml \
         /usr/share/icons/hicolor/16x16/apps/glyvex.png /usr/share/icons/hicolor/256x256/apps/glyvex.png \
         /usr/share/icons/hicolor/scalable/apps/glyvex.svg; do
    grep -qx "$f" "$tmp/files" || fail "package lacks $f"
done
scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -vx 'control\|md5sums\|' || true)
[ -z "$scripts" ] || fail "unexpected control files: $scripts"
echo "$(basename "$deb"): Depends: $depends; $(wc -l <"$tmp/files") entries, all below /usr"
