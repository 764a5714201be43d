#!/usr/bin/env bash
# Intake throughput and memory: N message files to a three-person group on a fresh embedded
# gateway home, timed from the module's start until the watched folder is empty.
#   bash scripts/bench-intake.sh [N] [MESSAGE_CHARS]
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-500}
chars=${2:-3000}
home=$(mktemp -d /tmp/dexweb-bench.XXXXXX)
trap 'rm -rf "$home"' EXIT
build/dexwebctl init "$home" >/dev/null
export VELOTRAX_REGISTRY=$home/velotrax.reg XDG_RUNTIME_DIR=$home
text=$(head -c "$chars" /dev/zero | tr '\0' x)
for i in $(seq 1 "$n"); do
  build/dexwebctl submit --home "$home" --user staff --from bench --to "bob amy joe" --message "$i $text" >/dev/null
done
start=$(date +%s.%N)
build/dexweb &
pid=$!
while [ -n "$(ls "$home/web")" ]; do sleep 0.1; done
end=$(date +%s.%N)
peak=$(awk '/VmHWM/ {print $2, $3}' "/proc/$pid/status")
kill -TERM "$pid"; wait "$pid" || true
rows=$(sqlite3 "$home/data/velotrax.db" "SELECT COUNT(*) FROM messages")
awk -v n="$n" -v rows="$rows" -v s="$start" -v e="$end" -v peak="$peak" 'BEGIN {
  t = e - s; printf "%d files, %d rows in %.2f s (start-up included): %.0f files/s, %.0f rows/s; peak RSS %s\n", n, rows, t, n / t, rows / t, peak }'
