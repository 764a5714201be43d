#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, starts a throw-away PostgreSQL
# cluster and runs the whole test suite, then the crash test, the fuzz targets, the quick
# start, a benchmark's quick run and the package on a live systemd.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/build.sh -DDEXWEB_WERROR=ON -DDEXWEB_TESTS=ON
source scripts/pg-cluster.sh
trap pg_cluster_stop EXIT
pg_cluster_start
ctest --test-dir build --output-on-failure -j 2 --timeout 600
# Rows exactly once under SIGKILL: SQLite, PostgreSQL, two modules on one folder.
bash scripts/crash-test.sh 3 200
bash scripts/fuzz.sh 5
# The quick start of the README: a fresh home's sample message becomes a row.
quick=$(mktemp -d /tmp/dexweb-quick.XXXXXX)
DEXWEB_HOME=$quick/home bash scripts/run.sh >"$quick/run.log" 2>&1 &
for _ in $(seq 120); do
  [ "$(sqlite3 "$quick/home/data/velotrax.db" "SELECT count(*) > 0 FROM messages WHERE message LIKE 'Hello from DexWeb%'" 2>/dev/null)" = 1 ] && break
  sleep 0.5
done
kill -INT $! && wait $! || true
[ "$(sqlite3 "$quick/home/data/velotrax.db" "SELECT count(*) > 0 FROM messages WHERE message LIKE 'Hello from DexWeb%'")" = 1 ] ||
  { cat "$quick/run.log"; echo "scripts/run.sh: the sample message is not a row"; exit 1; }
rm -rf "$quick"
# The benchmark's quick run on this build's programs.
DEXWEB_BIN=build/dexweb DEXWEBCTL_BIN=build/dexwebctl bash scripts/bench-intake.sh --sizes 200 --samples 3
# The package installed and run under systemd as PID 1 (a container; skipped, saying so,
# where none can boot).
bash scripts/live-systemd-test.sh build
