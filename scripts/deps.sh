#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build DexWeb; with "test", also those its test
# suite uses (PostgreSQL and its ODBC driver, the SQLite ODBC driver for a DBMS the module
# does not support, GoogleTest, cpp-httplib as the tests' HTTP client, Chromium, nginx,
# lintian for the package); with "fuzz", clang and its sanitizer runtimes for the fuzz
# targets. Safe to run again.
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config libsqlite3-dev sqlite3 unixodbc unixodbc-dev)
case "${1:-}" in
  test) packages+=(odbc-postgresql libsqliteodbc postgresql libgtest-dev libgmock-dev libcpp-httplib-dev
                 chromium chromium-driver nginx lintian) ;;
  fuzz) packages+=(clang libclang-rt-14-dev) ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
