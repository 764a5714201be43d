#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, starts a throw-away PostgreSQL
# cluster and runs the whole test suite, then the crash test, the fuzz targets and the
# package on a live systemd.
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
# The package installed and run under systemd as PID 1 (a container; skipped, saying so,
# where none can boot).
bash scripts/live-systemd-test.sh build
