#!/usr/bin/env bash
# The demo: Kestrin in automatic mode against the unit simulator over a pseudo-terminal.
# Starts kestrin-unit-sim on a pseudo-terminal, maps COM1 to it and runs Kestrin in automatic mode
# on examples/LoaderDefault.ini and examples/demo.sld. The simulator paces the line at the
# configuration's 38400 baud, as a real unit's line runs, so the 32 KiB image takes about 9 s and
# the progress window moves through it. It runs unattended (no dialog waits for anyone), offscreen
# when there is no display, prints the journal, shows the run's result line and ends with
# Kestrin's exit status (0: the image is flashed).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
scripts/install-deps.sh
if [ ! -x build/kestrin ] || [ ! -x build/kestrin-unit-sim ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build -j "$(nproc)" --target kestrin kestrin-unit-sim
fi

run_dir=$(mktemp -d)
pty="$run_dir/com1"
cleanup() { [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$run_dir"; }
trap cleanup EXIT

build/kestrin-unit-sim --pty "$pty" --baud 38400 --save-dir "$run_dir" > "$run_dir/unit.log" &
sim_pid=$!
for _ in $(seq 50); do [ -e "$pty" ] && break; sleep 0.1; done

cp examples/LoaderDefault.ini examples/demo.sld examples/demo-image.bin "$run_dir/"
export KESTRIN_COM1="$pty" KESTRIN_UNATTENDED=1
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  echo "No display: running offscreen."
fi
echo "--- the journal ---"
set +e
(cd "$run_dir" && "$repo/build/kestrin") 2>&1 | tee "$run_dir/journal"
status=${PIPESTATUS[0]}
set -e
echo "--- what the unit saw ---"
cat "$run_dir/unit.log"
echo "--- the outcome ---"
grep '^result: ' "$run_dir/journal" || echo "no result line"
echo "kestrin ended with status $status"
exit "$status"
