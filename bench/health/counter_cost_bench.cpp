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

// One event of class 2 and `type` whose statements write a row of each of
// `tables`.
template <uint16_t type, Table... tables>
void BM_Event(benchmark::State& state) {
  WorkerStats stats;
  for (auto _ : state) {
    stats.CountMessage(2, type);
    (stats.CountRows(tables, 1), ...);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
// A Status event: its interval row, its stock_time row, its membership row.
BENCHMARK(BM_Event<0, Table::kStatus, Table::kTime, Table::kRelations>)->Name("StatusEvent");
// A Call event: its call row, its group row and the group's stock_time row.
BENCHMARK(BM_Event<2, Table::kCalls, Table::kGroups, Table::kTime>)->Name("CallEvent");
// A CDR event: its one row.
BENCHMARK(BM_Event<1, Table::kCdr>)->Name("CdrEvent");

}  // namespace
}  // namespace callsink

BENCHMARK_MAIN();
