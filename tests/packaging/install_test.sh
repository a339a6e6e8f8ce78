#!/usr/bin/env bash
# Installs the build into a staging folder as a package would (prefix /usr) and checks what lands
# there: the three programs, running from their new place, the trend window's library, found by
# the installed program, the icon and the menu entry, the manual pages and the bash completions,
# and nothing else.
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
usr/lib/zvk-analog/libzvk-analog-trend.so
usr/lib/zvk-analog/zvk-publish
usr/share/applications/zvk-analog.desktop
usr/share/bash-completion/completions/zvk
usr/share/bash-completion/completions/zvk-sim
usr/share/icons/hicolor/scalable/apps/zvk-analog.svg
usr/share/man/man1/zvk-sim.1.gz
usr/share/man/man1/zvk.1.gz"
installed=$(cd "$stage" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[[ $installed == "$expected" ]] || fail "installed files differ: got
$installed"

for program in zvk zvk-analog zvk-sim; do
  [[ -x $stage/usr/bin/$program ]] || fail "$program is not executable"
done
"$stage/usr/bin/zvk" --help | grep -q '^ *log ' || fail "the installed zvk does not run or lacks log"
# zvk hands `publish` to its gateway program in the library folder.
publish_says=$("$stage/usr/bin/zvk" publish --broker http://127.0.0.1 2>&1 || true)
grep -q 'the broker is mqtt://HOST' <<<"$publish_says" || fail "the installed zvk does not find zvk-publish"
"$stage/usr/bin/zvk-sim" --help >/dev/null || fail "the installed zvk-sim does not run"
QT_QPA_PLATFORM=offscreen "$stage/usr/bin/zvk-analog" --help >/dev/null ||
  fail "the installed zvk-analog does not run"

# The installed program opens its trend window from the installed library (a simulated module
# on loopback; the screenshot is the trend window's size only when the window was made).
"$stage/usr/bin/zvk-sim" --model km3 --listen 127.0.0.1 --port 0 >"$stage/sim.out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true; rm -rf "$stage"' EXIT
for _ in $(seq 50); do
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$stage/sim.out")
  [[ -n $port ]] && break
  sleep 0.1
done
[[ -n $port ]] || fail "the installed zvk-sim did not start"
QT_QPA_PLATFORM=offscreen "$stage/usr/bin/zvk-analog" --host 127.0.0.1 --port "$port" \
  --skip-wifi-check --quit-after 1500 --screenshot "$stage/trend.png" --open trend ||
  fail "the installed zvk-analog did not open its trend window"
file "$stage/trend.png" | grep -q '760 x 500' || fail "the screenshot is not the trend window"
kill $sim
wait $sim 2>/dev/null || true
rm -f "$stage/sim.out" "$stage/trend.png"

desktop=$stage/usr/share/applications/zvk-analog.desktop
desktop-file-validate "$desktop" || fail "the menu entry is not valid"
grep -qx 'Exec=zvk-analog' "$desktop" || fail "the menu entry does not start zvk-analog"
grep -qx 'Icon=zvk-analog' "$desktop" || fail "the menu entry does not name the icon"
icon=$stage/usr/share/icons/hicolor/scalable/apps/zvk-analog.svg
grep -q '<svg xmlns="http://www.w3.org/2000/svg"' "$icon" || fail "the icon is no SVG"
# The manual pages and completions as the build wrote them (tests/packaging/manual_test.sh and
# completion_test.sh check what they say), where man and bash-completion look for them.
for name in zvk zvk-sim; do
  cmp -s "$stage/usr/share/man/man1/$name.1.gz" "$build/packaging/docs/$name.1.gz" ||
    fail "the installed page of $name is not the one built"
  MANPATH=$stage/usr/share/man man -w "$name" >/dev/null 2>&1 || fail "man does not find $name"
  bash --norc --noprofile -c 'source "$1" && complete -p "$2"' _ \
    "$stage/usr/share/bash-completion/completions/$name" "$name" >/dev/null ||
    fail "the installed completion does not complete $name"
done
echo "install test: passed"
