#!/usr/bin/env bash
# Raw write capacity: single-row autocommit inserts of the collector's most
# frequent statement (a stock_status row), replayed by statement_replay over
# TCP with 1 and more connections at once, against a single private server
# and, in the same run, the three-node Galera cluster (tests/support/galera)
# once straight into node 1 and once through haproxy. Each connection writes
# the rows of its own ACD server address. Both setups run with the same
# server settings (innodb_flush_log_at_trx_commit=2). Besides rows per second
# (which move with the machine's load) it gives the CPU time the servers
# spent per 1,000 rows (the single server; the three nodes and haproxy),
# which moves far less.
#
#   bench/cluster/cluster-write.sh [BUILD_DIR] [STATEMENTS_PER_CONNECTION] [CONNECTION_COUNTS]
#   e.g. bench/cluster/cluster-write.sh build 5000 "1 4 8"
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
statements=${2:-5000}
connection_counts=${3:-1 4 8}
bin=$(realpath "$build/bin")
instance=tests/support/mariadb/mariadb-instance.sh
cluster=tests/support/galera/galera-cluster.sh
work=$(mktemp -d /tmp/cluster-write.XXXXXX)

cleanup() {
  $instance stop "$work/single" >/dev/null 2>&1 || true
  $cluster stop "$work/cluster" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

$instance start "$work/single" >/dev/null
started=$SECONDS
$cluster start "$work/cluster"
echo "cluster up after $((SECONDS - started)) s"
# shellcheck disable=SC1091
source "$work/cluster/env"
cluster_port=$MARIADB_PORT
node1_port=$GALERA_NODE1_PORT
cluster_pids="$GALERA_NODE1_PID $GALERA_NODE2_PID $GALERA_NODE3_PID $GALERA_HAPROXY_PID"
# shellcheck disable=SC1091
source "$work/single/env"
single_port=$MARIADB_PORT
single_pids=$MARIADB_PID

max_connections=0
for count in $connection_counts; do ((count > max_connections)) && max_connections=$count; done
for ((c = 1; c <= max_connections; c++)); do
  {
    echo "use cluster_bench"
    for ((i = 0; i < statements; i++)); do
      printf 'insert into stock_status ( Serv_Name, Group_Name, Agent_Name, TimeStart, TimeEnd, Status ) values ( "127.0.4.%d", "Group%d", "Agent%d", %d, %d, %d ) \n' \
        "$c" $((i % 10)) $((i % 100)) $((3000000000 + i)) $((3000000005 + i)) $((i % 7))
    done
  } >"$work/stream$c.sql"
done

# shellcheck source-path=SCRIPTDIR/../..
source bench/cluster/bench-lib.sh

# replay PORT CONNECTIONS SERVER_PIDS: prints the rows per second of all
# connections together, from the start of the first to the end of the last,
# and the CPU milliseconds the server processes spent per 1,000 rows.
replay() {
  local port=$1 connections=$2 server_pids=$3 c pids=()
  sql "$port" "drop database if exists cluster_bench; create database cluster_bench;
    create table cluster_bench.stock_status ( ID int(11) auto_increment NOT NULL primary key,
    Serv_Name varchar(64), Group_Name varchar(64), Agent_Name varchar(64),
    TimeStart int(32) UNSIGNED, TimeEnd int(32) UNSIGNED, Status int(32) )"
  local begin end ticks
  # shellcheck disable=SC2086
  ticks=$(cpu_ticks $server_pids)
  begin=$(date +%s.%N)
  for ((c = 1; c <= connections; c++)); do
    "$bin/statement_replay" "127.0.0.1:$port" "$MARIADB_ADMIN_USER" "$MARIADB_ADMIN_PASSWORD" \
      "$work/stream$c.sql" >"$work/replay$c.out" &
    pids+=($!)
  done
  for c in "${pids[@]}"; do wait "$c"; done
  end=$(date +%s.%N)
  # shellcheck disable=SC2086
  ticks=$(($(cpu_ticks $server_pids) - ticks))
  local failed rows
  failed=$(awk '{s += $6} END {print s}' "$work"/replay*.out)
  rows=$(sql "$port" "select count(*) from cluster_bench.stock_status")
  rm -f "$work"/replay*.out
  ((failed == 0)) || echo "$failed statements failed on port $port" >&2
  printf '%.0f %.0f\n' "$(echo "$rows / ($end - $begin)" | bc -l)" \
    "$(echo "$ticks * 1000 / $(getconf CLK_TCK) * 1000 / $rows" | bc -l)"
}

# What the servers spend without any client (haproxy's checks included).
# shellcheck disable=SC2086
idle_single=$(cpu_ticks $single_pids)
# shellcheck disable=SC2086
idle_cluster=$(cpu_ticks $cluster_pids)
sleep 10
# shellcheck disable=SC2086
printf 'idle: single %.0f, cluster %.0f CPU ms per second\n' \
  "$(echo "($(cpu_ticks $single_pids) - $idle_single) * 100 / $(getconf CLK_TCK)" | bc -l)" \
  "$(echo "($(cpu_ticks $cluster_pids) - $idle_cluster) * 100 / $(getconf CLK_TCK)" | bc -l)"
echo "rows per second (server CPU ms per 1,000 rows)"
printf '%-12s %16s %18s %18s %15s\n' connections single "node 1 direct" "via haproxy" haproxy/single
for count in $connection_counts; do
  read -r single single_cpu < <(replay "$single_port" "$count" "$single_pids")
  read -r direct direct_cpu < <(replay "$node1_port" "$count" "$cluster_pids")
  read -r proxied proxied_cpu < <(replay "$cluster_port" "$count" "$cluster_pids")
  printf '%-12s %16s %18s %18s %14.0f%%\n' "$count" "$single ($single_cpu)" \
    "$direct ($direct_cpu)" "$proxied ($proxied_cpu)" "$(echo "100 * $proxied / $single" | bc -l)"
done
uptime
