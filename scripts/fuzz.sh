#!/usr/bin/env bash
# Builds the fuzz targets (build-fuzz/: clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one for SECONDS (default 60), starting from its
# checked-in seed corpus fuzz/corpus/<name>. Inputs that find new paths are kept in
# build-fuzz/corpus/<name>; an input that breaks a contract or crashes lands in
# build-fuzz/findings/<name>/ and stops that target. Further arguments go to every target, for
# example -runs=10000000 to stop each after ten million executions.
#
#   scripts/fuzz.sh [SECONDS] [LIBFUZZER-FLAGS...]
#
# The regression run of CI, every seed input once, is the fuzz build's ctest (scripts/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
scripts/install-deps.sh

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIN_FUZZ=ON \
  -DCMAKE_CXX_COMPILER=clang++
cmake --build build-fuzz -j "$(nproc)"

failed=0
for name in config_reader script_args reply_capture terminal_screen upload_header journal_line; do
  # Inputs long enough for every rule of the target, short enough to run fast.
  case $name in
    config_reader) max_len=1024 ;;   # 29 setting lines, a 299-character line cut
    terminal_screen) max_len=512 ;;  # wraps, scrolling past the 100 held rows
    *) max_len=4096 ;;
  esac
  mkdir -p "build-fuzz/corpus/$name" "build-fuzz/findings/$name"
  echo "== fuzz_$name"
  if ! "build-fuzz/fuzz_$name" -max_total_time="$seconds" -max_len="$max_len" -print_final_stats=1 \
      -artifact_prefix="build-fuzz/findings/$name/" "$@" "build-fuzz/corpus/$name" "fuzz/corpus/$name"; then
    failed=1
  fi
done
exit $failed
