#!/usr/bin/env bash
# History benchmark: a year of history for 10 ACD servers, LOADed into the
# tables the collector made, then on the same private MariaDB:
#   - the report (docs/reports.sql) for one server and one day, without
#     the history indexes and with them (added by callsinkctl database
#     add-indexes, whose time is given too), and its EXPLAIN;
#   - one server's data deletion (callsinkctl data delete, rows/s) while the
#     collector applies another server's live stream of 200 events/s, and
#     that stream's receipt-to-commit p99 during the deletion against
#     without it;
#   - retention of half the live server's year (rows/s) against the live
#     insert rate;
#   - bytes per million rows of each history table.
#
#   bench/history/history.sh [BUILD_DIR] [ROWS]
#   e.g. bench/history/history.sh build 50000000     (the full run)
#        bench/history/history.sh build 5000000      (a quick one)
#
# ROWS is the total over the three history tables (default 50,000,000);
# each server gets a tenth of them, spread evenly over 365 days before now.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
rows=${2:-50000000}
bin=$(realpath "$build/bin")
instance=tests/support/mariadb/mariadb-instance.sh
work=$(mktemp -d /tmp/history-bench.XXXXXX)
metrics_port=$((20000 + RANDOM % 20000))
live=127.0.5.1
deleted=127.0.5.2
reported=127.0.5.3
pids=()

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  $instance stop "$work/db" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

$instance start "$work/db" --innodb-buffer-pool-size=2G --innodb-log-file-size=512M >/dev/null
# shellcheck disable=SC1091
source "$work/db/env"
sql() { mariadb -N -B -S "$MARIADB_SOCKET" -u"$MARIADB_ADMIN_USER" -p"$MARIADB_ADMIN_PASSWORD" acd_db "$@"; }
now() { date +%s.%N; }
elapsed() { echo "$(now) - $1" | bc -l; }

export CALLSINK_ROOT=$work/root MYSQL_UNIX_PORT=$MARIADB_SOCKET
mkdir -p "$work/app/logs" "$CALLSINK_ROOT"
cp "$bin/callsink" "$work/app/"
reg=$bin/callsinkreg
service='Software\Orvanta Technologies\ACD Service'
"$reg" add "$service\\Metrics" Endpoint "127.0.0.1:$metrics_port" >/dev/null

# The live ACD server: 200 events/s from now on.
"$bin/acdsim" --listen "$live:0" --groups 10 --agents 100 --seed 1 --rate 200 \
  >"$work/acdsim.out" 2>&1 &
pids+=($!)
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^listening [0-9.]*:\([0-9]*\)$/\1/p' "$work/acdsim.out")
  [[ -n $port ]] && break
  sleep 0.05
done
for value in "ACD_Server $live" "ACD_Port $port" "MYSQL_Server localhost" \
  "MYSQL_User $MARIADB_ADMIN_USER" "MYSQL_Password $MARIADB_ADMIN_PASSWORD"; do
  # shellcheck disable=SC2086
  "$reg" add "$service\\Configs\\Config1" $value >/dev/null
done
"$reg" add "$service\\Configs" ConfigCount 1 >/dev/null

collector=""
start_collector() {
  "$work/app/callsink" >/dev/null 2>&1 &
  collector=$!
  pids+=("$collector")
  for _ in $(seq 300); do
    # Up once the history tables have their indexes (made after the tables).
    [[ $(sql -e "select count(distinct table_name) from information_schema.statistics where table_schema='acd_db' and index_name='Serv_Time'" 2>/dev/null) == 3 ]] && return
    sleep 0.1
  done
}
stop_collector() {
  kill -TERM "$collector"
  wait "$collector" 2>/dev/null || true
}
metric() { curl -s "http://127.0.0.1:$metrics_port/metrics"; }

# The collector makes the tables (and their indexes, on empty tables); the
# history is loaded while it is stopped, without the indexes.
start_collector
stop_collector
sql -e "alter table stock_status drop index if exists Serv_Time, drop index if exists Serv_End"
for table in stock_cdr stock_calls; do sql -e "alter table $table drop index if exists Serv_Time"; done

per_table=$((rows / 3))
year_end=$(date +%s)
echo "Generating $per_table rows per history table for 10 servers over 365 days"
started=$(now)
awk -v n="$per_table" -v end="$year_end" -v dir="$work" 'BEGIN {
  span = 365 * 86400; step = span / n;
  for (i = 0; i < n; i++) {
    t = int(end - span + i * step); server = "127.0.5." (i % 10 + 1);
    group = "G" (i % 10); agent = 1000 + i % 100;
    printf "%s\t%s\t%d\t%d\t%d\t%d\n", server, group, agent, t, t + i % 300, i % 5 > dir "/status.tsv";
    printf "%s\t%s\t%s\t%d\t%d\t+4930%07d\t{%d}\t3\t1\t%d\n", server, group, (i % 10 ? agent : ""), t,
      i % 400, i % 10000000, i, i % 90 > dir "/cdr.tsv";
    printf "%s\t%s\t%d\t%d\tc%d\t%d\t0\n", server, group, agent, t, i, i % 4 > dir "/calls.tsv";
  } }'
load() {
  sql --local-infile=1 -e "set unique_checks=0; load data local infile '$work/$1.tsv' into table $2 ($3)"
}
load status stock_status "Serv_Name, Group_Name, Agent_Name, TimeStart, TimeEnd, Status"
load cdr stock_cdr "Serv_Name, Group_Name, Agent_Name, Timestamp, Call_Dur, Caller_Usur, Call_GUID, Call_State, Close_Reason, Queue_Dur"
load calls stock_calls "Serv_Name, Group_Name, Agent_Name, Timestamp, Call_ID, Call_State, Close_Reason"
rm -f "$work"/*.tsv
echo "Loaded $((per_table * 3)) rows in $(printf %.0f "$(elapsed "$started")") s"

day_from=$((year_end - 2 * 86400))
report() {
  mariadb -B -S "$MARIADB_SOCKET" -u"$MARIADB_ADMIN_USER" -p"$MARIADB_ADMIN_PASSWORD" acd_db \
    --init-command="SET @server = '$reported', @from = $day_from, @until = $((day_from + 86400))" \
    "$@" <docs/reports.sql
}
timed_report() {
  local best=999999 t started
  for _ in 1 2 3; do
    started=$(now)
    report >/dev/null
    t=$(elapsed "$started")
    best=$(echo "if ($t < $best) $t else $best" | bc -l)
  done
  printf %.3f "$best"
}
without=$(timed_report)
echo "Report for one server and one day without the indexes: $without s (best of 3)"
started=$(now)
"$bin/callsinkctl" database add-indexes --config 1
echo "callsinkctl database add-indexes: $(printf %.0f "$(elapsed "$started")") s"
with=$(timed_report)
echo "Report with the indexes: $with s (best of 3): $(echo "$without / $with" | bc) times faster"
sed 's/^WITH /EXPLAIN WITH /' docs/reports.sql >"$work/explain.sql"
mariadb -B -S "$MARIADB_SOCKET" -u"$MARIADB_ADMIN_USER" -p"$MARIADB_ADMIN_PASSWORD" acd_db \
  --init-command="SET @server = '$reported', @from = $day_from, @until = $((day_from + 86400))" \
  <"$work/explain.sql" | awk -F'\t' '$3 ~ /stock_|^s$|^c$/ {print "  EXPLAIN: " $3 " " $4 " " $6 " rows " $9}'

# p99 of the receipt-to-commit histogram between two scrapes: the bound of
# the first bucket holding 99% of the entries applied meanwhile.
buckets() { metric | sed -n 's/^callsink_apply_latency_seconds_bucket{.*le="\([^"]*\)"} \([0-9]*\)$/\1 \2/p'; }
p99() {
  paste <(echo "$1") <(echo "$2") | awk '{d[NR] = $4 - $2; le[NR] = $1} END {
    total = d[NR]; for (i = 1; i <= NR; i++) if (d[i] >= 0.99 * total) { print le[i] " s of " total " entries"; exit } }'
}
start_collector
sleep 20
before=$(buckets)
sleep 60
quiet=$(p99 "$before" "$(buckets)")
echo "Live stream p99 receipt-to-commit without a deletion: $quiet"
gone=$(sql -e "select (select count(*) from stock_status where Serv_Name='$deleted') + (select count(*) from stock_cdr where Serv_Name='$deleted') + (select count(*) from stock_calls where Serv_Name='$deleted')")
before=$(buckets)
started=$(now)
"$bin/callsinkctl" data delete "$deleted" --config 1 --yes >/dev/null
seconds=$(elapsed "$started")
during=$(p99 "$before" "$(buckets)")
echo "Deletion of one server: $gone rows in $(printf %.1f "$seconds") s, $(echo "$gone / $seconds" | bc) rows/s"
echo "Live stream p99 receipt-to-commit during the deletion: $during"
stop_collector

# Retention: half of the live server's year has expired.
expiring=$(sql -e "select (select count(*) from stock_status where Serv_Name='$live' and TimeEnd < $year_end - 182*86400) + (select count(*) from stock_cdr where Serv_Name='$live' and Timestamp < $year_end - 182*86400) + (select count(*) from stock_calls where Serv_Name='$live' and Timestamp < $year_end - 182*86400)")
"$reg" add "$service" RetentionDays 182 >/dev/null
written() { metric | awk '/^callsink_rows_written_total/ && /stock_(status|cdr|calls)/ {s += $2} END {print s + 0}'; }
start_collector
started=$(now)
inserted_before=$(written)
until grep -q "Retention: " "$work/app/logs/acd_$live.log" 2>/dev/null; do sleep 0.5; done
seconds=$(elapsed "$started")
inserted=$(($(written) - inserted_before))
stop_collector
echo "Retention: $expiring rows in $(printf %.1f "$seconds") s, $(echo "$expiring / $seconds" | bc) rows/s; the live stream inserted $(echo "$inserted / $seconds" | bc) rows/s meanwhile"
grep "Retention: " "$work/app/logs/acd_$live.log" | sed 's/^/  /'

sql -e "select table_name, table_rows, round((data_length + index_length) / table_rows * 1e6 / 1048576), round(index_length / table_rows * 1e6 / 1048576) from information_schema.tables where table_schema='acd_db' and table_name in ('stock_status','stock_cdr','stock_calls')" |
  awk '{print "Bytes per million rows, " $1 ": " $3 " MiB (" $4 " MiB of indexes), " $2 " rows"}'
