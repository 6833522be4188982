#!/usr/bin/env bash
# Looks for tests that pass or fail with the timing: builds build/ and build-asan/ as
# scripts/test.sh does, then runs both suites ROUNDS times (5 by default), each with ctest -j 8,
# while a CPU hog keeps every core busy (stress-ng, or plain busy loops where it is missing).
# At the end it lists every test that failed at least once, with how often; it exits 1 when any
# did. Each round's ctest output is kept in build-stress/ for the failures' details.
#
#   scripts/stress-tests.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
[[ "$rounds" =~ ^[1-9][0-9]*$ ]] || { echo "usage: scripts/stress-tests.sh [ROUNDS]" >&2; exit 2; }
scripts/install-deps.sh
source scripts/suites.sh

suites=(build build-asan)
build_tree build
build_tree build-asan -DKESTRIN_SANITIZE=ON

logs=build-stress
rm -rf "$logs"
mkdir -p "$logs"

hog_pids=()
start_cpu_hog() {
  local cores
  cores=$(nproc)
  if command -v stress-ng > /dev/null; then
    stress-ng --cpu "$cores" --quiet &
    hog_pids+=($!)
  else
    for _ in $(seq "$cores"); do
      bash -c 'while :; do :; done' &
      hog_pids+=($!)
    done
  fi
}
stop_cpu_hog() {
  for pid in "${hog_pids[@]}"; do
    kill "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
  done
  hog_pids=()
}
trap stop_cpu_hog EXIT

# One suite once; its failed tests (timeouts included) are added to failures["suite test"].
declare -A failures=()
run_round() {
  local round=$1 dir=$2
  local failed_list="$dir/Testing/Temporary/LastTestsFailed.log"
  rm -f "$failed_list"
  echo "== round $round of $rounds: $dir"
  run_ctest "$dir" > "$logs/round-$round-$dir.log" 2>&1 || true
  grep -E '^[0-9]+% tests passed' "$logs/round-$round-$dir.log" || tail -n 3 "$logs/round-$round-$dir.log"
  [ -f "$failed_list" ] || return 0
  local number name
  while IFS=: read -r number name; do
    failures["$dir $name"]=$((${failures["$dir $name"]:-0} + 1))
    echo "   failed: $name"
  done < "$failed_list"
}

start_cpu_hog
for round in $(seq "$rounds"); do
  for dir in "${suites[@]}"; do
    run_round "$round" "$dir"
  done
done
stop_cpu_hog

for dir in "${suites[@]}"; do
  echo "$dir: $(ctest --test-dir "$dir" -N | sed -n 's/^Total Tests: //p') tests a round"
done
if [ ${#failures[@]} -eq 0 ]; then
  echo "No test failed in $rounds rounds under load."
  exit 0
fi
echo "Tests that failed in $rounds rounds under load (times, build, test; logs in $logs/):"
for key in "${!failures[@]}"; do
  printf '%6d  %s\n' "${failures[$key]}" "$key"
done | sort -k3
exit 1
