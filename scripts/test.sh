#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, starts a throw-away PostgreSQL
# cluster and runs the whole test suite, then the suite again built with the sanitizers, the
# crash test, the fuzz targets, the quick start, a benchmark's quick run and the package on a
# live systemd. The last line says how it went: "test.sh: passed (STEPS)" or
# "test.sh: FAILED in STEP (passed: STEPS)".
set -euo pipefail
cd "$(dirname "$0")/.."
passed=()
step=""
# run_step NAME COMMAND...: runs one step; the closing line names it.
run_step() {
  step=$1
  shift
  "$@"
  passed+=("$step")
}
finish() {
  local status=$?
  if declare -F pg_cluster_stop >/dev/null; then pg_cluster_stop; fi
  local list
  list=$(IFS=,; echo "${passed[*]}")
  list=${list//,/, }
  if ((status == 0)); then
    echo "test.sh: passed (${list})"
  else
    echo "test.sh: FAILED in ${step:-setup} (passed: ${list:-nothing})"
  fi
}
trap finish EXIT
# The live test says "live-systemd: skipped: REASON" and succeeds where no container boots:
# the closing line says so too.
live_systemd() {
  local out
  out=$(mktemp)
  # tee to a file of its own: tee /dev/fd/N would reopen, and so truncate, a log file that
  # standard output is redirected to.
  bash scripts/live-systemd-test.sh build 2>&1 | tee "$out"
  if grep -q "live-systemd: skipped: " "$out"; then step="live systemd skipped"; fi
  rm -f "$out"
}

# The quick start of the README: a fresh home's sample message becomes a row.
quick_start() {
  local quick pid
  quick=$(mktemp -d /tmp/dexweb-quick.XXXXXX)
  DEXWEB_HOME=$quick/home bash scripts/run.sh >"$quick/run.log" 2>&1 &
  pid=$!
  for _ in $(seq 120); do
    [ "$(sqlite3 "$quick/home/data/velotrax.db" "SELECT count(*) > 0 FROM messages WHERE message LIKE 'Hello from DexWeb%'" 2>/dev/null)" = 1 ] && break
    sleep 0.5
  done
  kill -INT "$pid" && wait "$pid" || true
  [ "$(sqlite3 "$quick/home/data/velotrax.db" "SELECT count(*) > 0 FROM messages WHERE message LIKE 'Hello from DexWeb%'")" = 1 ] ||
    { cat "$quick/run.log"; echo "scripts/run.sh: the sample message is not a row"; return 1; }
  rm -rf "$quick"
}

# The test suite built with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan (the
# module and dexwebctl it starts too), every finding fatal. Warnings are the first build's to
# judge: GCC 12 warns falsely inside <regex> under the sanitizers. The package check belongs to
# the hardened build, and the documents' commands are the same for both.
sanitizers() {
  cmake -S . -B build-asan -G Ninja -DDEXWEB_TESTS=ON -DDEXWEB_SANITIZE=ON >/dev/null
  cmake --build build-asan
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:strict_string_checks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j 2 --timeout 600 -E '^(package_contents|documented_commands)$'
}

run_step deps scripts/deps.sh test
run_step build scripts/build.sh -DDEXWEB_WERROR=ON -DDEXWEB_TESTS=ON
source scripts/pg-cluster.sh
run_step postgresql pg_cluster_start
run_step ctest ctest --test-dir build --output-on-failure -j 2 --timeout 600
run_step sanitizers sanitizers
# Rows exactly once under SIGKILL: SQLite, PostgreSQL, two modules on one folder.
run_step "crash test" bash scripts/crash-test.sh 3 200
run_step fuzz bash scripts/fuzz.sh 5
run_step "quick start" quick_start
# The benchmark's quick run on this build's programs.
run_step benchmark env DEXWEB_BIN=build/dexweb DEXWEBCTL_BIN=build/dexwebctl bash scripts/bench-intake.sh --sizes 200 --samples 3
# The package installed and run under systemd as PID 1 (a container; skipped, saying so,
# where none can boot).
run_step "live systemd" live_systemd
