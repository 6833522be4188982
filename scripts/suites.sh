# The build trees and their test suites, shared by scripts/test.sh and scripts/stress-tests.sh.
# Sourced from the top of the checkout.
#
#   build_tree DIR [CMAKE-OPTIONS...]   configures DIR (Ninja, RelWithDebInfo) and builds it all
#   run_ctest DIR [CTEST-OPTIONS...]    runs DIR's whole suite: 8 tests side by side, since the slow
#                                       ones mostly wait out the unit's pauses

build_tree() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j "$(nproc)"
}

run_ctest() {
  local dir=$1; shift
  ctest --test-dir "$dir" -j 8 --output-on-failure --timeout 600 "$@"
}
