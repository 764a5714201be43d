#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang in build-fuzz and runs each for SECONDS
# (default 60) on a work copy of its seed corpus (build-fuzz/corpus/<target>; fuzz/corpus is
# only read). Prints each target's executions and whether it found a crash, keeping crash
# inputs in build-fuzz/findings/<target>/ and the run's output in build-fuzz/logs/. Exits
# non-zero when any target found one.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build=build-fuzz

scripts/deps.sh fuzz

# Without Debian's hardening flags: fortified libc calls would bypass the sanitizer's checks.
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DDEXWEB_FUZZ=ON -DDEXWEB_TESTS=OFF -DDEXWEB_WERROR=OFF -DDEXWEB_HARDENING=OFF >/dev/null
cmake --build "$build" --target dexweb_fuzzers

# The targets' private folders go into one folder removed at the end, crashed runs included.
# It lies in memory where it can: the targets rewrite their files on every run, and a disk
# file system flushes each replaced file, which would make the runs wait for the disk.
scratch_parent=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch_parent=/dev/shm; fi
TMPDIR=$(mktemp -d "$scratch_parent/dexweb-fuzz-run.XXXXXX")
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
found=0
for seeds in fuzz/corpus/*/; do
  target=$(basename "$seeds")
  work="$build/corpus/$target"
  findings="$build/findings/$target"
  log="$build/logs/$target.log"
  mkdir -p "$work" "$findings" "$build/logs"
  cp -f "$seeds"* "$work"/
  status=0
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$findings/" "$work" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  [ -n "$runs" ] || runs=$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#')
  if [ "$status" -eq 0 ]; then
    printf '%-20s %10s executions, no crash\n' "$target" "${runs:-?}"
  else
    found=1
    printf '%-20s %10s executions, CRASH (exit %d): see %s and %s\n' \
      "$target" "${runs:-?}" "$status" "$log" "$findings/"
  fi
done
exit "$found"
