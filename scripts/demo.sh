#!/usr/bin/env bash
# make demo: the whole system at work on a sample call centre.
#
# Starts a private MariaDB and two simulated ACD servers (acdsim), writes a
# configuration of two servers with callsinkreg, installs and starts the
# collector as a service below a private CALLSINK_ROOT (the standalone
# backend, as on a host without systemd), shows every second what it
# collects, and after DEMO_SECONDS (default 30) or Ctrl+C stops everything it
# started and prints what was collected. Leaves nothing running.
#
#   scripts/demo.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${DEMO_SECONDS:-30}
bin=$(realpath "$build/bin")
instance=tests/support/mariadb/mariadb-instance.sh
work=$(mktemp -d /tmp/callsink-demo.XXXXXX)
app=$work/app
export CALLSINK_ROOT=$work/root
# shellcheck source-path=SCRIPTDIR
source scripts/demo-lib.sh
servers=(127.0.0.2 127.0.0.3)
sims=()
collector_started=0

sql() { mariadb --table -S "$MARIADB_SOCKET" -u"$MARIADB_ADMIN_USER" -p"$MARIADB_ADMIN_PASSWORD" acd_db -e "$1"; }
value() { mariadb -N -B -S "$MARIADB_SOCKET" -u"$MARIADB_ADMIN_USER" -p"$MARIADB_ADMIN_PASSWORD" acd_db -e "$1" 2>/dev/null || echo 0; }

stop_everything() {
  trap - EXIT INT TERM
  if ((collector_started)); then
    "$app/callsink" -stop
    "$app/callsink" -unregister
  fi
  for pid in "${sims[@]}"; do
    kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  done
  [[ -d $work/db ]] && $instance stop "$work/db" >/dev/null 2>&1 || true
  rm -rf "$work/db" "$work/root"
}
trap stop_everything EXIT

bold "Starting a private MariaDB"
$instance start "$work/db" >/dev/null
# shellcheck disable=SC1091
source "$work/db/env"
echo "listening on $MARIADB_SOCKET (port $MARIADB_PORT)"

bold "Starting two ACD servers (acdsim)"
"$bin/acdsim" --listen "${servers[0]}:0" --scenario tools/acdsim/scenarios/two_floors.scenario \
  --rate 15 --seed 1 >"$work/acdsim1.out" 2>&1 &
sims+=($!)
"$bin/acdsim" --listen "${servers[1]}:0" --groups 4 --agents 24 --rate 25 --seed 2 \
  >"$work/acdsim2.out" 2>&1 &
sims+=($!)
ports=()
for i in 1 2; do
  ports+=("$(acdsim_port "$work/acdsim$i.out")")
  echo "ACD server ${servers[i - 1]} on port ${ports[i - 1]}"
done

bold "Writing the configuration with callsinkreg (CALLSINK_ROOT=$CALLSINK_ROOT)"
for i in 1 2; do
  add_config "$i" "${servers[i - 1]}" "${ports[i - 1]}" localhost "$MARIADB_ADMIN_USER" \
    "$MARIADB_ADMIN_PASSWORD"
done
"$bin/callsinkreg" add "$config_key" ConfigCount 2
"$bin/callsinkreg" export | grep -v Password

bold "Installing and starting the collector as the service \"ACD Service\""
install_collector "$app"
# The collector reaches the private server as "localhost" through its socket.
MYSQL_UNIX_PORT=$MARIADB_SOCKET "$app/callsink" -start
collector_started=1
echo "To watch it in the manager meanwhile: CALLSINK_ROOT=$CALLSINK_ROOT $app/callsinkmanager"

bold "Collecting for $seconds seconds (Ctrl+C ends it sooner)"
interrupted=0
trap 'interrupted=1' INT
for ((t = 1; t <= seconds && !interrupted; t++)); do
  sleep 1 || true
  line=$(printf 't=%2ds' "$t")
  for i in 1 2; do
    line+=$(printf '  %s %s' "${servers[i - 1]}" "$("$bin/callsinkreg" query "$config_key\\Config$i" Status 2>/dev/null)")
  done
  echo "$line | $(value "$(rows_per_table_sql)")"
done
trap stop_everything EXIT

bold "Stopping the collector and the ACD servers"
"$app/callsink" -stop
"$app/callsink" -unregister
collector_started=0
for pid in "${sims[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null || true; done
sims=()
tail -n 1 "$work"/acdsim*.out

bold "Rows per table and server"
sql "$(rows_per_server_sql)"

bold "Current state of the agents of ${servers[0]}"
sql "select r.Group_Name, r.Agent_Name, a.Agent_FullName, r.Status, from_unixtime(r.Timestamp) as since
     from stock_relations r left join stock_agents a on a.Serv_Name = r.Serv_Name and a.Agent_Name = r.Agent_Name
     where r.Serv_Name = '${servers[0]}' order by r.Group_Name, r.Agent_Name"

bold "The last status intervals"
sql "select Serv_Name, Group_Name, Agent_Name, Status, TimeEnd - TimeStart as seconds, from_unixtime(TimeEnd) as ended
     from stock_status order by ID desc limit 8"

bold "Calls and CDRs of group Sales on ${servers[0]}"
sql "select Agent_Name, from_unixtime(Timestamp) as time, Call_ID, Call_State, Close_Reason from stock_calls
     where Serv_Name = '${servers[0]}' and Group_Name = 'Sales' order by ID desc limit 6"
sql "select Agent_Name, from_unixtime(Timestamp) as time, Caller_Usur, Call_Dur, Queue_Dur, Close_Reason from stock_cdr
     where Serv_Name = '${servers[0]}' and Group_Name = 'Sales' order by ID desc limit 6"
sql "select Group_Name, Calls_inQueue from stock_groups where Serv_Name = '${servers[0]}'"

stop_everything
bold "Done. Nothing is left running. The collector's logs are in $app/logs:"
ls -l "$app/logs"
