#!/usr/bin/env bash
# Intake throughput, CPU, memory and pickup latency of the module (Release build) beside a
# minimal reference program (bench/reference_intake.cpp) that does the same durable work.
# Each size gets a fresh embedded gateway home and one generated backlog of web files to
# "staff" (a group of three: three rows per file), which both programs drain in turn.
#   bash scripts/bench-intake.sh [--sizes "1000 10000"] [--big] [--chars N] [--samples N]
#                                [--modules "1 2 3" [--files N]]
#     --big          adds 100000 files (takes minutes)
#     --chars N      message characters per file (default 1000)
#     --samples N    pickup latency samples (default 50; 0 skips the pickup test)
#     --modules L    instead: for each count in L, that many modules (homes of their own)
#                    on one watched folder and one PostgreSQL database (a throw-away cluster
#                    of scripts/pg-cluster.sh) drain one backlog of --files files (default
#                    10000); printed: files/s and rows of each count
#     --pg           instead: the module and the reference (libpq, one prepared statement
#                    per message) each drain --files files into a PostgreSQL database of
#                    their own on one throw-away cluster with fsync on; printed: files/s,
#                    client and server CPU per file, WAL syncs per file (pg_stat_wal), round
#                    trips per file (statements the server logged over 100 more files, the
#                    program's start included), the
#                    statement log of one message, and with --backlog N the time until a file
#                    older than a backlog of N newer files is stored
#   BUILD=dir (default build-bench) is configured and built here; DEXWEB_BIN and
#   DEXWEBCTL_BIN measure the programs of another build instead (an older tree, say).
set -euo pipefail
cd "$(dirname "$0")/.."
sizes="1000 10000"
chars=1000
samples=50
modules=""
pg_mode=""
backlog=10000
behind=0
while [ $# -gt 0 ]; do
  case $1 in
    --modules) modules=$2; shift 2 ;;
    --files) backlog=$2; shift 2 ;;
    --pg) pg_mode=1; shift ;;
    --backlog) behind=$2; shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    --big) sizes="$sizes 100000"; shift ;;
    --chars) chars=$2; shift 2 ;;
    --samples) samples=$2; shift 2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done

build=${BUILD:-build-bench}
[ -n "$modules" ] && [ -n "${DEXWEB_BIN:-}" ] && [ -n "${DEXWEBCTL_BIN:-}" ] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDEXWEB_BENCH=ON >/dev/null
targets=""
[ -n "$modules" ] || targets="reference_intake bench_files"
[ -n "${DEXWEB_BIN:-}" ] || targets="$targets dexweb"
[ -n "${DEXWEBCTL_BIN:-}" ] || targets="$targets dexwebctl"
[ -z "$targets" ] || cmake --build "$build" --target $targets >/dev/null
dexweb=$(realpath "${DEXWEB_BIN:-$build/dexweb}")
dexwebctl=$(realpath "${DEXWEBCTL_BIN:-$build/dexwebctl}")
reference=$build/reference_intake
files=$build/bench_files

work=$(mktemp -d /tmp/dexweb-bench.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# True while the folder, or a claim folder in it, still holds a message file.
has_messages() { [ -n "$(find "$1" -maxdepth 3 -name '*.msg' -print -quit)" ]; }
# CPU time of a running process in microseconds (user + system, from the scheduler).
cpu_us() { awk '{ printf "%d", $1 / 1000 }' "/proc/$1/schedstat"; }
peak_kib() { awk '/VmHWM/ { print $2 }' "/proc/$1/status"; }
now_ns() { date +%s%N; }
# p50 and p90 of the numbers on standard input.
percentiles() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) { print "- -"; exit }
  i50 = int((NR + 1) * 0.5); i90 = int(NR * 0.9 + 0.5); if (i90 < 1) i90 = 1; if (i90 > NR) i90 = NR
  printf "%.0f %.0f\n", v[i50], v[i90] }'; }

# A fresh home in $1 (module) with its database copied to $1/ref (reference).
make_home() {
  "$dexwebctl" init "$1" >/dev/null
  mkdir -p "$1/ref/web"
  cp "$1/data/velotrax.db" "$1/ref/velotrax.db"
}

start_module() {
  VELOTRAX_REGISTRY=$1/velotrax.reg XDG_RUNTIME_DIR=$1 "$dexweb" >/dev/null 2>&1 &
  echo $!
}

stop() { kill -TERM "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }

# A PostgreSQL cluster of scripts/pg-cluster.sh, and psql on its test database.
start_cluster() {
  source scripts/pg-cluster.sh
  pg_cluster_start >/dev/null
  trap 'cleanup; pg_cluster_stop' EXIT
  psql_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)/psql
}
pg() { PGOPTIONS='-c client_min_messages=warning' "$psql_bin" -h 127.0.0.1 -p "$DEXWEB_TEST_PG_PORT" -U dexweb -d dexweb_test -qAt -v ON_ERROR_STOP=1 "$@"; }

# Schema $1 with the gateway tables, watching folder $2: the group staff of bob, amy, joe.
make_schema() {
  pg -c "DROP SCHEMA IF EXISTS $1 CASCADE; CREATE SCHEMA $1;"
  { echo "SET search_path TO $1;"; cat schema/postgresql.sql
    echo "INSERT INTO settings (record_id, dbversion, dexwebcgi_path, dexweb_poll, log_level, log_to_disk) VALUES (1, 1100, '$2', 2, 3, TRUE);"
    echo "INSERT INTO control (record_id, dexweb_run) VALUES (1, TRUE);"
    echo "INSERT INTO counters (record_id, unique_id) VALUES (1, 0);"
    echo "INSERT INTO users (\"user\", web_service) VALUES ('bob', TRUE), ('amy', TRUE), ('joe', TRUE);"
    echo "INSERT INTO users (\"user\", web_service, group_list) VALUES ('staff', TRUE, TRUE);"
  } | pg
}

# A module home in $1 on schema $2.
make_pg_home() {
  "$dexwebctl" init "$1" >/dev/null
  printf '%s\r\nConnSettings=SET search_path TO %s;\r\n' "$DEXWEB_TEST_PG_ODBC" "$2" >"$1/data/SqlServerConnectionString.txt"
  rm -f "$1/data/velotrax.db"
}

# Modules on one folder and one PostgreSQL database: each count drains the same backlog.
if [ -n "$modules" ]; then
  start_cluster
  # The backlog as bench_files writes it: to the group staff, three rows per file.
  mkdir -p "$work/backlog"
  text=$(head -c "$chars" /dev/zero | tr '\0' x)
  for ((i = 0; i < backlog; i++)); do
    printf 'user=staff\r\nfrm=bench\r\nsubject=bob amy joe\r\nmsg=%d %s\r\n' "$i" "$text" >"$work/backlog/b$i.msg"
  done
  printf '%-8s | %-9s %-9s\n' modules files/s rows
  for count in $modules; do
    schema=bench_$count
    web=$work/web$count/
    mkdir -p "$web"
    make_schema "$schema" "$web"
    started=()
    for ((m = 1; m <= count; m++)); do make_pg_home "$work/m$count-$m" "$schema"; done
    cp -a "$work/backlog/." "$web"
    sync
    t0=$(now_ns)
    for ((m = 1; m <= count; m++)); do pid=$(start_module "$work/m$count-$m"); pids+=("$pid"); started+=("$pid"); done
    while has_messages "$web"; do sleep 0.02; done
    t1=$(now_ns)
    for pid in "${started[@]}"; do stop "$pid"; done
    rows=$(pg -c "SELECT COUNT(*) FROM $schema.messages")
    awk -v c="$count" -v n="$backlog" -v t0="$t0" -v t1="$t1" -v r="$rows" \
      'BEGIN { printf "%-8d | %-9.0f %-9d\n", c, n / ((t1 - t0) / 1e9), r }'
    pg -c "DROP SCHEMA $schema CASCADE"
  done
  exit 0
fi

# The module and the reference on PostgreSQL, each into a schema of its own.
if [ -n "$pg_mode" ]; then
  start_cluster
  # Commits wait for the disk, as on a site (the test cluster's command line turns fsync off,
  # which no configuration file overrides: it is restarted without that).
  runuser -u "$PG_CLUSTER_OWNER" -- "$PG_CLUSTER_BIN/pg_ctl" -D "$PG_CLUSTER_DIR/data" -l "$PG_CLUSTER_DIR/log" -w \
    -o "-p $DEXWEB_TEST_PG_PORT -k $PG_CLUSTER_DIR -c listen_addresses=127.0.0.1 -c fsync=on" restart >/dev/null
  postmaster=$(head -n 1 "$PG_CLUSTER_DIR/data/postmaster.pid")
  # CPU of the whole server: its processes now, and those that exited (reaped by the postmaster).
  server_us() {
    local live=0 p
    for p in $(pgrep -P "$postmaster"); do live=$((live + $(cpu_us "$p" 2>/dev/null || echo 0))); done
    awk -v live="$live" -v hz="$(getconf CLK_TCK)" '{ printf "%d", live + ($14 + $15 + $16 + $17) * 1e6 / hz }' \
      "/proc/$postmaster/stat"
  }
  wal_syncs() { pg -c "SELECT pg_stat_force_next_flush()" -c "SELECT wal_sync FROM pg_stat_wal" | tail -n 1; }
  logged() { grep -cE 'LOG:  (statement|execute [^:]*):' "$PG_CLUSTER_DIR/log" || true; }
  # Runs program $1 (module|reference) over $2 files of $3; prints files, elapsed ns, client
  # µs, server µs, WAL syncs, rows.
  drain_pg() {
    local who=$1 n=$2 schema=bench_$1 web=$work/pg-$1/ t0 t1 c_us s0 s1 w0 w1 pid
    rm -rf "$web" "$work/home-$who"; mkdir -p "$web"
    make_schema "$schema" "$web"
    "$files" make "$web" "$n" "$chars"
    sync
    s0=$(server_us); w0=$(wal_syncs); t0=$(now_ns)
    if [ "$who" = module ]; then
      make_pg_home "$work/home-$who" "$schema"
      pid=$(start_module "$work/home-$who"); pids+=("$pid")
      while has_messages "$web"; do sleep 0.02; done
      t1=$(now_ns); c_us=$(cpu_us "$pid")
      stop "$pid"
    else
      read -r _ c_us _ < <("$reference" drain \
        "postgresql://dexweb@127.0.0.1:$DEXWEB_TEST_PG_PORT/dexweb_test?options=-csearch_path%3D$schema" "$web")
      t1=$(now_ns)
    fi
    s1=$(server_us); w1=$(wal_syncs)
    echo "$n $((t1 - t0)) $c_us $((s1 - s0)) $((w1 - w0)) $(pg -c "SELECT COUNT(*) FROM $schema.messages")"
  }
  printf '%-9s | %-7s %-9s %-13s %-13s %-10s %-11s\n' program files/s rows "client µs/f" "server µs/f" "WAL syncs/f" "round trips/f"
  for who in reference module; do
    read -r n ns c s w r < <(drain_pg "$who" "$backlog")
    pg -c "ALTER SYSTEM SET log_statement = 'all'" -c "SELECT pg_reload_conf()" >/dev/null
    l0=$(logged)
    drain_pg "$who" 100 >/dev/null
    l1=$(logged)
    pg -c "ALTER SYSTEM SET log_statement = 'none'" -c "SELECT pg_reload_conf()" >/dev/null
    awk -v who="$who" -v n="$n" -v ns="$ns" -v c="$c" -v s="$s" -v w="$w" -v r="$r" -v l="$((l1 - l0))" 'BEGIN {
      printf "%-9s | %-7.0f %-9d %-13.0f %-13.0f %-10.2f %-11.2f\n", who, n / (ns / 1e9), r, c / n, s / n, w / n, l / 100 }'
  done
  echo "statement log of the module's last message (each line cut at 160 characters):"
  # The logged statement that wrote the last record, and the two logged before it.
  awk '/LOG:  / { start[++n] = NR } { line[NR] = $0 } /INSERT INTO "worked_files"/ { last = n }
    END { if (!last) exit; from = start[last > 2 ? last - 2 : 1]; to = (last < n ? start[last + 1] : NR + 1) - 1
          for (i = from; i <= to; i++) print substr(line[i], 1, 160) }' "$PG_CLUSTER_DIR/log"
  if [ "$behind" -gt 0 ]; then
    web=$work/pg-backlog/
    mkdir -p "$web"
    make_schema bench_backlog "$web"
    make_pg_home "$work/home-backlog" bench_backlog
    "$files" make "$web" "$behind" "$chars"
    printf 'user=staff\r\nfrm=bench\r\nsubject=bob\r\nmsg=oldest\r\n' >"$work/oldest.msg"
    touch -d '2000-01-01' "$work/oldest.msg"
    pid=$(start_module "$work/home-backlog"); pids+=("$pid")
    sleep 2
    t0=$(now_ns)
    mv "$work/oldest.msg" "$web"
    until [ "$(pg -c "SELECT COUNT(*) FROM bench_backlog.messages WHERE message = 'oldest'")" = 1 ]; do sleep 0.05; done
    t1=$(now_ns)
    left=$(find "$web" -maxdepth 3 -name '*.msg' | wc -l)
    stop "$pid"
    awk -v t0="$t0" -v t1="$t1" -v n="$behind" -v left="$left" 'BEGIN {
      printf "a file older than a backlog of %d newer files: stored after %.2f s (%d files still waiting)\n", n, (t1 - t0) / 1e9, left }'
  fi
  exit 0
fi

results=()
for n in $sizes; do
  home=$work/home$n
  make_home "$home"
  "$files" make "$home/web" "$n" "$chars"
  cp -a "$home/web/." "$home/ref/web/"
  sync

  t0=$(now_ns)
  pid=$(start_module "$home"); pids+=("$pid")
  while has_messages "$home/web"; do sleep 0.02; done
  t1=$(now_ns)
  m_cpu=$(cpu_us "$pid"); m_rss=$(peak_kib "$pid")
  stop "$pid"
  m_rows=$(sqlite3 "$home/data/velotrax.db" "SELECT COUNT(*) FROM messages")

  t2=$(now_ns)
  read -r _ r_cpu r_rss < <("$reference" drain "$home/ref/velotrax.db" "$home/ref/web")
  t3=$(now_ns)
  r_rows=$(sqlite3 "$home/ref/velotrax.db" "SELECT COUNT(*) FROM messages")
  results+=("$n $m_rows $t0 $t1 $m_cpu $m_rss $r_rows $t2 $t3 $r_cpu $r_rss")
  rm -rf "$home"
done

printf '%-7s | %-9s %-9s %-7s %-8s | %-9s %-9s %-7s %-8s | %s\n' files module/s rows µs/file "RSS KiB" ref/s rows µs/file "RSS KiB" "CPU ratio"
for r in "${results[@]}"; do
  read -r n mr t0 t1 mc ms rr t2 t3 rc rs <<<"$r"
  awk -v n="$n" -v mr="$mr" -v t0="$t0" -v t1="$t1" -v mc="$mc" -v ms="$ms" \
      -v rr="$rr" -v t2="$t2" -v t3="$t3" -v rc="$rc" -v rs="$rs" 'BEGIN {
    mt = (t1 - t0) / 1e9; rt = (t3 - t2) / 1e9
    printf "%-7d | %-9.0f %-9d %-7.0f %-8d | %-9.0f %-9d %-7.0f %-8d | %.2f\n",
      n, n / mt, mr, mc / n, ms, n / rt, rr, rc / n, rs, (rc > 0 ? mc / rc : 0) }'
done

if [ "$samples" -gt 0 ]; then
  home=$work/pickup
  make_home "$home"
  pid=$(start_module "$home"); pids+=("$pid")
  sleep 3  # the first ticks: database opened, settings read
  m_lat=$("$files" pickup "$home/data/velotrax.db" "$home/web" "$samples" | percentiles)
  stop "$pid"
  "$reference" watch "$home/ref/velotrax.db" "$home/ref/web" &
  rpid=$!; pids+=("$rpid")
  sleep 0.5
  r_lat=$("$files" pickup "$home/ref/velotrax.db" "$home/ref/web" "$samples" | percentiles)
  stop "$rpid"
  read -r m50 m90 <<<"$m_lat"
  read -r r50 r90 <<<"$r_lat"
  echo "pickup latency, rename to committed row ($samples samples): module p50 ${m50} ms p90 ${m90} ms;" \
       "reference p50 ${r50} ms p90 ${r90} ms"
fi
