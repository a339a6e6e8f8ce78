#!/usr/bin/env bash
# Builds the Debian package from the build and checks it: its name and architecture, the files
# it holds, and dependencies on exactly the run-time libraries (no development packages).
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() {
  echo "deb test: $*" >&2
  exit 1
}

(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || {
  cat "$out/cpack.log" >&2
  fail "cpack failed"
}
debs=("$out"/*.deb)
((${#debs[@]} == 1)) || fail "expected one package, got ${debs[*]}"
deb=${debs[0]}

[[ $(dpkg-deb -f "$deb" Package) == zvk-analog ]] || fail "package name"
[[ $(dpkg-deb -f "$deb" Architecture) == "$(dpkg --print-architecture)" ]] || fail "architecture"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6charts6 qt6-qpa-plugins; do
  [[ ", $depends," == *", $needed "* || ", $depends," == *", $needed,"* ]] ||
    fail "Depends lacks $needed: $depends"
done
[[ $depends != *-dev* ]] || fail "Depends names a development package: $depends"

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for file in ./usr/bin/zvk-analog ./usr/bin/zvk ./usr/bin/zvk-sim \
  ./usr/lib/zvk-analog/libzvk-analog-trend.so \
  ./usr/share/applications/zvk-analog.desktop \
  ./usr/share/icons/hicolor/scalable/apps/zvk-analog.svg \
  ./usr/share/man/man1/zvk.1.gz ./usr/share/man/man1/zvk-sim.1.gz \
  ./usr/share/bash-completion/completions/zvk ./usr/share/bash-completion/completions/zvk-sim; do
  grep -qx -- "$file" <<<"$contents" || fail "the package lacks $file"
done

# What it unpacks runs.
dpkg-deb -x "$deb" "$out/root"
"$out/root/usr/bin/zvk" --help >/dev/null || fail "the packed zvk does not run"
echo "deb test: passed ($(basename "$deb"): $depends)"
