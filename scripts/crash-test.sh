#!/usr/bin/env bash
# Kills the module with SIGKILL at random moments while it works a backlog, and checks that
# every message became its rows exactly once: none lost, none duplicated.
#   bash scripts/crash-test.sh [ROUNDS] [FILES]        (default 3 rounds of 200 files)
# Each round writes FILES message files into the watched folder of a fresh home, each with
# its own text (every third one to two recipients besides the account itself: three rows;
# the others one row), then starts build/dexweb, waits 0.1 to 1.5 s, kills it with SIGKILL
# and starts it again until the folder is empty. It counts the rows of each text: lost (no row) and duplicated
# (more rows than recipients) make the exit status non-zero.
# Engines: the embedded SQLite database always; PostgreSQL as well when DEXWEB_TEST_PG_ODBC
# and DEXWEB_TEST_PG_PORT name a throw-away server (scripts/pg-cluster.sh), there also with
# two modules on one watched folder and one database. DEXWEB_CRASH_ENGINES="sqlite" (or
# "pg", "pg2") picks the variants. Builds nothing: BUILD=dir (default build) holds the programs.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
files=${2:-200}
build=${BUILD:-build}
dexweb=$(realpath "$build/dexweb")
dexwebctl=$(realpath "$build/dexwebctl")
engines=${DEXWEB_CRASH_ENGINES:-sqlite}
if [ -z "${DEXWEB_CRASH_ENGINES:-}" ] && [ -n "${DEXWEB_TEST_PG_ODBC:-}" ] && [ -n "${DEXWEB_TEST_PG_PORT:-}" ]; then
  engines="sqlite pg pg2"
fi

work=$(mktemp -d /tmp/dexweb-crash.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

psql_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)/psql
pg() { PGOPTIONS='-c client_min_messages=warning' "$psql_bin" -h 127.0.0.1 -p "$DEXWEB_TEST_PG_PORT" -U dexweb -d dexweb_test -qAt -v ON_ERROR_STOP=1 "$@"; }

# A schema of its own on the test server, with the tables, one account set and the
# watched folder $2; every home in $3... uses it.
make_pg_schema() {
  local schema=$1 web=$2; shift 2
  pg -c "DROP SCHEMA IF EXISTS $schema CASCADE; CREATE SCHEMA $schema;"
  { echo "SET search_path TO $schema;"
    cat schema/postgresql.sql
    echo "INSERT INTO settings (record_id, dexwebcgi_path, dexweb_poll) VALUES (1, '$web', 1);"
    echo "INSERT INTO control (record_id) VALUES (1);"
    echo "INSERT INTO counters (record_id, unique_id) VALUES (1, 0);"
    for u in sales bob amy; do echo "INSERT INTO users (\"user\", web_service) VALUES ('$u', TRUE);"; done
  } | pg
  for home in "$@"; do
    printf '%s\r\nConnSettings=SET search_path TO %s;\r\n' "$DEXWEB_TEST_PG_ODBC" "$schema" \
      >"$home/data/SqlServerConnectionString.txt"
  done
}

# The files of one round: name, unique text, recipients.
write_files() {
  local web=$1 round=$2
  local i to
  for ((i = 1; i <= files; i++)); do
    if ((i % 3 == 0)); then to="bob amy"; else to=""; fi
    printf 'user=sales\r\nfrm=crash\r\nsubject=%s\r\nmsg=crash-%d-%d\r\n' "$to" "$round" "$i" >"$web/.w$i"
    mv "$web/.w$i" "$web/r$round-$i.msg"
    if ((i % 3 == 0)); then echo "crash-$round-$i 3"; else echo "crash-$round-$i 1"; fi
  done >>"$work/expected"
}

has_messages() { [ -n "$(find "$1" -maxdepth 1 -name '*.msg' -print -quit)" ]; }

start_module() {
  VELOTRAX_REGISTRY=$1/velotrax.reg XDG_RUNTIME_DIR=$1 "$dexweb" >>"$1/stdout" 2>&1 &
  pids+=("$!")
  echo $!
}

# Kills and restarts the modules of the homes until the folder is empty; prints the kills.
drain_with_kills() {
  local web=$1; shift
  local kills=0 started
  while has_messages "$web"; do
    started=()
    for home in "$@"; do started+=("$(start_module "$home")"); done
    sleep "$(awk -v r="$RANDOM" 'BEGIN { printf "%.2f", 0.1 + r / 32767 * 1.4 }')"
    for p in "${started[@]}"; do kill -KILL "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
    kills=$((kills + 1))
    if ((kills > 2000)); then echo "no progress after 2000 kills" >&2; return 1; fi
  done
  echo "$kills"
}

# "text count" of every message row.
row_counts() {
  case $1 in
    sqlite) sqlite3 -separator ' ' "$2/data/velotrax.db" "SELECT message, COUNT(*) FROM messages GROUP BY message" ;;
    *) pg -F ' ' -c "SELECT message, COUNT(*) FROM $2.messages GROUP BY message" ;;
  esac
}

status=0
for engine in $engines; do
  : >"$work/expected"
  homes=("$work/$engine-a")
  [ "$engine" = pg2 ] && homes+=("$work/$engine-b")
  for home in "${homes[@]}"; do "$dexwebctl" init "$home" >/dev/null; done
  web=${homes[0]}/web/
  if [ "$engine" = sqlite ]; then
    sqlite3 "${homes[0]}/data/velotrax.db" "UPDATE settings SET dexweb_poll = 1"
    where=${homes[0]}
  else
    where=crash_${engine}_$$
    make_pg_schema "$where" "$web" "${homes[@]}"
  fi
  kills=0
  for ((round = 1; round <= rounds; round++)); do
    write_files "$web" "$round"
    kills=$((kills + $(drain_with_kills "$web" "${homes[@]}")))
  done
  row_counts "$engine" "$where" >"$work/rows"
  read -r lost duplicated < <(awk 'NR == FNR { rows[$1] = $2; next }
      { if (!($1 in rows)) lost++; else if (rows[$1] > $2) dup++ }
      END { printf "%d %d\n", lost, dup }' "$work/rows" "$work/expected")
  echo "$engine: ${#homes[@]} module(s), $rounds rounds of $files files, $kills kills: lost $lost, duplicated $duplicated"
  if ((lost + duplicated > 0)); then status=1; fi
  [ "$engine" = sqlite ] || pg -c "DROP SCHEMA IF EXISTS $where CASCADE"
done
exit $status
