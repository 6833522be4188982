#!/usr/bin/env bash
# Installs the Debian packages that Kestrin needs to build, test and run, when they are missing.
# Non-interactive and idempotent; uses sudo only when not run as root.
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev libgl-dev libgtest-dev libgmock-dev libbenchmark-dev
  # the SQLite and PostgreSQL drivers of Qt SQL: kestrin-station's records and spool
  libqt6sql6-sqlite libqt6sql6-psql
  # libpq's own interface: the station cuts a database connection that hangs through its socket
  libpq-dev pkg-config
  # the PostgreSQL server that the tests and the benchmark of records in a database start on their own
  postgresql
  # the certificate authority of the test of records over TLS
  openssl
  # the free faces that stand in for the layout's Windows fonts
  fonts-liberation fonts-comic-neue
  # building and checking the Debian package
  dpkg-dev file desktop-file-utils man-db lintian
  # the CPU hog of scripts/stress-tests.sh
  stress-ng
  # the browser the report's test renders the page in, headless
  chromium
  # the fuzz targets: clang with its libFuzzer runtime
  clang libclang-rt-14-dev)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
