#!/usr/bin/env bash
# make cluster-demo: two collectors, each with its own configuration, write
# the statistics of four ACD servers (two each) through haproxy into a
# three-node Galera cluster; while the rows keep coming, the node haproxy
# sends to is killed (SIGKILL) and brought back.
#
# Starts the cluster (tests/support/galera/galera-cluster.sh), four acdsim
# servers and two collectors as services below two private CALLSINK_ROOTs
# (the standalone backend), prints a line per second (each configuration's
# connection state, each node's state, rows per table), kills the node at
# CLUSTER_DEMO_KILL_AT seconds (default 20), restarts it at
# CLUSTER_DEMO_RESTART_AT (default 30), and after DEMO_SECONDS (default 90)
# or Ctrl+C stops everything it started, compares every table on the three
# nodes and removes the cluster. Leaves nothing running; the collectors' logs
# stay.
#
# The collectors journal what they receive: the events that arrive while a
# collector reconnects after the kill are written once it is back.
#
#   scripts/cluster-demo.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${DEMO_SECONDS:-90}
kill_at=${CLUSTER_DEMO_KILL_AT:-20}
restart_at=${CLUSTER_DEMO_RESTART_AT:-30}
bin=$(realpath "$build/bin")
cluster=tests/support/galera/galera-cluster.sh
work=$(mktemp -d /tmp/callsink-cluster-demo.XXXXXX)
# shellcheck source-path=SCRIPTDIR
source scripts/demo-lib.sh
servers=(127.0.0.2 127.0.0.3 127.0.0.4 127.0.0.5)
sims=()
collectors=()
restart_pid=""
restarted=0
metrics_key='Software\Orvanta Technologies\ACD Service\Metrics'

value() {
  MYSQL_PWD=$MARIADB_ADMIN_PASSWORD mariadb --no-defaults -N -B --connect-timeout=1 "$@" \
    -u"$MARIADB_ADMIN_USER" acd_db 2>/dev/null
}
through_haproxy() { value -h 127.0.0.1 -P "$MARIADB_PORT" -e "$1"; }
on_node() {
  local socket=GALERA_NODE$1_SOCKET
  value -S "${!socket}" -e "$2"
}

stop_collectors() {
  local c
  for c in "${collectors[@]}"; do
    CALLSINK_ROOT=$work/root$c "$work/app$c/callsink" -stop >/dev/null || true
    CALLSINK_ROOT=$work/root$c "$work/app$c/callsink" -unregister >/dev/null || true
  done
  collectors=()
}

stop_everything() {
  trap - EXIT INT TERM
  stop_collectors
  local pid
  for pid in "${sims[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  sims=()
  if [[ -n $restart_pid ]]; then wait "$restart_pid" 2>/dev/null || true; fi
  "$cluster" stop "$work/cluster" >/dev/null 2>&1 || true
  rm -rf "$work/cluster" "$work"/root*
}
trap stop_everything EXIT

bold "Starting a three-node Galera cluster behind haproxy"
started=$SECONDS
"$cluster" start "$work/cluster"
[[ -f $work/cluster/env ]] || { echo "the cluster did not start (see above)"; exit 1; }
# shellcheck disable=SC1091
source "$work/cluster/env"
echo "up after $((SECONDS - started)) s; haproxy on 127.0.0.1:$MARIADB_PORT"
"$cluster" status "$work/cluster"

bold "Starting four ACD servers (acdsim)"
"$bin/acdsim" --listen "${servers[0]}:0" --scenario tools/acdsim/scenarios/two_floors.scenario \
  --rate 15 --seed 1 >"$work/acdsim1.out" 2>&1 &
sims+=($!)
for i in 2 3 4; do
  "$bin/acdsim" --listen "${servers[i - 1]}:0" --groups 4 --agents 24 --rate 20 --seed "$i" \
    >"$work/acdsim$i.out" 2>&1 &
  sims+=($!)
done
ports=()
for i in 1 2 3 4; do
  ports+=("$(acdsim_port "$work/acdsim$i.out")")
  echo "ACD server ${servers[i - 1]} on port ${ports[i - 1]}"
done

bold "Two collectors, two ACD servers each, writing through haproxy"
for c in 1 2; do
  export CALLSINK_ROOT=$work/root$c
  for n in 1 2; do
    i=$((2 * c - 2 + n))
    add_config "$n" "${servers[i - 1]}" "${ports[i - 1]}" 127.0.0.1 "$MARIADB_ADMIN_USER" \
      "$MARIADB_ADMIN_PASSWORD"
  done
  "$bin/callsinkreg" add "$config_key" ConfigCount 2
  # Each collector serves its metrics on a port of its own (the default,
  # 9661, would clash).
  metrics=127.0.0.1:$((9661 + c))
  "$bin/callsinkreg" add "$metrics_key" Endpoint "$metrics"
  install_collector "$work/app$c"
  # MYSQL_Server 127.0.0.1 with no port: the client library takes MYSQL_TCP_PORT.
  MYSQL_TCP_PORT=$MARIADB_PORT "$work/app$c/callsink" -start
  collectors+=("$c")
  echo "collector $c (CALLSINK_ROOT=$CALLSINK_ROOT, metrics on http://$metrics/metrics):" \
    "${servers[2 * c - 2]} and ${servers[2 * c - 1]}"
done
unset CALLSINK_ROOT

# "collector 1: 127.0.0.2 Y-Y 127.0.0.3 Y-Y"
collector_states() {
  local c n line=""
  for c in 1 2; do
    line+="  c$c:"
    for n in 1 2; do
      line+=" $(CALLSINK_ROOT=$work/root$c "$bin/callsinkreg" query "$config_key\\Config$n" Status \
        2>/dev/null)"
    done
  done
  echo "$line"
}

# "node1 Synced* node2 Synced node3 down": * marks the node haproxy sends to.
node_states() {
  "$cluster" status "$work/cluster" | awk '
    /^node/ { split($3, s, "="); state[$1] = s[2]; order[++n] = $1 }
    /sends to/ { target = $NF }
    END { for (i = 1; i <= n; i++) printf "%s %s%s ", order[i], state[order[i]], order[i] == target ? "*" : "" }'
}

bold "Collecting for $seconds seconds; node kill at ${kill_at} s, restart at ${restart_at} s (Ctrl+C ends it sooner)"
interrupted=0
trap 'interrupted=1' INT
victim=""
began=$(date +%s)
for ((t = 1; t <= seconds && !interrupted; t++)); do
  # A line per second of wall-clock time; when a line took longer, the next
  # one is for the second it is now.
  wait_seconds=$(echo "$began + $t - $(date +%s.%N)" | bc -l)
  if [[ $wait_seconds != -* ]]; then sleep "$wait_seconds" || true; fi
  if (($(date +%s) - began > t)); then t=$(($(date +%s) - began)); fi
  if [[ -z $victim ]] && ((t >= kill_at)); then
    target=$(through_haproxy 'select @@wsrep_node_name' || true)
    if [[ $target == node[1-3] ]]; then
      victim=$target
      "$cluster" kill-node "$work/cluster" "${victim#node}"
      echo ">>> t=${t}s: SIGKILL to $victim, the node haproxy sends to"
      killed_at=$t
    fi
  fi
  if [[ -n $victim ]] && ((!restarted && t >= restart_at)); then
    "$cluster" restart-node "$work/cluster" "${victim#node}" >"$work/restart.log" 2>&1 &
    restart_pid=$!
    restarted=1
    echo ">>> t=${t}s: restarting $victim"
  fi
  if [[ -n $restart_pid ]] && ! kill -0 "$restart_pid" 2>/dev/null; then
    if wait "$restart_pid"; then
      how=SST
      grep -q "IST completed on joiner" "$work/cluster/$victim/mariadbd.log" && how=IST
      echo ">>> t=${t}s: $victim Synced again by $how, $((t - killed_at)) s after the kill"
    else
      echo ">>> t=${t}s: $victim did not rejoin:"
      cat "$work/restart.log"
    fi
    restart_pid=""
  fi
  echo "t=${t}s$(collector_states) | $(node_states)| $(through_haproxy "$(rows_per_table_sql)" || echo 'no answer')"
done
trap stop_everything EXIT

bold "Stopping the collectors and the ACD servers"
stop_collectors
for pid in "${sims[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null || true; done
sims=()
tail -q -n 1 "$work"/acdsim*.out
if [[ -n $restart_pid ]]; then
  echo "waiting for $victim to rejoin"
  wait "$restart_pid" || cat "$work/restart.log"
  restart_pid=""
fi

bold "Every table on every node (CHECKSUM TABLE, after each node has applied all it received)"
# shellcheck disable=SC1091
source "$work/cluster/env"
equal=yes
for table in "${demo_tables[@]}"; do
  line=$(printf '%-16s' "$table")
  sums=()
  for node in 1 2 3; do
    sums+=("$(on_node "$node" "set session wsrep_sync_wait = 1; checksum table $table" |
      awk '{print $2}')")
    line+=$(printf '  node%d %12s' "$node" "${sums[node - 1]:-down}")
  done
  [[ ${sums[0]} == "${sums[1]}" && ${sums[1]} == "${sums[2]}" && -n ${sums[0]} ]] || equal=no
  echo "$line"
done
echo "equal on all three nodes: $equal"

bold "Rows per table and server"
MYSQL_PWD=$MARIADB_ADMIN_PASSWORD mariadb --no-defaults --table -h 127.0.0.1 -P "$MARIADB_PORT" \
  -u"$MARIADB_ADMIN_USER" acd_db -e "$(rows_per_server_sql)"

stop_everything
bold "Done. Nothing is left running and the cluster is removed. The collectors' logs are in:"
ls -d "$work"/app*/logs
