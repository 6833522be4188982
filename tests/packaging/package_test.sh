#!/usr/bin/env bash
# The installed tree and the Debian package:
#  1. cmake --install puts exactly the expected files under a prefix; the desktop entry passes
#     desktop-file-validate, both manual pages are compressed without a name or time stamp
#     (gzip -9n) and render without a warning, and the changelog is CHANGELOG.md's release in
#     Debian's form.
#  2. cpack -G DEB builds kestrin_<version>_<arch>.deb with the same files under /usr and the
#     Qt 6 libraries and the fonts among its dependencies; lintian, where installed, reports no
#     error and no warning on it.
#  3. From the package unpacked into a scratch root (dpkg -x), kestrin-unit-sim --help works, and
#     kestrin runs the packaged example in unattended automatic mode against the packaged
#     simulator: exit status 0, a journal of journal lines only that ends in success, and the
#     unit received the image whole. Then kestrin-station flashes the same example headless as a
#     one-unit station, finding the packaged kestrin beside it, and records the pass.
# Usage: package_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
scratch=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2> /dev/null || true
    wait "$sim_pid" 2> /dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

expected_files="bin/kestrin
bin/kestrin-station
bin/kestrin-unit-sim
share/applications/kestrin-station.desktop
share/applications/kestrin.desktop
share/doc/kestrin/changelog.gz
share/doc/kestrin/copyright
share/doc/kestrin/examples/LoaderDefault.ini
share/doc/kestrin/examples/demo-image.bin
share/doc/kestrin/examples/demo.sld
share/icons/hicolor/scalable/apps/kestrin.svg
share/man/man1/kestrin-station.1.gz
share/man/man1/kestrin-unit-sim.1.gz
share/man/man1/kestrin.1.gz"

files_under() { (cd "$1" && find . -type f -o -type l) | sed 's|^\./||' | LC_ALL=C sort; }

echo "== cmake --install"
cmake --install "$build" --prefix "$scratch/prefix" > /dev/null
installed=$(files_under "$scratch/prefix")
[ "$installed" = "$expected_files" ] || fail "installed files differ:
$(diff <(echo "$expected_files") <(echo "$installed") || true)"
[ -x "$scratch/prefix/bin/kestrin" ] && [ -x "$scratch/prefix/bin/kestrin-station" ] &&
  [ -x "$scratch/prefix/bin/kestrin-unit-sim" ] ||
  fail "programs are not executable"
if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$scratch/prefix/share/applications/kestrin.desktop"
  desktop-file-validate "$scratch/prefix/share/applications/kestrin-station.desktop"
else
  echo "desktop-file-validate not installed: desktop entry not validated"
fi
for page in "$scratch"/prefix/share/man/man1/*.gz "$scratch/prefix/share/doc/kestrin/changelog.gz"; do
  # gzip -9n: no name (flag bit 3) and no time stamp (bytes 4 to 7) in the header
  header=$(od -An -tx1 -N8 "$page" | tr -d ' ')
  [ "${header:0:8}" = "1f8b0800" ] && [ "${header:8:8}" = "00000000" ] ||
    fail "$(basename "$page") is not compressed with gzip -n: header $header"
done
if command -v man > /dev/null; then
  for page in kestrin kestrin-station kestrin-unit-sim; do
    warnings=$(MANWIDTH=80 man --warnings=all -l "$scratch/prefix/share/man/man1/$page.1.gz" 2>&1 > /dev/null)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
  done
fi
changelog=$(zcat "$scratch/prefix/share/doc/kestrin/changelog.gz")
[[ "$changelog" == "kestrin ($version) unstable; urgency=medium"* ]] ||
  fail "the changelog does not begin with the release $version: $(head -n 1 <<< "$changelog")"
grep -Eq '^ -- .+ <.+>  [A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} 00:00:00 \+0000$' <<< "$changelog" ||
  fail "the changelog has no trailer line"

echo "== cpack -G DEB"
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" > /dev/null)
deb="$scratch/package/kestrin_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$scratch/package")"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libpq5 libqt6core6 libqt6gui6 libqt6widgets6 libqt6sql6 libqt6sql6-sqlite libqt6sql6-psql fonts-liberation fonts-comic-neue; do
  [[ ",$depends," =~ [,\ ]$needed[,\ ] ]] || fail "Depends lacks $needed: $depends"
done
dpkg -x "$deb" "$scratch/root"
packaged=$(files_under "$scratch/root/usr")
[ "$packaged" = "$expected_files" ] || fail "packaged files differ:
$(diff <(echo "$expected_files") <(echo "$packaged") || true)"
if command -v lintian > /dev/null; then
  lintian_report=$(lintian "$deb" 2>&1 || true)
  echo "$lintian_report"
  ! grep -q '^[EW]: ' <<< "$lintian_report" || fail "lintian reports errors or warnings"
else
  echo "lintian not installed: package not checked"
fi

echo "== the packaged programs"
bin="$scratch/root/usr/bin"
"$bin/kestrin-unit-sim" --help | grep -q '^usage: kestrin-unit-sim' || fail "kestrin-unit-sim --help"
"$bin/kestrin-station" --version | grep -qx "kestrin-station $version" || fail "kestrin-station --version"

run="$scratch/run"
mkdir "$run"
cp "$scratch/root/usr/share/doc/kestrin/examples/"* "$run/"
"$bin/kestrin-unit-sim" --pty "$scratch/com1" --save-dir "$scratch/saved" > "$scratch/unit.log" &
sim_pid=$!
for _ in $(seq 100); do [ -e "$scratch/com1" ] && break; sleep 0.1; done
[ -e "$scratch/com1" ] || fail "the simulator made no pseudo-terminal"

status=0
(cd "$run" && env -u XDG_RUNTIME_DIR QT_QPA_PLATFORM=offscreen KESTRIN_UNATTENDED=1 \
   KESTRIN_COM1="$scratch/com1" timeout 120 "$bin/kestrin" 2> "$scratch/journal") || status=$?
cat "$scratch/journal"
[ "$status" -eq 0 ] || fail "kestrin ended with status $status"
noise=$(grep -Ev '^(message|detail|question|status|open|font|answer|progress|upload|result|kestrin|script|image): ' \
  "$scratch/journal" || true)
[ -z "$noise" ] || fail "not a journal line: $noise"
grep -qx 'status: SUCCESS. Reading script file complete' "$scratch/journal" ||
  fail "the script run did not succeed"
[ "$(tail -n 1 "$scratch/journal")" = "result: pass" ] || fail "the journal does not end with result: pass"
cmp "$run/demo-image.bin" "$scratch/saved/image-1.bin" || fail "the unit did not get the image"

printf '[units]\nU1=%s\n' "$scratch/com1" > "$run/station.ini"
status=0
(cd "$run" && env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR timeout 120 \
   "$bin/kestrin-station" --headless station.ini > "$scratch/station.out" 2>&1) || status=$?
cat "$scratch/station.out"
[ "$status" -eq 0 ] || fail "kestrin-station ended with status $status"
grep -q '^U1 pass ' "$scratch/station.out" || fail "the station did not report the pass"
cmp "$run/demo-image.bin" "$scratch/saved/image-2.bin" || fail "the unit did not get the image from the station"
[ -f "$run/records.sqlite" ] || fail "the station wrote no records"
echo "package test passed"
