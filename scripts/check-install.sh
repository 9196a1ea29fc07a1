#!/usr/bin/env bash
# Installs a build tree into a temporary DESTDIR and checks what a desktop
# gets: the files, the desktop entry and the AppStream metainfo by their
# validators, nothing that points into the source or build folder; then builds
# the Debian package from the same tree, lists it and checks its license
# file. Leaves nothing behind.
# Usage: check-install.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "$1" && pwd)"
id=org.velthane.Korvalin
work="$(mktemp -d "${TMPDIR:-/tmp}/korvalin-install.XXXXXX")"
trap 'rm -rf "$work"' EXIT

fail() { echo "check-install: $*" >&2; exit 1; }

DESTDIR="$work/root" cmake --install "$build" --prefix /usr/local --strip >/dev/null
tree="$work/root/usr/local"
expected=(
  bin/korvalin bin/korvalin-cli libexec/korvalin/korvalin-render
  share/applications/$id.desktop
  share/metainfo/$id.metainfo.xml
  share/icons/hicolor/scalable/apps/$id.svg
  share/man/man1/korvalin.1 share/man/man1/korvalin-cli.1
  share/doc/korvalin/copyright
)
for size in 16 32 48 64 128 256; do expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png"); done
for file in "${expected[@]}"; do [ -f "$tree/$file" ] || fail "not installed: $file"; done
for size in 16 32 48 64 128 256; do
  got="$(identify -format '%wx%h' "$tree/share/icons/hicolor/${size}x${size}/apps/$id.png")"
  [ "$got" = "${size}x${size}" ] || fail "the ${size}px icon is $got"
done
[ -x "$tree/bin/korvalin" ] && [ -x "$tree/bin/korvalin-cli" ] || fail "the programs are not executable"
desktop-file-validate "$tree/share/applications/$id.desktop"
appstreamcli validate --no-net --no-color "$tree/share/metainfo/$id.metainfo.xml" >/dev/null \
  || appstreamcli validate --no-net --no-color "$tree/share/metainfo/$id.metainfo.xml"
if grep -rlaF -e "$root" -e "$build" "$tree" >/dev/null; then
  fail "installed files refer to the source or build folder: $(grep -rlaF -e "$root" -e "$build" "$tree" | tr '\n' ' ')"
fi
# The installed programs run from where they are.
"$tree/bin/korvalin-cli" --version >/dev/null
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tree/bin/korvalin" --version >/dev/null
# korvalin-cli finds its page-making helper in the installed tree.
printf 'MThd\0\0\0\6\0\0\0\1\0\140MTrk\0\0\0\14\0\220\74\100\140\200\74\100\0\377\57\0' >"$work/note.mid"
mkdir -m 700 "$work/runtime"
XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu \
  "$tree/bin/korvalin-cli" render "$work/note.mid" "$work/note.pdf" >/dev/null 2>"$work/render.log" \
  || { cat "$work/render.log" >&2; fail "the installed korvalin-cli render failed"; }
[ "$(head -c 4 "$work/note.pdf")" = "%PDF" ] || fail "the installed korvalin-cli render wrote no PDF"
echo "install tree: ${#expected[@]} files in place, desktop entry and metainfo valid"

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
deb="$(find "$work/package" -maxdepth 1 -name 'korvalin_*.deb')"
[ -n "$deb" ] || fail "cpack made no korvalin_*.deb"
name="$(basename "$deb")"
[ "$name" = "korvalin_$("$tree/bin/korvalin-cli" --version | cut -d' ' -f2)_$(dpkg --print-architecture).deb" ] \
  || fail "unexpected package name $name"
dpkg-deb -c "$deb" | tee "$work/contents.txt"
for file in "${expected[@]}"; do
  grep -qF "./usr/$file" "$work/contents.txt" || fail "the package lacks /usr/$file"
done
# The license file as the package carries it: its stanzas parse, every license
# named has its text, and it names the score library the viewer's lock pins.
dpkg-deb -x "$deb" "$work/unpacked"
python3 "$root/scripts/check-copyright.py" "$work/unpacked/usr/share/doc/korvalin/copyright" \
  "$root/viewer/package-lock.json" || fail "the package's copyright file is not in order"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
for wanted in "timgm6mb-soundfont | fluid-soundfont-gm" libqt6webenginecore6 libfluidsynth libc6; do
  grep -qF "$wanted" <<<"$depends" || fail "the package does not depend on $wanted"
done
echo "package: $name"
