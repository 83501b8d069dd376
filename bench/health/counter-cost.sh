#!/usr/bin/env bash
# The counters' cost in the collector itself: the ingest benchmark's one
# worker run, alternately with the collector of BUILD_DIR and with one built
# without the counters (CALLSINK_COUNTERS=OFF, in BUILD_DIR-without-counters),
# ROUNDS times each; prints the collector's CPU seconds per 100,000 events of
# every run and the medians.
#
#   bench/health/counter-cost.sh [BUILD_DIR] [EVENTS] [ROUNDS]
#   e.g. bench/health/counter-cost.sh build 50000 3
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
events=${2:-50000}
rounds=${3:-3}
without=$build-without-counters

cmake -S . -B "$without" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCALLSINK_COUNTERS=OFF \
  -DCALLSINK_BUILD_MANAGER=OFF >/dev/null
cmake --build "$without" -j "${JOBS:-2}" --target callsink acdsim callsinkreg >/dev/null

declare -A runs
for ((round = 1; round <= rounds; round++)); do
  for tree in "$build" "$without"; do
    cpu=$(INGEST_LIMIT=no bench/ingest/ingest.sh "$tree" "$events" 1 | awk 'NR == 2 {print $4}')
    echo "round $round $tree: $cpu CPU s per 100,000 events"
    runs[$tree]+="$cpu "
  done
done
median() { tr ' ' '\n' <<<"$1" | grep -v '^$' | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
with=$(median "${runs[$build]}")
bare=$(median "${runs[$without]}")
echo "median with counters:    $with CPU s per 100,000 events"
echo "median without counters: $bare CPU s per 100,000 events"
echo "difference: $(echo "($with - $bare) / $bare * 100" | bc -l | xargs printf '%.2f')%"
