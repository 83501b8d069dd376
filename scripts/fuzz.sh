#!/usr/bin/env bash
# Builds the wire-record fuzzer (clang++ with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it for SECONDS (default 60) on the
# corpus in tests/fuzz/corpus. New inputs it finds go to the build folder,
# not into the repository. Exits non-zero on a finding; the crashing input is
# left in the build folder.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
out=${FUZZ_BUILD:-build-fuzz}
mkdir -p "$out/corpus"

sources=(
  tests/fuzz/wire_fuzzer.cpp
  protocol/acd_header.cpp
  protocol/agent_list.cpp
  protocol/call_body.cpp
  protocol/cdr_body.cpp
  protocol/config_update_body.cpp
  protocol/full_agent_list.cpp
  protocol/group_list.cpp
  protocol/name_table.cpp
  protocol/status_body.cpp
)
clang++ -std=c++20 -g -O1 -I. -Wall -Wextra -Werror \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  "${sources[@]}" -o "$out/wire_fuzzer"

cd "$out"
./wire_fuzzer -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
  corpus ../tests/fuzz/corpus
