#!/usr/bin/env bash
# Installs the build into a staging folder as a package would (prefix /usr) and checks what lands
# there: the three programs, running from their new place, the icon and the menu entry, and
# nothing else.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() {
  echo "install test: $*" >&2
  exit 1
}

DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null

expected="usr/bin/zvk
usr/bin/zvk-analog
usr/bin/zvk-sim
usr/share/applications/zvk-analog.desktop
usr/share/icons/hicolor/scalable/apps/zvk-analog.svg"
installed=$(cd "$stage" && find . -type f -o -type l | sed 's|^\./||' | sort)
[[ $installed == "$expected" ]] || fail "installed files differ: got
$installed"

for program in zvk zvk-analog zvk-sim; do
  [[ -x $stage/usr/bin/$program ]] || fail "$program is not executable"
done
"$stage/usr/bin/zvk" --help | grep -q '^ *log ' || fail "the installed zvk does not run or lacks log"
"$stage/usr/bin/zvk-sim" --help >/dev/null || fail "the installed zvk-sim does not run"
QT_QPA_PLATFORM=offscreen "$stage/usr/bin/zvk-analog" --help >/dev/null ||
  fail "the installed zvk-analog does not run"

desktop=$stage/usr/share/applications/zvk-analog.desktop
desktop-file-validate "$desktop" || fail "the menu entry is not valid"
grep -qx 'Exec=zvk-analog' "$desktop" || fail "the menu entry does not start zvk-analog"
grep -qx 'Icon=zvk-analog' "$desktop" || fail "the menu entry does not name the icon"
icon=$stage/usr/share/icons/hicolor/scalable/apps/zvk-analog.svg
grep -q '<svg xmlns="http://www.w3.org/2000/svg"' "$icon" || fail "the icon is no SVG"
echo "install test: passed"
