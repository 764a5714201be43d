#!/usr/bin/env bash
# Kills the module with SIGKILL at random moments while it works a backlog, and checks that
# every message became its rows exactly once: none lost, none duplicated.
#   bash scripts/crash-test.sh [ROUNDS] [FILES]        (default 3 rounds of 200 files)
# Each round writes FILES message files into the watched folder of a fresh home, each with
# its own text (every third one to two recipients besides the account itself: three rows;
# every fifth one from an unknown account: refused; the others one row), then starts
# build/dexweb, waits 0.1 to 1.5 s, kills it with SIGKILL and starts it again until the
# folder is empty. It counts the rows of each text: lost (no row) and duplicated (more rows
# than recipients) make the exit status non-zero. Of each refused text it counts the rows
# (none allowed), the bad copies (exactly one) and the notification mail files (at most one:
# a kill between the commit of a file's record and its notice loses the notice, since a
# file recorded as worked is never reported again; those are counted as lost notices). At
# the end the module starts once more and stops, after which no half-written mail file or
# bad copy may be left.
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
    echo "INSERT INTO settings (record_id, dexwebcgi_path, dexweb_poll, dexmail_enabled, domain) VALUES (1, '$web', 1, TRUE, 'example.org');"
    echo "INSERT INTO control (record_id) VALUES (1);"
    echo "INSERT INTO counters (record_id, unique_id) VALUES (1, 0);"
    for u in sales bob amy; do echo "INSERT INTO users (\"user\", web_service) VALUES ('$u', TRUE);"; done
  } | pg
  for home in "$@"; do
    printf '%s\r\nConnSettings=SET search_path TO %s;\r\n' "$DEXWEB_TEST_PG_ODBC" "$schema" \
      >"$home/data/SqlServerConnectionString.txt"
  done
}

# Failure notices for the refused files: one address, the message text on a line of its own.
add_notices() {
  printf 'ops@example.org\r\n' >"$1/prog/failurenotifylist.txt"
  printf 'Subject: refused\r\n\r\nnotice:%%Message%%\r\n' >"$1/prog/failure.mtp"
}

# The files of one round: name, unique text, recipients (0: refused).
write_files() {
  local web=$1 round=$2
  local i to user rows
  for ((i = 1; i <= files; i++)); do
    user=sales to="" rows=1
    if ((i % 5 == 0)); then user=nobody rows=0; elif ((i % 3 == 0)); then to="bob amy" rows=3; fi
    printf 'user=%s\r\nfrm=crash\r\nsubject=%s\r\nmsg=crash-%d-%d\r\n' "$user" "$to" "$round" "$i" >"$web/.w$i"
    mv "$web/.w$i" "$web/r$round-$i.msg"
    echo "crash-$round-$i $rows"
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

# "text count" of the refused texts' bad copies and notices in the homes' folders.
copy_counts() { for home in "$@"; do find "$home/log/badmsg" -name '*.web' -exec cat {} +; done | tr -d '\r' | sed -n 's/^msg=//p' | sort | uniq -c | awk '{ print $2, $1 }'; }
notice_counts() { for home in "$@"; do find "$home/data/MailOut" -name '*.msg' -exec cat {} +; done | tr -d '\r' | sed -n 's/^notice://p' | sort | uniq -c | awk '{ print $2, $1 }'; }
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
  for home in "${homes[@]}"; do "$dexwebctl" init "$home" >/dev/null; add_notices "$home"; done
  web=${homes[0]}/web/
  if [ "$engine" = sqlite ]; then
    sqlite3 "${homes[0]}/data/velotrax.db" "UPDATE settings SET dexweb_poll = 1, dexmail_enabled = 1, domain = 'example.org'"
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
  copy_counts "${homes[@]}" >"$work/copies"
  notice_counts "${homes[@]}" >"$work/notices"
  read -r lost duplicated < <(awk 'NR == FNR { rows[$1] = $2; next }
      $2 > 0 { if (!($1 in rows)) lost++; else if (rows[$1] > $2) dup++ }
      END { printf "%d %d\n", lost, dup }' "$work/rows" "$work/expected")
  # Per refused text: rows, bad copies, notices.
  read -r refused with_rows copies_ok copies_bad notices_one notices_lost notices_dup < <(awk '
      FILENAME == ARGV[1] { rows[$1] = $2; next }
      FILENAME == ARGV[2] { copies[$1] = $2; next }
      FILENAME == ARGV[3] { notices[$1] = $2; next }
      $2 == 0 {
        n++
        if ($1 in rows) r++
        if (copies[$1] == 1) c++; else cb++
        if (notices[$1] == 1) one++; else if (notices[$1] == 0) none++; else dup++
      }
      END { printf "%d %d %d %d %d %d %d\n", n, r, c, cb, one, none, dup }' \
      "$work/rows" "$work/copies" "$work/notices" "$work/expected")
  left=$(half_written "${homes[@]}")
  echo "$engine: ${#homes[@]} module(s), $rounds rounds of $files files, $kills kills: lost $lost, duplicated $duplicated;" \
    "refused $refused: with rows $with_rows, one bad copy $copies_ok (other counts $copies_bad)," \
    "one notice $notices_one, lost notices $notices_lost, duplicated notices $notices_dup; half-written files left $left"
  if ((lost + duplicated + with_rows + copies_bad + notices_dup + left > 0)); then status=1; fi
  [ "$engine" = sqlite ] || pg -c "DROP SCHEMA IF EXISTS $where CASCADE"
done
exit $status
