#!/usr/bin/env bash
# Builds Kestrin twice, normally (build/) and with AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/), and runs the whole test suite in both; then builds the fuzz targets (build-fuzz/)
# and runs every input of their seed corpora once. Fails when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
source scripts/suites.sh

run_suite() {
  build_tree "$@"
  run_ctest "$1"
}

run_suite build
run_suite build-asan -DKESTRIN_SANITIZE=ON
# The fuzz targets alone, built with clang: every input of their seed corpora runs once.
run_suite build-fuzz -DKESTRIN_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
