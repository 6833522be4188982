#!/usr/bin/env bash
# The station demo: kestrin-station flashes four simulated units at once.
# Starts four kestrin-unit-sim on four pseudo-terminals, paced at the configuration's 38400 baud as
# a real unit's line runs; unit A3 is made to refuse loader mode, so its flash fails on purpose.
# The station folder holds examples/LoaderDefault.ini, demo.sld and demo-image.bin and a station
# file listing the four units. Without a display the station runs headless and prints a line per
# change, the table and where the records are; with one it opens its window (press Start).
# Ends with the station's exit status: 1 headless, because A3 fails.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
scripts/install-deps.sh
if [ ! -x build/kestrin ] || [ ! -x build/kestrin-station ] || [ ! -x build/kestrin-unit-sim ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build -j "$(nproc)" --target kestrin kestrin-station kestrin-unit-sim
fi

station_dir=$(mktemp -d)
sim_pids=()
cleanup() {
  for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

cp examples/LoaderDefault.ini examples/demo.sld examples/demo-image.bin "$station_dir/"
{
  echo "[station]"
  echo "name=Demo bench"
  echo "time_limit=300"
  echo "[units]"
} > "$station_dir/station.ini"
for unit in A1 A2 A3 A4; do
  faults=()
  [ "$unit" = A3 ] && faults=(--normal-only)
  build/kestrin-unit-sim --pty "$station_dir/$unit.tty" --baud 38400 "${faults[@]}" \
    > "$station_dir/$unit-unit.log" &
  sim_pids+=($!)
  echo "$unit=$station_dir/$unit.tty" >> "$station_dir/station.ini"
done
for unit in A1 A2 A3 A4; do
  for _ in $(seq 50); do [ -e "$station_dir/$unit.tty" ] && break; sleep 0.1; done
done

echo "Station folder: $station_dir"
echo "Unit A3 refuses loader mode on purpose: its flash fails, so the station ends with exit status 1."
status=0
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running headless."
  "$repo/build/kestrin-station" --headless "$station_dir/station.ini" || status=$?
else
  "$repo/build/kestrin-station" "$station_dir/station.ini" || status=$?
fi
echo "Records: $station_dir/records.sqlite (kestrin-station --export-csv FILE $station_dir/station.ini)"
echo "kestrin-station ended with exit status $status."
exit "$status"
