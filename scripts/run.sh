#!/usr/bin/env bash
# Installs what is missing, builds, creates a gateway home on first use, submits a sample
# message and runs the module in the foreground (Ctrl-C stops it).
#   DEXWEB_HOME   the gateway home (default ~/dexweb-home)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# A first build leaves the tests out; a build made for the tests keeps them.
if [ -f build/CMakeCache.txt ]; then
  cmake -S . -B build >/dev/null
else
  cmake -S . -B build -G Ninja -DDEXWEB_TESTS=OFF >/dev/null
fi
cmake --build build --target dexweb dexwebctl
home=${DEXWEB_HOME:-$HOME/dexweb-home}
if [ ! -f "$home/velotrax.reg" ]; then
  build/dexwebctl init "$home"
fi
export VELOTRAX_REGISTRY=$home/velotrax.reg
build/dexwebctl submit --home "$home" --user sales --from "Quick start" \
  --message "Hello from DexWeb, $(date '+%Y-%m-%d %H:%M:%S')"
echo "DexWeb runs on $home; its log is $home/log/VTXWeb.log. Ctrl-C stops it."
exec build/dexweb
