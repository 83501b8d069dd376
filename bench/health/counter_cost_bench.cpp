// The counting the collector does per event, as it does it: the message
// counter with its time and minute slot, then the rows of the event's
// statements. Built twice from the same source, as counter_cost_bench and
// as counter_cost_bench_without (CALLSINK_NO_COUNTERS, every writer empty),
// so that the difference of the two is the counters' cost per event.
#include <benchmark/benchmark.h>

#include "health/worker_stats.h"

namespace callsink {
namespace {

using Table = WorkerStats::Table;

// A Status event: its interval row, its stock_time row, its membership row.
void BM_StatusEvent(benchmark::State& state) {
  WorkerStats stats;
  for (auto _ : state) {
    stats.CountMessage(2, 0);
    stats.CountRows(Table::kStatus, 1);
    stats.CountRows(Table::kTime, 1);
    stats.CountRows(Table::kRelations, 1);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StatusEvent);

// A Call event: its call row, its group row and the group's stock_time row.
void BM_CallEvent(benchmark::State& state) {
  WorkerStats stats;
  for (auto _ : state) {
    stats.CountMessage(2, 2);
    stats.CountRows(Table::kCalls, 1);
    stats.CountRows(Table::kGroups, 1);
    stats.CountRows(Table::kTime, 1);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CallEvent);

// A CDR event: its one row.
void BM_CdrEvent(benchmark::State& state) {
  WorkerStats stats;
  for (auto _ : state) {
    stats.CountMessage(2, 1);
    stats.CountRows(Table::kCdr, 1);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CdrEvent);

}  // namespace
}  // namespace callsink

BENCHMARK_MAIN();
