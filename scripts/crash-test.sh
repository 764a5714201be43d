#!/usr/bin/env bash
# Kills the module with SIGKILL at random moments while it works a backlog, and checks that
# every message became its rows exactly once, and every refused file its bad copy and its
# notice at least once.
#   bash scripts/crash-test.sh [ROUNDS] [FILES]        (default 3 rounds of 200 files)
# Each round writes FILES message files into the watched folder of a fresh home, each with
# its own text (every third one to two recipients besides the account itself: three rows;
# every fifth to an unknown account: refused, one bad copy and one notice; the others one
# row), then starts build/dexweb, waits 0.1 to 1.5 s, kills it with SIGKILL (files sit in its
# claim folder then) and starts it again until no message file is left, claimed ones
# included. It counts the rows of each text: lost (no row) and duplicated (more rows than
# recipients); and per refused file its copies in the bad folder and its notices in MailOut:
# lost (none) and repeated (more than one, which only a kill between making them and
# recording it may cause). At the end the modules start once more and stop, after which no
# half-written mail file or bad copy may be left. Anything lost, duplicated or left makes the
# exit status non-zero.
# Engines: the embedded SQLite database always; PostgreSQL as well when DEXWEB_TEST_PG_ODBC
# and DEXWEB_TEST_PG_PORT name a throw-away server (scripts/pg-cluster.sh), there also with
# two and three modules on one watched folder and one database, killed together.
# DEXWEB_CRASH_ENGINES="sqlite" (or "pg", "pg2", "pg3") picks the variants. Builds nothing:
# BUILD=dir (default build) holds the programs.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
files=${2:-200}
build=${BUILD:-build}
dexweb=$(realpath "$build/dexweb")
dexwebctl=$(realpath "$build/dexwebctl")
engines=${DEXWEB_CRASH_ENGINES:-sqlite}
if [ -z "${DEXWEB_CRASH_ENGINES:-}" ] && [ -n "${DEXWEB_TEST_PG_ODBC:-}" ] && [ -n "${DEXWEB_TEST_PG_PORT:-}" ]; then
  engines="sqlite pg pg2 pg3"
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
    echo "INSERT INTO settings (record_id, dexwebcgi_path, dexweb_poll, dexmail_enabled) VALUES (1, '$web', 1, TRUE);"
    echo "INSERT INTO control (record_id) VALUES (1);"
    echo "INSERT INTO counters (record_id, unique_id) VALUES (1, 0);"
    for u in sales bob amy; do echo "INSERT INTO users (\"user\", web_service) VALUES ('$u', TRUE);"; done
  } | pg
  for home in "$@"; do
    printf '%s\r\nConnSettings=SET search_path TO %s;\r\n' "$DEXWEB_TEST_PG_ODBC" "$schema" \
      >"$home/data/SqlServerConnectionString.txt"
  done
}

# The notices of refused files: one address, the message text in the body.
enable_notices() {
  local home=$1
  printf 'crash@example.org\r\n' >"$home/prog/failurenotifylist.txt"
  printf 'Subject: refused\r\n\r\n%%Message%%\r\n' >"$home/prog/failure.mtp"
}

# The files of one round: name, unique text, recipients (0 for a refused file).
write_files() {
  local web=$1 round=$2
  local i to user rows
  for ((i = 1; i <= files; i++)); do
    user=sales; to=""; rows=1
    if ((i % 5 == 0)); then user=nobody; rows=0
    elif ((i % 3 == 0)); then to="bob amy"; rows=3; fi
    printf 'user=%s\r\nfrm=crash\r\nsubject=%s\r\nmsg=crash-%d-%d\r\n' "$user" "$to" "$round" "$i" >"$web/.w$i"
    mv "$web/.w$i" "$web/r$round-$i.msg"
    echo "crash-$round-$i $rows"
  done >>"$work/expected"
}

# Message files in the folder or in its claim folders.
has_messages() { [ -n "$(find "$1" -maxdepth 3 -name '*.msg' -print -quit)" ]; }

# "text count" of the texts found in the files of the folders.
texts_in() { find "$@" -maxdepth 1 -type f -exec cat {} + 2>/dev/null | grep -ao 'crash-[0-9]*-[0-9]*' | sort | uniq -c | awk '{ print $2, $1 }'; }

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

# Half-written mail files and bad copies in the homes' folders.
half_written() { for home in "$@"; do find "$home/data/MailOut" "$home/log/badmsg" -name 'VTXWeb*.tmp*' -o -name 'VTXWeb*.web.part*'; done | wc -l; }

# Starts the modules once more and stops them, so that each clears what its last kill left.
restart_and_stop() {
  local started=() p
  for home in "$@"; do started+=("$(start_module "$home")"); done
  sleep 2
  for p in "${started[@]}"; do kill -TERM "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
}

status=0
for engine in $engines; do
  : >"$work/expected"
  homes=("$work/$engine-a")
  [ "$engine" = pg2 ] && homes+=("$work/$engine-b")
  [ "$engine" = pg3 ] && homes+=("$work/$engine-b" "$work/$engine-c")
  for home in "${homes[@]}"; do "$dexwebctl" init "$home" >/dev/null; enable_notices "$home"; done
  web=${homes[0]}/web/
  if [ "$engine" = sqlite ]; then
    sqlite3 "${homes[0]}/data/velotrax.db" "UPDATE settings SET dexweb_poll = 1, dexmail_enabled = 1"
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
  restart_and_stop "${homes[@]}"
  row_counts "$engine" "$where" >"$work/rows"
  read -r lost duplicated < <(awk 'NR == FNR { rows[$1] = $2; next }
      $2 > 0 { if (!($1 in rows)) lost++; else if (rows[$1] > $2) dup++ }
      $2 == 0 { if ($1 in rows) dup++ }
      END { printf "%d %d\n", lost, dup }' "$work/rows" "$work/expected")
  bad=(); mail=()
  for home in "${homes[@]}"; do bad+=("$home/log/badmsg"); mail+=("$home/data/MailOut"); done
  texts_in "${bad[@]}" >"$work/copies"
  texts_in "${mail[@]}" >"$work/notices"
  # Per refused file: "copies lost repeated notices lost repeated".
  read -r refused copies_lost copies_again notices_lost notices_again < <(awk '
      FILENAME ~ /copies$/ { copies[$1] = $2; next }
      FILENAME ~ /notices$/ { notices[$1] = $2; next }
      $2 == 0 { n++; if (!copies[$1]) cl++; if (copies[$1] > 1) ca++; if (!notices[$1]) nl++; if (notices[$1] > 1) na++ }
      END { printf "%d %d %d %d %d\n", n, cl, ca, nl, na }' "$work/copies" "$work/notices" "$work/expected")
  left=$(half_written "${homes[@]}")
  echo "$engine: ${#homes[@]} module(s), $rounds rounds of $files files, $kills kills: lost $lost, duplicated $duplicated;" \
       "$refused refused: copies lost $copies_lost, repeated $copies_again; notices lost $notices_lost, repeated $notices_again;" \
       "half-written files left $left"
  if ((lost + duplicated + copies_lost + notices_lost + left > 0)); then status=1; fi
  [ "$engine" = sqlite ] || pg -c "DROP SCHEMA IF EXISTS $where CASCADE"
done
exit $status
