#!/bin/sh
# Installs the build into a scratch DESTDIR as `make install` does and checks
# the tree: the program and its helpers without debug information, a launcher
# desktop-file-validate accepts named by the reverse-DNS identifier, the icon
# of the same name as SVG and PNGs of their stated sizes.
# Usage: check-install.sh <build dir> <application identifier> <prefix>
set -eu
build=$1 id=$2 prefix=$3
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$root cmake --install "$build" >/dev/null
tree=$root$prefix
[ -x "$tree/bin/pallix" ] || fail "no program in bin"
[ -x "$tree/libexec/pallix/pallix-thumbnailer" ] || fail "no thumbnail helper in libexec/pallix"
[ -x "$tree/libexec/pallix/pallix-recogniser" ] || fail "no recogniser helper in libexec/pallix"
for program in "$tree/bin/pallix" "$tree/libexec/pallix/pallix-thumbnailer" "$tree/libexec/pallix/pallix-recogniser"; do
    ! readelf -S "$program" | grep -q '\.debug_' || fail "$program keeps its debug information"
    ! readelf -S "$program" | grep -q '\.symtab' || fail "$program keeps its symbol table"
done

case $id in
*.desktop) fail "identifier $id makes the launcher end in .desktop.desktop" ;;
esac
[ "$(ls "$tree/share/applications")" = "$id.desktop" ] || fail "launchers: $(ls "$tree/share/applications")"

desktop=$tree/share/applications/$id.desktop
[ -f "$desktop" ] || fail "no launcher $desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the launcher"
grep -qx 'Name=珀溪' "$desktop" || fail "Name is not 珀溪"
grep -qx 'Name\[en\]=Pallix' "$desktop" || fail "no English name"
grep -qx 'Categories=Utility;FileTools;' "$desktop" || fail "categories"
grep -qx "Icon=$id" "$desktop" || fail "icon name"
grep -qx "Exec=\"$prefix/bin/pallix\"" "$desktop" || fail "Exec does not start the installed program"
grep -qx "Exec=\"$prefix/bin/pallix\" --toggle" "$desktop" || fail "no toggle action"
comment=$(sed -n 's/^Comment=//p' "$desktop")
printf '%s' "$comment" | LC_ALL=C grep -q '[^ -~]' || fail "Comment is not Chinese: $comment"

icons=$tree/share/icons/hicolor
grep -q '<svg' "$icons/scalable/apps/$id.svg" || fail "no scalable icon"
for size in 16 32 48 64 128 256; do
    png=$icons/${size}x${size}/apps/$id.png
    [ -f "$png" ] || fail "no ${size}px icon"
    # The PNG header's width and height, big-endian at bytes 16 and 20.
    width=$(od -An -tu1 -j16 -N4 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
    height=$(od -An -tu1 -j20 -N4 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
    [ "$width" = "$size" ] && [ "$height" = "$size" ] || fail "${size}px icon is ${width}x${height}"
done
echo "install tree OK: $tree"
