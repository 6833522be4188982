#!/usr/bin/env bash
# Builds Kestrin twice, normally (build/) and with AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/), and runs the whole test suite in both; then builds the fuzz targets (build-fuzz/)
# and runs every input of their seed corpora once. Fails when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j "$jobs"
  # The slow tests mostly wait out the unit's pauses, so many run side by side.
  ctest --test-dir "$dir" -j 8 --output-on-failure --timeout 600
}

run_suite build
run_suite build-asan -DKESTRIN_SANITIZE=ON
# The fuzz targets alone, built with clang: every input of their seed corpora runs once.
run_suite build-fuzz -DKESTRIN_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
