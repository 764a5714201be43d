#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the test suite, on a free loopback port.
#   source scripts/pg-cluster.sh; pg_cluster_start; ...; pg_cluster_stop
# pg_cluster_start exports DEXWEB_TEST_PG_ODBC, the ODBC connection clauses of the test database.

pg_cluster_start() {
  local bin; bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
  local owner=postgres
  id "$owner" >/dev/null 2>&1 || owner=nobody
  PG_CLUSTER_DIR=$(mktemp -d /tmp/dexweb-pg.XXXXXX)
  chown "$owner" "$PG_CLUSTER_DIR"
  PG_CLUSTER_BIN=$bin
  PG_CLUSTER_OWNER=$owner
  as_owner() { if [ "$(id -u)" -eq 0 ]; then runuser -u "$owner" -- "$@"; else "$@"; fi; }
  as_owner "$bin/initdb" -D "$PG_CLUSTER_DIR/data" -U dexweb --auth=trust -E UTF8 >/dev/null
  # Another cluster may take a port between the look and the bind: the next one is tried.
  local port=55431 tries=0
  while :; do
    port=$((port + 1))
    while (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
    as_owner "$bin/pg_ctl" -D "$PG_CLUSTER_DIR/data" -l "$PG_CLUSTER_DIR/log" -w -t 30 \
      -o "-p $port -k $PG_CLUSTER_DIR -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null && break
    tries=$((tries + 1))
    if ((tries >= 5)); then tail -n 5 "$PG_CLUSTER_DIR/log" >&2; return 1; fi
  done
  as_owner "$bin/createdb" -h 127.0.0.1 -p "$port" -U dexweb dexweb_test
  local driver; driver=$(ls /usr/lib/*/odbc/psqlodbcw.so 2>/dev/null | head -n 1)
  export DEXWEB_TEST_PG_ODBC="Driver=$driver;Server=127.0.0.1;Port=$port;Database=dexweb_test;Uid=dexweb;Pwd=;"
  export DEXWEB_TEST_PG_PORT=$port
}

pg_cluster_stop() {
  [ -n "${PG_CLUSTER_DIR:-}" ] || return 0
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u "$PG_CLUSTER_OWNER" -- "$PG_CLUSTER_BIN/pg_ctl" -D "$PG_CLUSTER_DIR/data" -m immediate stop >/dev/null 2>&1 || true
  else
    "$PG_CLUSTER_BIN/pg_ctl" -D "$PG_CLUSTER_DIR/data" -m immediate stop >/dev/null 2>&1 || true
  fi
  rm -rf "$PG_CLUSTER_DIR"
  PG_CLUSTER_DIR=""
}
