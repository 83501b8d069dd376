#!/usr/bin/env bash
# make demo: the whole system at work on a sample call centre.
#
# Builds quietly (the compiler's output goes to a log), starts a private
# MariaDB and two simulated ACD servers (acdsim) whose call centres work a
# morning at 60 times the speed of the wall clock, writes a configuration of
# two servers with callsinkreg, installs and starts the collector as a
# service below a private CALLSINK_ROOT (the standalone backend, as on a host
# without systemd), shows every second what it collects, and after
# DEMO_SECONDS (default 30) or Ctrl+C stops everything it started and prints
# a supervisor's report of what was collected (docs/reports.sql); the
# wallboard (callsinkboard) shows it live meanwhile, on 127.0.0.1:9670
# (BOARD_PORT=N for another port). Leaves nothing running.
#
#   scripts/demo.sh [BUILD_DIR]        (JOBS=N: parallel compile jobs)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${DEMO_SECONDS:-30}
speed=60
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
board_pid=

sql() { MYSQL_PWD=$MARIADB_ADMIN_PASSWORD mariadb --table -S "$MARIADB_SOCKET" -u"$MARIADB_ADMIN_USER" acd_db "$@"; }
value() { MYSQL_PWD=$MARIADB_ADMIN_PASSWORD mariadb -N -B -S "$MARIADB_SOCKET" -u"$MARIADB_ADMIN_USER" acd_db -e "$1" 2>/dev/null || echo 0; }

stop_everything() {
  trap - EXIT INT TERM
  if [[ -n $board_pid ]]; then kill -TERM "$board_pid" 2>/dev/null && wait "$board_pid" || true; fi
  board_pid=
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

bold "Building into $build"
log=$build/demo-build.log
if ! cmake --build "$build" -j "${JOBS:-$(nproc)}" >"$log" 2>&1; then
  tail -n 40 "$log"
  echo "The build failed; its whole output is in $log"
  exit 1
fi
echo "done (the compiler's output is in $log)"

bold "Starting a private MariaDB"
$instance start "$work/db" >/dev/null
# shellcheck disable=SC1091
source "$work/db/env"
echo "listening on $MARIADB_SOCKET (port $MARIADB_PORT)"

bold "Starting two ACD servers (acdsim)"
# The centres start their day at half past nine of a morning at least two
# hours back, so that in a demo of up to two minutes the ACD servers' clocks
# stay behind the collector's: the collector stamps the status it asks for at
# the start with its own clock, and intervals measured from there to a later
# ACD time would come out too long.
acd_start=$(date -d 'today 09:30' +%s)
(( acd_start > $(date +%s) - 7200 )) && acd_start=$(date -d 'yesterday 09:30' +%s)
"$bin/acdsim" --listen "${servers[0]}:0" --scenario tools/acdsim/scenarios/two_floors.scenario \
  --start-time "$acd_start" --speed $speed --seed 1 >"$work/acdsim1.out" 2>&1 &
sims+=($!)
"$bin/acdsim" --listen "${servers[1]}:0" --groups 4 --agents 24 \
  --start-time "$acd_start" --speed $speed --seed 2 >"$work/acdsim2.out" 2>&1 &
sims+=($!)
started=$(date +%s)
echo "Their call centres start at $(date -d "@$acd_start" '+%A %H:%M') and run $speed times as fast as the wall clock"
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

bold "Starting the wallboard (callsinkboard, a user who may only read acd_db)"
MYSQL_PWD=$MARIADB_ADMIN_PASSWORD mariadb -S "$MARIADB_SOCKET" -u"$MARIADB_ADMIN_USER" -e \
  "CREATE USER board@localhost IDENTIFIED BY 'board'; GRANT SELECT ON acd_db.* TO board@localhost"
echo board >"$work/board.password"
board_address=127.0.0.1:${BOARD_PORT:-9670}
MYSQL_UNIX_PORT=$MARIADB_SOCKET "$bin/callsinkboard" --config /dev/null --listen "$board_address" \
  --user board --password-file "$work/board.password" >"$work/board.out" 2>&1 &
board_pid=$!
echo "The wallboard: http://$board_address/ (a large screen: http://$board_address/?screen=wall)"

bold "Collecting for $seconds seconds (Ctrl+C ends it sooner)"
interrupted=0
trap 'interrupted=1' INT
for ((t = 1; t <= seconds && !interrupted; t++)); do
  sleep 1 || true
  acd_now=$((acd_start + speed * ($(date +%s) - started)))
  line=$(printf 't=%2ds  ACD %s' "$t" "$(date -d "@$acd_now" +%H:%M)")
  for i in 1 2; do
    line+=$(printf '  %s %s' "${servers[i - 1]}" "$("$bin/callsinkreg" query "$config_key\\Config$i" Status 2>/dev/null)")
  done
  echo "$line | $(value "$(rows_per_table_sql)")"
done
trap stop_everything EXIT

bold "Stopping the wallboard, the collector and the ACD servers"
kill -TERM "$board_pid" 2>/dev/null && wait "$board_pid" || true
board_pid=
"$app/callsink" -stop
"$app/callsink" -unregister
collector_started=0
for pid in "${sims[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null || true; done
sims=()
acd_end=$((acd_start + speed * ($(date +%s) - started)))
for i in 1 2; do echo "${servers[i - 1]}: $(tail -n 1 "$work/acdsim$i.out")"; done

bold "Rows per table and server"
sql -e "$(rows_per_server_sql)"

bold "Supervisor's report, $(date -d "@$acd_start" +%H:%M) to $(date -d "@$acd_end" +%H:%M) on the ACD servers' clock (docs/reports.sql)"
sql <docs/reports.sql

stop_everything
bold "Done. Nothing is left running. The collector's logs are in $app/logs:"
ls -l "$app/logs"
