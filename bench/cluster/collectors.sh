#!/usr/bin/env bash
# Collectors into the cluster: 1, 2, 4 ... collectors (each its own
# CALLSINK_ROOT and configuration, each with its own ACD servers) write
# through haproxy into the three-node Galera cluster of
# tests/support/galera, against one collector on a single private server in
# the same run (same server settings). Every ACD server (acdsim, 10 groups,
# 100 agents) pushes a fixed backlog unpaced, so each collector stores as
# fast as its database takes it. Measures events stored per second, all
# collectors together (from the first stored row until the row counts stand
# still for 2 s), the collectors' CPU seconds per 100,000 events and the
# database servers' CPU milliseconds per 1,000 events (the single server;
# the three nodes and haproxy). Metrics endpoints are off.
#
#   bench/cluster/collectors.sh [BUILD_DIR] [EVENTS_PER_SERVER] [COLLECTOR_COUNTS] [SERVERS_PER_COLLECTOR]
#   e.g. bench/cluster/collectors.sh build 20000 "1 2 4" 1
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
events=${2:-20000}
collector_counts=${3:-1 2 4}
servers_per_collector=${4:-1}
bin=$(realpath "$build/bin")
instance=tests/support/mariadb/mariadb-instance.sh
cluster=tests/support/galera/galera-cluster.sh
work=$(mktemp -d /tmp/cluster-collectors.XXXXXX)
running=()

stop_running() {
  local pid
  for pid in "${running[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${running[@]}"; do wait "$pid" 2>/dev/null || true; done
  running=()
}
cleanup() {
  stop_running
  $instance stop "$work/single" >/dev/null 2>&1 || true
  $cluster stop "$work/cluster" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

$instance start "$work/single" >/dev/null
$cluster start "$work/cluster" >/dev/null
# shellcheck disable=SC1091
source "$work/cluster/env"
cluster_port=$MARIADB_PORT
cluster_pids="$GALERA_NODE1_PID $GALERA_NODE2_PID $GALERA_NODE3_PID $GALERA_HAPROXY_PID"
# shellcheck disable=SC1091
source "$work/single/env"
single_port=$MARIADB_PORT
single_pids=$MARIADB_PID

# shellcheck source-path=SCRIPTDIR/../..
source bench/cluster/bench-lib.sh
# shellcheck source-path=SCRIPTDIR/../..
source scripts/demo-lib.sh

# measure PORT COLLECTORS SERVER_PIDS: prints events/s, the collectors' CPU
# seconds per 100,000 events and the servers' CPU ms per 1,000 events.
measure() {
  local port=$1 collectors=$2 server_pids=$3 c s run=$work/run
  rm -rf "$run"
  sql "$port" "drop database if exists acd_db"
  local apps=()
  for ((c = 1; c <= collectors; c++)); do
    export CALLSINK_ROOT=$run/root$c
    mkdir -p "$run/app$c/logs" "$CALLSINK_ROOT"
    cp "$bin/callsink" "$run/app$c/"
    for ((s = 1; s <= servers_per_collector; s++)); do
      local address=127.0.5.$((c * 10 + s)) out=$run/acdsim$c-$s.out
      "$bin/acdsim" --listen "$address:0" --groups 10 --agents 100 --seed "$((c * 10 + s))" \
        --rate 0 --events "$events" --start-time 3000000000 >"$out" 2>&1 &
      running+=($!)
      add_config "$s" "$address" "$(acdsim_port "$out")" 127.0.0.1 "$MARIADB_ADMIN_USER" \
        "$MARIADB_ADMIN_PASSWORD"
    done
    "$bin/callsinkreg" add "$config_key" ConfigCount "$servers_per_collector"
    "$bin/callsinkreg" add 'Software\Orvanta Technologies\ACD Service\Metrics' Endpoint off
  done
  local ticks first="" last still=0 count=-1 current
  # shellcheck disable=SC2086
  ticks=$(cpu_ticks $server_pids)
  for ((c = 1; c <= collectors; c++)); do
    CALLSINK_ROOT=$run/root$c MYSQL_TCP_PORT=$port "$run/app$c/callsink" >/dev/null 2>&1 &
    apps+=($!)
    running+=($!)
  done
  unset CALLSINK_ROOT
  local rows="select (select count(*) from acd_db.stock_calls) + (select count(*) from acd_db.stock_cdr) + (select count(*) from acd_db.stock_status)"
  while ((still < 10)); do
    sleep 0.2
    current=$(sql "$port" "$rows" 2>/dev/null || echo 0)
    if [[ $current != "$count" ]]; then
      [[ -z $first && $current -gt 0 ]] && first=$(date +%s.%N)
      count=$current
      last=$(date +%s.%N)
      still=0
    else
      ((still += 1))
    fi
  done
  # shellcheck disable=SC2086
  ticks=$(($(cpu_ticks $server_pids) - ticks))
  local collector_ticks
  collector_ticks=$(cpu_ticks "${apps[@]}")
  stop_running
  local stored
  stored=$(cat "$run"/acdsim*.out | sed -n 's/.*requests, \([0-9]*\) events.*/\1/p' |
    awk '{s += $1} END {print s}')
  printf '%.0f %.2f %.0f\n' "$(echo "$stored / ($last - $first)" | bc -l)" \
    "$(echo "$collector_ticks / $(getconf CLK_TCK) * 100000 / $stored" | bc -l)" \
    "$(echo "$ticks * 1000 / $(getconf CLK_TCK) * 1000 / $stored" | bc -l)"
}

echo "$servers_per_collector ACD server(s) per collector, $events events each, pushed unpaced"
printf '%-28s %12s %22s %22s\n' setup events/s "collector CPU s/100k" "server CPU ms/1,000"
read -r rate collector_cpu server_cpu < <(measure "$single_port" 1 "$single_pids")
printf '%-28s %12s %22s %22s\n' "1 collector, single server" "$rate" "$collector_cpu" "$server_cpu"
for count in $collector_counts; do
  read -r rate collector_cpu server_cpu < <(measure "$cluster_port" "$count" "$cluster_pids")
  printf '%-28s %12s %22s %22s\n' "$count collector(s), cluster" "$rate" "$collector_cpu" \
    "$server_cpu"
done
uptime
