#!/usr/bin/env bash
# The station demo: kestrin-station flashes four simulated units at once.
# Starts four kestrin-unit-sim on four pseudo-terminals, paced at the configuration's 38400 baud as
# a real unit's line runs; unit A3 is made to refuse loader mode, so its flash fails on purpose.
# The station folder holds examples/LoaderDefault.ini, demo.sld and demo-image.bin and a station
# file listing the four units. Without a display the station runs headless and prints a line per
# change, the table and where the records are; with one it opens its window (press Start).
# Ends by writing the report of the records (report.html in the station folder) and with the
# station's exit status: 1 headless, because A3 fails.
#
#   scripts/demo-station.sh --continuous [RUNS]
#
# A hands-free line instead (start=when_present): every unit is good, and a simulated operator
# swaps one unit at a time, taking 4 s for each: as soon as a unit is done, it is taken off (its
# simulator falls silent, its device stays) and a fresh one is put on. Each fixture starts by
# itself. Headless, the station ends after RUNS runs (12 by default) with status 0; with a
# display, press Start in the window, and the operator swaps each unit 10 s after it is done.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
continuous=false
runs=12
if [ "${1:-}" = --continuous ]; then
  continuous=true
  runs=${2:-12}
fi
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
  $continuous && echo "start=when_present"
  echo "[units]"
} > "$station_dir/station.ini"
for unit in A1 A2 A3 A4; do
  options=(--pty "$station_dir/$unit.tty" --baud 38400)
  if $continuous; then
    # The operator's hands: a pipe to the simulator's standard input.
    mkfifo "$station_dir/$unit.hands"
    build/kestrin-unit-sim "${options[@]}" --control < "$station_dir/$unit.hands" > "$station_dir/$unit-unit.log" &
    sim_pids+=($!)
    exec {hands}> "$station_dir/$unit.hands"
    eval "hands_$unit=$hands"
  else
    [ "$unit" = A3 ] && options+=(--normal-only)
    build/kestrin-unit-sim "${options[@]}" > "$station_dir/$unit-unit.log" &
    sim_pids+=($!)
  fi
  echo "$unit=$station_dir/$unit.tty" >> "$station_dir/station.ini"
done
for unit in A1 A2 A3 A4; do
  for _ in $(seq 50); do [ -e "$station_dir/$unit.tty" ] && break; sleep 0.1; done
done

# One operator: one swap at a time, 4 s each, after `wait` seconds.
swap() {
  local unit=$1 wait=$2 fd
  fd=$(eval echo "\$hands_$unit")
  (
    sleep "$wait"
    flock 9
    echo "operator: taking $unit off and putting a fresh unit on"
    echo absent >&"$fd"
    sleep 4
    echo present >&"$fd"
  ) 9> "$station_dir/operator.lock" &
}

echo "Station folder: $station_dir"
status=0
if $continuous; then
  echo "A hands-free line: each fixture starts by itself when its unit is on it."
  if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running headless until $runs runs have ended."
    set +e
    "$repo/build/kestrin-station" --headless --cycles "$runs" "$station_dir/station.ini" |
      while IFS= read -r line; do
        echo "$line"
        case "$line" in
          A?" pass "* | A?" fail:"*) swap "${line%% *}" 0 ;;
        esac
      done
    status=${PIPESTATUS[0]}
    set -e
  else
    echo "Press Start: the operator swaps each unit 10 s after it is done."
    "$repo/build/kestrin-station" "$station_dir/station.ini" &
    station_pid=$!
    while kill -0 "$station_pid" 2>/dev/null; do
      for unit in A1 A2 A3 A4; do
        if grep -qs "checksum ok" "$station_dir/$unit-unit.log" &&
           [ "$(grep -c 'checksum ok' "$station_dir/$unit-unit.log")" -gt "$(grep -c 'unit absent' "$station_dir/$unit-unit.log")" ]; then
          swap "$unit" 10
          sleep 15
        fi
      done
      sleep 1
    done
    wait "$station_pid" || status=$?
  fi
else
  echo "Unit A3 refuses loader mode on purpose: its flash fails, so the station ends with exit status 1."
  if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running headless."
    "$repo/build/kestrin-station" --headless "$station_dir/station.ini" || status=$?
  else
    "$repo/build/kestrin-station" "$station_dir/station.ini" || status=$?
  fi
fi
echo "Records: $station_dir/records.sqlite (kestrin-station --export-csv FILE $station_dir/station.ini)"
"$repo/build/kestrin-station" --report "$station_dir/report.html" "$station_dir/station.ini" > /dev/null &&
  echo "Report: $station_dir/report.html (open it in a browser)"
echo "kestrin-station ended with exit status $status."
exit "$status"
