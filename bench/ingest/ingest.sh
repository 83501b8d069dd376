#!/usr/bin/env bash
# Ingest benchmark: acdsim pushes a fixed event stream as fast as the
# collector takes it, into a private MariaDB. Measures events stored per
# second (from the rows), the collector's CPU seconds per 100,000 events and
# its peak RSS for 1, 4 and 16 workers, and the bare-statement limit of one
# connection for the same statements (recorded from a run with the general
# log, replayed by statement_replay).
#
#   bench/ingest/ingest.sh [BUILD_DIR] [EVENTS_PER_WORKER] [WORKER_COUNTS]
#   e.g. bench/ingest/ingest.sh build 100000 "1 4 16"
#
# INGEST_LIMIT=no skips the limit (for long runs that only watch the RSS,
# e.g. INGEST_LIMIT=no bench/ingest/ingest.sh build 1000000 1).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
events=${2:-100000}
worker_counts=${3:-1 4 16}
bin=$(realpath "$build/bin")
instance=tests/support/mariadb/mariadb-instance.sh
work=$(mktemp -d /tmp/ingest.XXXXXX)
pids=()

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for db in "$work"/db*; do [[ -d $db ]] && $instance stop "$db" >/dev/null 2>&1 || true; done
  rm -rf "$work"
}
trap cleanup EXIT

sql() { MYSQL_PWD=$MARIADB_ADMIN_PASSWORD mariadb -N -B -S "$MARIADB_SOCKET" -u"$MARIADB_ADMIN_USER" -e "$1"; }
now() { date +%s.%N; }

# run NAME WORKERS [MARIADBD_OPTION...]: one collector run; sets the globals
# rate, cpu_per_100k, peak_rss_mb, stored_events, received_messages.
run() {
  local name=$1 workers=$2
  shift 2
  local dir=$work/$name
  mkdir -p "$dir/app/logs" "$dir/root"
  $instance start "$work/db-$name" "$@" >/dev/null
  # shellcheck disable=SC1090
  source "$work/db-$name/env"
  cp "$bin/callsink" "$dir/app/"
  export CALLSINK_ROOT=$dir/root
  local reg=$bin/callsinkreg key='Software\Orvanta Technologies\ACD Service\Configs'
  local sims=()
  for ((i = 1; i <= workers; i++)); do
    "$bin/acdsim" --listen "127.0.4.$i:0" --groups 10 --agents 100 --seed "$i" --rate 0 \
      --events "$events" --start-time 3000000000 >"$dir/acdsim$i.out" 2>&1 &
    sims+=($!)
    pids+=($!)
  done
  for ((i = 1; i <= workers; i++)); do
    local port=""
    for _ in $(seq 100); do
      port=$(sed -n 's/^listening 127\.0\.4\.[0-9]*:\([0-9]*\)$/\1/p' "$dir/acdsim$i.out")
      [[ -n $port ]] && break
      sleep 0.05
    done
    $reg add "$key\\Config$i" ACD_Server "127.0.4.$i"
    $reg add "$key\\Config$i" ACD_Port "$port"
    $reg add "$key\\Config$i" MYSQL_Server localhost
    $reg add "$key\\Config$i" MYSQL_User "$MARIADB_ADMIN_USER"
    $reg add "$key\\Config$i" MYSQL_Password "$MARIADB_ADMIN_PASSWORD"
  done
  $reg add "$key" ConfigCount "$workers"

  MYSQL_UNIX_PORT=$MARIADB_SOCKET "$dir/app/callsink" >/dev/null 2>&1 &
  local collector=$!
  pids+=($collector)
  # The stream is done when the row counts stop moving for two seconds.
  local count="select (select count(*) from acd_db.stock_calls) + (select count(*) from acd_db.stock_cdr) + (select count(*) from acd_db.stock_status)"
  local last=-1 current first_time="" last_time still=0
  while ((still < 20)); do
    sleep 0.1
    current=$(sql "$count" 2>/dev/null || echo 0)
    if [[ $current != "$last" ]]; then
      [[ -z $first_time && $current -gt 0 ]] && first_time=$(now)
      last=$current
      last_time=$(now)
      still=0
    else
      ((still += 1))
    fi
  done
  local ticks stat
  stat=$(cat "/proc/$collector/stat")
  ticks=$(echo "$stat" | awk '{print $14 + $15}')
  peak_rss_mb=$(awk '/VmHWM/ {printf "%.1f", $2 / 1024}' "/proc/$collector/status")
  kill -HUP "$collector"
  wait "$collector" 2>/dev/null || true
  stored_events=0
  for sim in "${sims[@]}"; do
    kill -TERM "$sim"
    wait "$sim" 2>/dev/null || true
  done
  stored_events=$(cat "$dir"/acdsim*.out | sed -n 's/.*requests, \([0-9]*\) events.*/\1/p' | awk '{s += $1} END {print s}')
  # Every request gets one response: the messages the collector received.
  received_messages=$(cat "$dir"/acdsim*.out | sed -n 's/.* \([0-9]*\) requests, \([0-9]*\) events.*/\1 \2/p' | awk '{s += $1 + $2} END {print s}')
  local seconds
  seconds=$(echo "$last_time - $first_time" | bc -l)
  rate=$(echo "$stored_events / $seconds" | bc -l)
  cpu_per_100k=$(echo "$ticks / $(getconf CLK_TCK) * 100000 / $stored_events" | bc -l)
  unset CALLSINK_ROOT
  # A server left running goes on flushing and purging in the background,
  # which would slow down the runs after it.
  $instance stop "$work/db-$name" >/dev/null
}

printf '%-8s %10s %12s %14s %12s\n' workers events events/s cpu-s/100k peak-rss-MB
for workers in $worker_counts; do
  run "w$workers" "$workers"
  printf '%-8s %10d %12.0f %14.2f %12s\n' "$workers" "$stored_events" "$rate" "$cpu_per_100k" "$peak_rss_mb"
done

[[ ${INGEST_LIMIT:-yes} == no ]] && exit 0

# The limit: the statements one worker's run sent, replayed bare.
run limit-record 1 --general-log=1 --general-log-file="$work/general.log"
recorded_events=$stored_events
# The collector's statements, with its database selections as "use".
sed -n -e 's/^.*[0-9] Query\t//p' -e 's/^.*[0-9] Init DB\t\(.*\)$/use \1/p' "$work/general.log" |
  grep -v -E '^(select @@|select \(select)' >"$work/statements.sql" || true
# replay NAME [PINGS]: replays on a fresh server of its own; prints
# statement_replay's line, then the events per second.
replay() {
  local line name=$1
  shift
  $instance start "$work/db-$name" >/dev/null
  # shellcheck disable=SC1090
  source "$work/db-$name/env"
  line=$("$bin/statement_replay" "$MARIADB_SOCKET" "$MARIADB_ADMIN_USER" "$MARIADB_ADMIN_PASSWORD" \
    "$work/statements.sql" "$@")
  $instance stop "$work/db-$name" >/dev/null
  echo "$line"
  echo "$recorded_events / $(echo "$line" | awk '{print $NF}')" | bc -l
}
# With the collector's pings (one per received message), as the store's
# benchmark measures its bare loop, and with the statements alone.
mapfile -t pinged < <(replay limit-pinged "$received_messages")
mapfile -t unpinged < <(replay limit-unpinged)
run w1-again 1
printf '\nbare-statement limit, one connection, with one ping per message: %s -> %.0f events/s\n' \
  "${pinged[0]}" "${pinged[1]}"
printf 'bare-statement limit, one connection, statements alone: %s -> %.0f events/s\n' \
  "${unpinged[0]}" "${unpinged[1]}"
printf 'collector, one worker: %.0f events/s = %.1f%% of the limit with pings, %.1f%% of the statements alone\n' \
  "$rate" "$(echo "100 * $rate / ${pinged[1]}" | bc -l)" "$(echo "100 * $rate / ${unpinged[1]}" | bc -l)"
